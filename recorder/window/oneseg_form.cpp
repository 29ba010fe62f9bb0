#include "oneseg_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "days_form.h"
#include "desktop_notice.h"
#include "settings.h"
#include "tray_icon.h"
#include "form_style.h"

namespace brannock {

namespace {

constexpr int kClientWidth = 425;
constexpr int kClientHeight = 128;

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

// An edit in the colour of a button face, as the window's display fields are.
QLineEdit* MakeField(int left, int top, int width, int height, bool readOnly, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(left, top, width, height);
  edit->setReadOnly(readOnly);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  edit->setPalette(palette);
  return edit;
}

void SetTextIfDiffers(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addFile(QStringLiteral(":/brannock/brannock-%1.png").arg(size));
  icon.addFile(QStringLiteral(":/brannock/brannock.svg"));
  return icon;
}

QString TabCaption(const std::string& friendlyName) {
  return Text(friendlyName).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

WindowDesktop RealDesktop() {
  WindowDesktop desktop;
  desktop.ChooseFolder = [](QWidget* parent, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("保存フォルダの指定"), start,
                                             QFileDialog::ShowDirsOnly);
  };
  desktop.TrayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
  desktop.Notify = [](const QString& title, const QString& text) {
    SendDesktopNotice(QDBusConnection::sessionBus(), title, text);
  };
  return desktop;
}

TOneSegForm::TOneSegForm(RecorderEngine& engine, WindowDesktop desktop)
    : Engine(engine), Desktop(std::move(desktop)) {
  setWindowTitle(QStringLiteral("Tollgarth"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(ProgramIcon());  // also the notification-area icon
  setFont(RecorderFont());
  CreateControls();
  CreateMenus();
  CreateTimers();
  DaysForm = new TDaysForm(this);
  TrayIcon1 = new TTrayIcon(this, PopupMenu1, Desktop.TrayAvailable);
  TrayIcon1->TipHelp = QStringLiteral("Tollgarth");
  connect(TrayIcon1, &TTrayIcon::DblClick, this, &TOneSegForm::N1Click);
  Engine.SetListener(this);
}

TOneSegForm::~TOneSegForm() {
  ProbeTimer.stop();
  RecordTimer.stop();
  WindowUpdateTimer.stop();
  // The tabs go with the window; the engine lets go of the devices.
  Engine.SetListener(nullptr);
  CurrentTuner = nullptr;
  Engine.FormDestroy();
}

void TOneSegForm::CreateControls() {
  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);
  layout()->setSizeConstraint(QLayout::SetFixedSize);  // fixed border

  TunerTab = new QTabWidget(client);
  TunerTab->setGeometry(0, 0, kClientWidth, 106);
  TunerTab->setUsesScrollButtons(true);
  connect(TunerTab, &QTabWidget::currentChanged, this, &TOneSegForm::TunerTabChange);

  TabPanel = new QWidget(TunerTab);
  TabPanel->hide();
  Label1 = MakeLabel(QStringLiteral("TunerID"), 8, 16, TabPanel);
  TunerIDEdit = MakeField(56, 12, 113, 20, true, TabPanel);
  Label2 = MakeLabel(QStringLiteral("Channel"), 184, 16, TabPanel);
  ChannelCombo = new QComboBox(TabPanel);
  ChannelCombo->setGeometry(232, 12, 129, 20);
  ChannelCombo->setMaxVisibleItems(16);
  // Only a choice by the user: selecting an item from code is no change.
  connect(ChannelCombo, &QComboBox::activated, this, &TOneSegForm::ChannelComboChange);
  Label3 = MakeLabel(QStringLiteral("Status"), 8, 48, TabPanel);
  StatusEdit = MakeField(56, 44, 233, 20, true, TabPanel);
  PacketCountEdit = MakeField(296, 44, 65, 20, false, TabPanel);

  TSFolderLabel = new QLabel(client);
  TSFolderLabel->setGeometry(0, 112, kClientWidth, kClientHeight - 112);
  m_folderLine = Text(TSFolderLabelText(std::string()));
  TSFolderLabel->setText(m_folderLine);
}

void TOneSegForm::CreateMenus() {
  F1 = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
  X1 = F1->addAction(QStringLiteral("終了(&X)"), this, &TOneSegForm::X1Click);
  R1 = menuBar()->addMenu(QStringLiteral("録画設定(&R)"));
  R2 = R1->addAction(QStringLiteral("保存フォルダの指定(&R)"), this, &TOneSegForm::R2Click);
  D1 = R1->addAction(QStringLiteral("保存日数指定(&D)"), this, &TOneSegForm::D1Click);

  PopupMenu1 = new QMenu(this);
  N1 = PopupMenu1->addAction(QStringLiteral("ウインドウ表示(&V)"), this, &TOneSegForm::N1Click);
  X2 = PopupMenu1->addAction(QStringLiteral("終了(&X)"), this, &TOneSegForm::X1Click);
}

void TOneSegForm::CreateTimers() {
  ProbeTimer.setInterval(1000);
  RecordTimer.setInterval(50);
  WindowUpdateTimer.setInterval(1000);
  connect(&ProbeTimer, &QTimer::timeout, this, [this] { Engine.ProbeTimerTimer(); });
  connect(&RecordTimer, &QTimer::timeout, this, [this] { Engine.RecordTimerTimer(); });
  connect(&WindowUpdateTimer, &QTimer::timeout, this, &TOneSegForm::WindowUpdateTimerTimer);
}

void TOneSegForm::FormCreate(const std::string& settingsFolder) {
  Engine.LoadSettings(settingsFolder);
  CurrentTuner = nullptr;
  FillChannelList();
  Engine.ScanTuners();
  // They fire once the event loop runs, and keep firing through modal
  // dialogs and while the window is in the notification area.
  ProbeTimer.start();
  RecordTimer.start();
  WindowUpdateTimer.start();
}

void TOneSegForm::FillChannelList() {
  ChannelCombo->clear();
  for (const std::string& item : ChannelListItems(Engine.StationList)) ChannelCombo->addItem(Text(item));
  TunerTabChange();
}

TOneSegTuner* TOneSegForm::SelectedTuner() const {
  const int index = TunerTab->currentIndex();
  if (index < 0) return nullptr;
  return reinterpret_cast<TOneSegTuner*>(TunerTab->tabBar()->tabData(index).value<quintptr>());
}

void TOneSegForm::TunerTabChange() {
  CurrentTuner = SelectedTuner();
  if (CurrentTuner) {
    const int item = ItemForChannel(CurrentTuner->Channel);
    if (item >= 0 && ChannelCombo->currentIndex() != item) ChannelCombo->setCurrentIndex(item);
  }
  UpdateTunerView();
}

void TOneSegForm::UpdateTunerView() {
  CurrentTuner = SelectedTuner();
  if (!CurrentTuner) {
    TabPanel->hide();
    return;
  }
  SetTextIfDiffers(TunerIDEdit, Text(CurrentTuner->TunerID));
  SetTextIfDiffers(StatusEdit, Text(CurrentTuner->Status));
  SetTextIfDiffers(PacketCountEdit, QString::number(CurrentTuner->PacketCount));
  PlaceTabPanel();
  TabPanel->show();
}

// One panel serves every tab: it moves into the page of the selected tab.
void TOneSegForm::PlaceTabPanel() {
  QWidget* page = TunerTab->currentWidget();
  if (page && TabPanel->parentWidget() != page) page->layout()->addWidget(TabPanel);
}

void TOneSegForm::WindowUpdateTimerTimer() {
  UpdateTunerView();
  TrayIcon1->CheckTray();
}

void TOneSegForm::ChannelComboChange(int itemIndex) {
  Engine.ChannelComboChange(SelectedTuner(), itemIndex);
  UpdateTunerView();
}

void TOneSegForm::X1Click() { QCoreApplication::quit(); }

void TOneSegForm::R2Click() {
  const QString folder = Desktop.ChooseFolder(this, QDir::currentPath());
  if (!folder.isEmpty()) Engine.SetTSFolder(folder.toStdString());
}

void TOneSegForm::D1Click() {
  DaysForm->SetStationCount(Engine.EnabledTunerCount());
  DaysForm->SetDays(Engine.RecDays);
  if (DaysForm->exec() == QDialog::Accepted) Engine.SetRecDays(DaysForm->Days);
}

void TOneSegForm::N1Click() {
  showNormal();
  TrayIcon1->ApplicationRestored();
}

void TOneSegForm::closeEvent(QCloseEvent* event) {
  event->accept();
  X1Click();
}

void TOneSegForm::TunerAdded(TOneSegTuner& tuner) {
  auto* page = new QWidget;
  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  // Tabs follow the engine's list; the engine reports the change afterwards.
  const QSignalBlocker blocker(TunerTab);
  const int index = TunerTab->addTab(page, TabCaption(tuner.FriendlyName));
  TunerTab->tabBar()->setTabData(index, QVariant::fromValue(reinterpret_cast<quintptr>(&tuner)));
}

void TOneSegForm::TunerRemoving(TOneSegTuner& tuner) {
  if (CurrentTuner == &tuner) CurrentTuner = nullptr;
  const QSignalBlocker blocker(TunerTab);
  for (int index = 0; index < TunerTab->count(); ++index) {
    if (TunerTab->tabBar()->tabData(index).value<quintptr>() != reinterpret_cast<quintptr>(&tuner)) continue;
    QWidget* page = TunerTab->widget(index);
    if (TabPanel->parentWidget() == page) {
      TabPanel->hide();
      TabPanel->setParent(TunerTab);
    }
    TunerTab->removeTab(index);
    delete page;
    return;
  }
}

void TOneSegForm::TunerListChanged() { TunerTabChange(); }

void TOneSegForm::TunerViewRefresh() { UpdateTunerView(); }

void TOneSegForm::TSFolderChanged(const std::string& folder) {
  m_folderLine = Text(TSFolderLabelText(folder));
  ShowBottomLine();
}

void TOneSegForm::RetentionHeld(const std::string& text) {
  if (!text.empty()) Log(text);
  m_retentionNotice = Text(text);
  ShowBottomLine();
}

// A held retention outranks the folder on the window's last line, in red,
// until the number of days is fixed; the folder then stays in its tip.
void TOneSegForm::ShowBottomLine() {
  const bool held = !m_retentionNotice.isEmpty();
  TSFolderLabel->setText(held ? m_retentionNotice : m_folderLine);
  TSFolderLabel->setToolTip(held ? m_folderLine : QString());
  TSFolderLabel->setStyleSheet(held ? QStringLiteral("color: #c00000;") : QString());
}

void TOneSegForm::SettingsWriteFailed(const std::string& path) {
  // Shown from the event loop: the engine operation that failed to write
  // goes on (start-up still finds the tuners, a channel change still tunes).
  const QString file = Text(path);
  QMetaObject::invokeMethod(this, [this, file] { ShowWriteFailure(file); }, Qt::QueuedConnection);
}

// The window keeps no log; what the engine reports (the settings file in use,
// recording files that could not be written) goes to standard error.
void TOneSegForm::Log(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

void TOneSegForm::Notification(const std::string& text) {
  const QString message = Text(text);
  if (!TrayIcon1->ShowMessage(windowTitle(), message) && Desktop.Notify) Desktop.Notify(windowTitle(), message);
}

void TOneSegForm::ShowWriteFailure(const QString& path) {
  if (!m_openFailures.insert(path).second) return;
  auto* box = new QMessageBox(QMessageBox::Critical, windowTitle(), Text(WriteFailedText(path.toStdString())),
                              QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  connect(box, &QMessageBox::finished, this, [this, path] { m_openFailures.erase(path); });
  box->show();
}

}  // namespace brannock
