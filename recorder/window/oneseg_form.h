#pragma once
// The recorder's main window: one tab per enabled tuner with its identity,
// channel, status and packet count, the recording folder, the menus, and the
// three timers that drive the engine. The window only shows and forwards;
// discovery, supervision, recording and settings live in the engine.
#include <QMainWindow>
#include <QString>
#include <QTimer>
#include <functional>
#include <set>
#include <string>

#include "engine.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QTabWidget;
class QWidget;

namespace brannock {

class TDaysForm;
class TTrayIcon;

// What the window needs from the desktop, replaced in tests.
struct WindowDesktop {
  // Modal folder chooser starting at `start`; empty when cancelled.
  std::function<QString(QWidget* parent, const QString& start)> ChooseFolder;
  std::function<bool()> TrayAvailable;
  // A notification through the desktop's notification service, used while
  // the tray icon is not shown.
  std::function<void(const QString& title, const QString& text)> Notify;
};

WindowDesktop RealDesktop();

class TOneSegForm : public QMainWindow, public EngineListener {
  Q_OBJECT
 public:
  TOneSegForm(RecorderEngine& engine, WindowDesktop desktop);
  ~TOneSegForm() override;

  // Start-up after construction: settings, channel list, first discovery.
  void FormCreate(const std::string& settingsFolder);

  TOneSegTuner* CurrentTuner = nullptr;

  QTabWidget* TunerTab;
  QWidget* TabPanel;
  QLabel* Label1;
  QLineEdit* TunerIDEdit;
  QLabel* Label2;
  QComboBox* ChannelCombo;
  QLabel* Label3;
  QLineEdit* StatusEdit;
  QLineEdit* PacketCountEdit;
  QLabel* TSFolderLabel;
  QMenu* F1;
  QAction* X1;
  QMenu* R1;
  QAction* R2;
  QAction* D1;
  QMenu* PopupMenu1;
  QAction* N1;
  QAction* X2;
  QTimer ProbeTimer;
  QTimer RecordTimer;
  QTimer WindowUpdateTimer;
  TTrayIcon* TrayIcon1;
  TDaysForm* DaysForm;

  void FillChannelList();
  void TunerTabChange();
  void UpdateTunerView();
  void WindowUpdateTimerTimer();
  void ChannelComboChange(int itemIndex);
  void X1Click();
  void R2Click();
  void D1Click();
  void N1Click();

  // EngineListener
  void TunerAdded(TOneSegTuner& tuner) override;
  void TunerRemoving(TOneSegTuner& tuner) override;
  void TunerListChanged() override;
  void TunerViewRefresh() override;
  void TSFolderChanged(const std::string& folder) override;
  void SettingsWriteFailed(const std::string& path) override;
  void Log(const std::string& line) override;
  void Notification(const std::string& text) override;
  void RetentionHeld(const std::string& text) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void CreateMenus();
  void CreateTimers();
  TOneSegTuner* SelectedTuner() const;
  void PlaceTabPanel();
  void ShowWriteFailure(const QString& path);
  void ShowBottomLine();

  RecorderEngine& Engine;
  WindowDesktop Desktop;
  // Paths whose failed-write message is on screen, so that a burst of failed
  // writes shows one message per file.
  std::set<QString> m_openFailures;
  // The recording folder's line, and what takes its place while retention is held.
  QString m_folderLine;
  QString m_retentionNotice;
};

}  // namespace brannock
