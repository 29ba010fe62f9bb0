// The main window over a real engine with scripted tuner hardware: tabs that
// follow attached tuners, the channel list, channel changes by the user and
// by code, the folder label, the settings read at start, the days dialog, the
// failed-write message and the notification area.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "days_form.h"
#include "engine.h"
#include "ini.h"
#include "oneseg_form.h"
#include "recording_files.h"
#include "tray_icon.h"
#include "engine_fakes.h"
#include "window_tests.h"

namespace brannock::test {

namespace {

void WriteFile(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text);
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Tuning requests the tuner operations have seen.
int Tunings(const ScriptedOps& ops) {
  return static_cast<int>(
      std::count_if(ops.calls.begin(), ops.calls.end(), [](const std::string& c) { return c.starts_with("SetChannel "); }));
}

}  // namespace

// One recorder: settings folder, scripted devices, engine and window.
struct Recorder {
  QTemporaryDir folder;
  FakeUsb usb;
  FakeDriver driver;
  ScriptedOps ops;
  FakeClock clock;
  PosixFileSystem files;
  RecorderEngine engine{EngineParts{clock, usb, driver, ops, files}};
  bool trayAvailable = true;
  QString chosenFolder;
  QString chooserStart;
  QStringList notices;  // through the desktop's notification service
  std::unique_ptr<TOneSegForm> form;

  QString Config() const { return folder.filePath("OneSeg_Config.ini"); }
  std::string ConfigPath() const { return Config().toStdString(); }

  void Attach(const std::string& serial, const std::string& model = "PCTV-hiwasa") {
    usb.devices.push_back({model, serial, false, false});
  }
  void Detach(const std::string& serial) {
    std::erase_if(usb.devices, [&](const FakeUsbDevice& d) { return d.serial == serial; });
  }

  void Start() {
    WindowDesktop desktop;
    desktop.ChooseFolder = [this](QWidget*, const QString& start) {
      chooserStart = start;
      return chosenFolder;
    };
    desktop.TrayAvailable = [this] { return trayAvailable; };
    desktop.Notify = [this](const QString& title, const QString& text) { notices << title + QStringLiteral(": ") + text; };
    form = std::make_unique<TOneSegForm>(engine, desktop);
    form->FormCreate(folder.path().toStdString());
    // Tests drive the engine themselves.
    form->ProbeTimer.stop();
    form->RecordTimer.stop();
    form->WindowUpdateTimer.stop();
    form->show();
  }

  QStringList TabCaptions() const {
    QStringList captions;
    for (int i = 0; i < form->TunerTab->count(); ++i) captions << form->TunerTab->tabText(i);
    return captions;
  }

