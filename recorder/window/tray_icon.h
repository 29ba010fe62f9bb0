#pragma once
// The notification-area icon of the recorder: shown only while the main window
// is minimised (the window leaves the taskbar meanwhile), the tray menu on a
// press of either button, a double-click restores the window.
#include <QObject>
#include <QPoint>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>

class QMenu;
class QWidget;

namespace brannock {

class TTrayIcon : public QObject {
  Q_OBJECT
 public:
  using TrayAvailable = std::function<bool()>;

  // `window` is watched for minimise and restore; `popup` is the tray menu.
  // `trayAvailable` tells whether the desktop has a notification area.
  TTrayIcon(QWidget* window, QMenu* popup, TrayAvailable trayAvailable);

  QString TipHelp;
  bool Minimized = true;
  bool HideOnTaskBar = true;

  void ApplicationMinimized();
  void ApplicationRestored();
  // Run periodically. A notification area that goes away gives the window its
  // taskbar entry back (else it could never be restored); when one appears
  // again while the window is minimised, the window moves back into it. A
  // quick restart of the area's host is followed by QSystemTrayIcon itself.
  void CheckTray();

  // A message beside the icon; false (nothing shown) while the icon is away.
  bool ShowMessage(const QString& title, const QString& text);

  bool IconShown() const { return m_shown; }
  QSystemTrayIcon& Icon() { return m_icon; }
  // Left press and double-click (the right press opens the icon's context
  // menu, which is `popup`); tests drive the icon through it.
  void Activate(QSystemTrayIcon::ActivationReason reason);

 signals:
  void DblClick();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowIcon();
  void HideIcon();
  void PopupMenu();

  QWidget* m_window;
  QMenu* m_popup;
  TrayAvailable m_trayAvailable;
  QSystemTrayIcon m_icon;
  bool m_shown = false;
  bool m_trayWasAvailable = false;
  // A left press opens the menu only once it cannot be the first half of a
  // double-click, so a double-click restores without a menu in the way.
  QTimer m_leftPressTimer;
  QPoint m_pressPosition;
};

}  // namespace brannock