  // Opens and boots every enabled tuner (one supervisor step per tick).
  void BootAll() {
    for (int tick = 0; tick < 8; ++tick) engine.ProbeTimerTimer();
  }
};

class OneSegFormTest : public QObject {
  Q_OBJECT
 private slots:
  void layoutAndMenus() {
    Recorder r;
    r.Start();
    TOneSegForm& f = *r.form;
    QCOMPARE(f.windowTitle(), QStringLiteral("Tollgarth"));
    QCOMPARE(f.centralWidget()->size(), QSize(425, 128));
    QVERIFY(!(f.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(f.font().pixelSize(), 12);
    QCOMPARE(f.TunerTab->geometry(), QRect(0, 0, 425, 106));
    QCOMPARE(f.TunerIDEdit->geometry(), QRect(56, 12, 113, 20));
    QCOMPARE(f.ChannelCombo->geometry(), QRect(232, 12, 129, 20));
    QCOMPARE(f.StatusEdit->geometry(), QRect(56, 44, 233, 20));
    QCOMPARE(f.PacketCountEdit->geometry(), QRect(296, 44, 65, 20));
    QCOMPARE(f.Label1->pos(), QPoint(8, 16));
    QCOMPARE(f.Label2->pos(), QPoint(184, 16));
    QCOMPARE(f.Label3->pos(), QPoint(8, 48));
    QCOMPARE(f.Label1->text(), QStringLiteral("TunerID"));
    QCOMPARE(f.Label2->text(), QStringLiteral("Channel"));
    QCOMPARE(f.Label3->text(), QStringLiteral("Status"));
    QCOMPARE(f.TSFolderLabel->pos(), QPoint(0, 112));
    QVERIFY(f.TunerIDEdit->isReadOnly());
    QVERIFY(f.StatusEdit->isReadOnly());
    QVERIFY(!f.PacketCountEdit->isReadOnly());
    QVERIFY(!f.ChannelCombo->isEditable());

    QCOMPARE(f.F1->title(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(f.X1->text(), QStringLiteral("終了(&X)"));
    QCOMPARE(f.R1->title(), QStringLiteral("録画設定(&R)"));
    QCOMPARE(f.R2->text(), QStringLiteral("保存フォルダの指定(&R)"));
    QCOMPARE(f.D1->text(), QStringLiteral("保存日数指定(&D)"));
    QCOMPARE(f.menuBar()->actions(), (QList<QAction*>{f.F1->menuAction(), f.R1->menuAction()}));
    QCOMPARE(f.PopupMenu1->actions(), (QList<QAction*>{f.N1, f.X2}));
    QCOMPARE(f.N1->text(), QStringLiteral("ウインドウ表示(&V)"));
    QCOMPARE(f.X2->text(), QStringLiteral("終了(&X)"));
    QCOMPARE(f.ProbeTimer.interval(), 1000);
    QCOMPARE(f.RecordTimer.interval(), 50);
    QCOMPARE(f.WindowUpdateTimer.interval(), 1000);
  }

  void tabsFollowAttachedTuners() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "TunerS1", "FriendlyName", "居間");
    oneseg::ini_write_string(r.ConfigPath(), "TunerS2", "Disable", "1");
    r.Attach("S1");
    r.Attach("S2");
    r.Attach("S&3", "UOT-100");
    r.Start();
    TOneSegForm& f = *r.form;
    // The disabled tuner is listed but has no tab; "&" shows as itself.
    QCOMPARE(r.engine.Tuners.size(), size_t(3));
    QCOMPARE(r.TabCaptions(), (QStringList{"居間", "S_3"}));
    QCOMPARE(f.TunerTab->currentIndex(), 0);
    QVERIFY(f.TabPanel->isVisible());
    QCOMPARE(f.TunerIDEdit->text(), QStringLiteral("S1"));
    QCOMPARE(f.StatusEdit->text(), QStringLiteral("I/F初期化中"));

    f.TunerTab->setCurrentIndex(1);
    QCOMPARE(f.CurrentTuner, r.engine.FindTunerById("S_3"));
    QCOMPARE(f.TunerIDEdit->text(), QStringLiteral("S_3"));

    r.Detach("S1");
    r.engine.ScanTuners();
    QCOMPARE(r.TabCaptions(), QStringList{"S_3"});
    QCOMPARE(f.TunerIDEdit->text(), QStringLiteral("S_3"));
    QVERIFY(f.TabPanel->isVisible());

    r.Detach("S&3");
    r.engine.ScanTuners();
    QCOMPARE(f.TunerTab->count(), 0);
    QVERIFY(f.CurrentTuner == nullptr);
    QVERIFY(!f.TabPanel->isVisible());

    // Back again: a new record, a new tab at the end.
    r.Attach("S&3", "UOT-100");
    r.engine.ScanTuners();
    r.Attach("S1");
    r.engine.ScanTuners();
    QCOMPARE(r.TabCaptions(), (QStringList{"S_3", "居間"}));
    QVERIFY(f.TabPanel->isVisible());
  }

  void statusAndCountFollowTheTuner() {
    Recorder r;
    r.Attach("S1");
    r.Start();
    TOneSegForm& f = *r.form;
    r.BootAll();
    f.WindowUpdateTimerTimer();
    QCOMPARE(f.StatusEdit->text(), QStringLiteral("初期化完了"));
    r.engine.Tuners[0]->PacketCount = 4711;
    f.WindowUpdateTimerTimer();
    QCOMPARE(f.PacketCountEdit->text(), QStringLiteral("4711"));
    // A hand-edited count is overwritten at the next refresh ...
    f.PacketCountEdit->setText(QStringLiteral("9"));
    f.UpdateTunerView();
    QCOMPARE(f.PacketCountEdit->text(), QStringLiteral("4711"));
    // ... and a field showing the right text is not written again.
    f.PacketCountEdit->setCursorPosition(1);
    f.UpdateTunerView();
    QCOMPARE(f.PacketCountEdit->cursorPosition(), 1);
  }

  void channelListNamesStations() {
    Recorder r;
    WriteFile(r.folder.filePath("OneSeg_Channels.ini"),
              "[stationID]\r\nＮＨＫ=27\r\nOld=21\r\nNew=21\r\nNone=99\r\n");
    r.Start();
    QComboBox* combo = r.form->ChannelCombo;
    QCOMPARE(combo->count(), 51);
    QCOMPARE(combo->itemText(0), QStringLiteral("未設定"));
    QCOMPARE(combo->itemText(1), QStringLiteral("13"));
    QCOMPARE(combo->itemText(27 - 12), QStringLiteral("27 (ＮＨＫ)"));
    QCOMPARE(combo->itemText(21 - 12), QStringLiteral("21 (New)"));  // the later line wins
    QCOMPARE(combo->itemText(50), QStringLiteral("62"));
  }

  void selectingATabAlignsTheList() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "TunerA", "Channel", "27");
    oneseg::ini_write_string(r.ConfigPath(), "TunerB", "Channel", "70");
    r.Attach("A");
    r.Attach("B");
    r.Attach("C");  // no channel stored
    r.Start();
    TOneSegForm& f = *r.form;
    QCOMPARE(f.ChannelCombo->currentIndex(), 27 - 12);
    f.TunerTab->setCurrentIndex(1);  // channel 70: the list stays as it was
    QCOMPARE(f.ChannelCombo->currentIndex(), 27 - 12);
    f.TunerTab->setCurrentIndex(2);
    QCOMPARE(f.ChannelCombo->currentIndex(), 0);
    f.TunerTab->setCurrentIndex(1);
    QCOMPARE(f.ChannelCombo->currentIndex(), 0);
    // Aligning the list is no channel change.
    QCOMPARE(Tunings(r.ops), 0);
    QCOMPARE(oneseg::ini_read_int(r.ConfigPath(), "TunerC", "Channel", 1234), 1234);
  }

  void userChannelChangeWritesAndRetunes() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "TunerA", "Channel", "27");
    oneseg::ini_write_string(r.ConfigPath(), "TunerA", "FriendlyName", "居間");
    r.Attach("A");
    r.Start();
    TOneSegForm& f = *r.form;
    r.BootAll();
    QCOMPARE(r.ops.calls.back(), std::string("SetChannel A 27"));
    QCOMPARE(r.engine.Tuners[0]->State, int(Streaming));
    const int tunings = Tunings(r.ops);

    // From code: nothing happens to the tuner or the file.
    f.ChannelCombo->setCurrentIndex(30 - 12);
    QCOMPARE(Tunings(r.ops), tunings);
    QCOMPARE(r.engine.Tuners[0]->Channel, 27);

    // By the user (one step down the list with the keyboard): channel 31.
    QTest::keyClick(f.ChannelCombo, Qt::Key_Down);
    QCOMPARE(r.engine.Tuners[0]->Channel, 31);
    QCOMPARE(Tunings(r.ops), tunings + 1);
    QCOMPARE(r.ops.calls.back(), std::string("SetChannel A 31"));
    QCOMPARE(oneseg::ini_read_int(r.ConfigPath(), "TunerA", "Channel", -5), 31);
    QCOMPARE(oneseg::ini_read_string(r.ConfigPath(), "TunerA", "FriendlyName", ""), std::string("居間"));
    QCOMPARE(oneseg::ini_read_string(r.ConfigPath(), "TunerA", "Disable", ""), std::string("0"));
    QCOMPARE(f.StatusEdit->text(), QStringLiteral("チャンネル変更"));

    // The not-set entry stops tuning and stores -1.
    f.ChannelCombo->setCurrentIndex(1);
    QTest::keyClick(f.ChannelCombo, Qt::Key_Up);
    QCOMPARE(r.engine.Tuners[0]->Channel, -1);
    QCOMPARE(oneseg::ini_read_int(r.ConfigPath(), "TunerA", "Channel", 0), -1);
    QCOMPARE(Tunings(r.ops), tunings + 1);
  }

  void channelChoiceBeforeStreamingDoesNothing() {
    Recorder r;
    r.Attach("A");
    r.Start();
    QTest::keyClick(r.form->ChannelCombo, Qt::Key_Down);
    QCOMPARE(r.engine.Tuners[0]->Channel, -1);
    QCOMPARE(Tunings(r.ops), 0);
    QVERIFY(!QFile::exists(r.Config()) ||
            oneseg::ini_read_string(r.ConfigPath(), "TunerA", "Channel", "none") == "none");
  }

  void folderLabelAndFolderChoice() {
    Recorder r;
    QTemporaryDir recordings;
    r.Start();
    TOneSegForm& f = *r.form;
    QCOMPARE(f.TSFolderLabel->text(), QStringLiteral("保存先：未設定"));

    r.chosenFolder = recordings.path();
    f.R2Click();
    QCOMPARE(r.chooserStart, QDir::currentPath());
    QCOMPARE(f.TSFolderLabel->text(), QStringLiteral("保存先：") + recordings.path());
    QCOMPARE(QString::fromStdString(oneseg::ini_read_string(r.ConfigPath(), "Config", "TSFolder", "")),
             recordings.path());

    r.chosenFolder.clear();  // cancelled
    f.R2Click();
    QCOMPARE(f.TSFolderLabel->text(), QStringLiteral("保存先：") + recordings.path());
    QCOMPARE(r.engine.TSFolder, recordings.path().toStdString());
  }

  void storedFolderThatIsGoneIsKept() {
    Recorder r;
    const QString gone = r.folder.filePath("not-mounted");
    oneseg::ini_write_string(r.ConfigPath(), "Config", "TSFolder", gone.toStdString());
    r.Start();
    QCOMPARE(r.form->TSFolderLabel->text(), QStringLiteral("保存先：") + gone);
    QCOMPARE(QString::fromStdString(oneseg::ini_read_string(r.ConfigPath(), "Config", "TSFolder", "unset")), gone);
  }

  void storedFolderIsShown() {
    Recorder r;
    QTemporaryDir recordings;
    oneseg::ini_write_string(r.ConfigPath(), "Config", "TSFolder", recordings.path().toStdString() + "/");
    r.Start();
    QCOMPARE(r.form->TSFolderLabel->text(), QStringLiteral("保存先：") + recordings.path());
  }

  void storedRecDaysBelowOneKeepsThree() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "Config", "RecDays", "0");
    r.Start();
    QCOMPARE(r.engine.RecDays, 3);
    QCOMPARE(oneseg::ini_read_string(r.ConfigPath(), "Config", "RecDays", ""), std::string("0"));
  }

  void daysDialogOkStoresDays() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "Config", "RecDays", "5");
    oneseg::ini_write_string(r.ConfigPath(), "TunerB", "Disable", "1");
    r.Attach("A");
    r.Attach("B");
    r.Attach("C");
    r.Start();
    TOneSegForm& f = *r.form;
    // Timers go on while the dialog is open: discovery runs underneath it.
    QSignalSpy probeTicks(&f.ProbeTimer, &QTimer::timeout);
    f.ProbeTimer.start(20);
    QString shownEstimate;
    QTimer::singleShot(300, f.DaysForm, [&] {
      shownEstimate = f.DaysForm->GBLabel->text();
      f.DaysForm->DaysEdit->setText(QStringLiteral("7"));
      f.DaysForm->Button1->click();
    });
    f.D1Click();
    f.ProbeTimer.stop();
    QCOMPARE(shownEstimate, QStringLiteral("2局で5日約38GBのディスク容量が必要です"));
    QVERIFY2(probeTicks.count() >= 5, "the probe timer stood still during the dialog");
    QCOMPARE(r.engine.Tuners[0]->State, int(Streaming));  // and drove the engine
    QCOMPARE(r.engine.RecDays, 7);
    QCOMPARE(oneseg::ini_read_int(r.ConfigPath(), "Config", "RecDays", 0), 7);
  }

  void storedDaysBeyondAHundredSurviveTheDialog() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "Config", "RecDays", "3650");
    r.Start();
    TOneSegForm& f = *r.form;
    QString shownDays;
    QTimer::singleShot(100, f.DaysForm, [&] {
      shownDays = f.DaysForm->DaysEdit->text();
      f.DaysForm->Button1->click();
    });
    f.D1Click();
    QCOMPARE(shownDays, QStringLiteral("3650"));
    QCOMPARE(r.engine.RecDays, 3650);
    QCOMPARE(oneseg::ini_read_int(r.ConfigPath(), "Config", "RecDays", 0), 3650);
  }

  void unusableStoredDaysAreShownUntilDaysAreChosen() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "Config", "RecDays", "abc");
    r.Start();
    TOneSegForm& f = *r.form;
    QCOMPARE(f.TSFolderLabel->text(), QString::fromStdString(RetentionHeldText("abc")));
    QTimer::singleShot(100, f.DaysForm, [&] {
      f.DaysForm->DaysEdit->setText(QStringLiteral("7"));
      f.DaysForm->Button1->click();
    });
    f.D1Click();
    QCOMPARE(f.TSFolderLabel->text(), QStringLiteral("保存先：未設定"));
    QCOMPARE(r.engine.RecDays, 7);
  }

  void daysDialogCancelChangesNothing() {
    Recorder r;
    oneseg::ini_write_string(r.ConfigPath(), "Config", "RecDays", "5");
    r.Start();
    TOneSegForm& f = *r.form;
    const QByteArray before = ReadFile(r.Config());
    QString shownEstimate;
    QTimer::singleShot(100, f.DaysForm, [&] {
      shownEstimate = f.DaysForm->GBLabel->text();
      f.DaysForm->DaysEdit->setText(QStringLiteral("9"));
      f.DaysForm->Button2->click();
    });
    f.D1Click();
    QCOMPARE(shownEstimate, QStringLiteral("1局で5日約19GBのディスク容量が必要です"));  // no tuner: 1 station
    QCOMPARE(r.engine.RecDays, 5);
    QCOMPARE(ReadFile(r.Config()), before);
  }

  void failedWriteIsShownAndStartUpGoesOn() {
    Recorder r;
    // A folder in the file's place: no write can replace it.
    QVERIFY(QDir(r.folder.path()).mkdir("OneSeg_Config.ini"));
    r.Attach("A");
    r.Start();
    QCOMPARE(r.form->TunerTab->count(), 1);  // the tuners are still found
    QApplication::processEvents();
    QList<QMessageBox*> boxes;
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) boxes << box;
    QCOMPARE(boxes.size(), 1);  // two failed writes, one message for the file
    QCOMPARE(boxes[0]->text(), r.Config() + QStringLiteral(" に書き込めません"));
    boxes[0]->accept();
  }

  void minimiseToTrayAndBack() {
    Recorder r;
    r.Start();
    TOneSegForm& f = *r.form;
    f.showMinimized();
    QApplication::processEvents();
    QVERIFY(f.TrayIcon1->Icon().isVisible());
    QCOMPARE(f.TrayIcon1->Icon().toolTip(), QStringLiteral("Tollgarth"));
    QVERIFY(f.TrayIcon1->Icon().icon().availableSizes().contains(QSize(16, 16)));  // the program's icon
    QVERIFY(f.isHidden());
    f.TrayIcon1->Activate(QSystemTrayIcon::DoubleClick);
    QVERIFY(!f.TrayIcon1->Icon().isVisible());
    QVERIFY(f.isVisible());
    QVERIFY(!f.isMinimized());
    // The tray menu's first item restores as well.
    f.showMinimized();
    QApplication::processEvents();
    f.N1->trigger();
    QVERIFY(f.isVisible());
    QVERIFY(!f.TrayIcon1->Icon().isVisible());
  }

  // Beside the tray icon while it is shown, else through the desktop's service.
  void notificationsGoToTheTrayOrTheDesktop() {
    Recorder r;
    r.ops.scripts["A"].initResult = 5;
    r.Attach("A");
    r.Start();
    r.engine.ProbeTimerTimer();
    QCOMPARE(r.notices, QStringList{QStringLiteral("Tollgarth: A：Error:Tuner_Initialize(05)")});
    r.form->showMinimized();
    QApplication::processEvents();
    QVERIFY(r.form->TrayIcon1->IconShown());
    r.clock.Advance(600);
    r.engine.ProbeTimerTimer();
    QCOMPARE(r.notices.size(), 1);
  }

  void minimiseWithoutTrayKeepsTaskbarEntry() {
    Recorder r;
    r.trayAvailable = false;
    r.Start();
    r.form->showMinimized();
    QApplication::processEvents();
    QVERIFY(!r.form->TrayIcon1->Icon().isVisible());
    QVERIFY(r.form->isVisible());
  }
};

QObject* MakeOneSegFormTest() { return new OneSegFormTest; }

}  // namespace brannock::test

#include "window_form_test.moc"
