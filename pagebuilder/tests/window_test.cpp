#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include "fakes.h"
#include "main_window.h"
#include "system_env.h"

using namespace pellatt;
using namespace pellatt::testing;

class WindowTest : public QObject {
  Q_OBJECT

 private:
  static QString u(const char* text) { return QString::fromUtf8(text); }
  static bool has_label(QWidget& w, const char* text) {
    for (auto* label : w.findChildren<QLabel*>())
      if (label->text() == u(text)) return true;
    for (auto* group : w.findChildren<QGroupBox*>())
      if (group->title() == u(text)) return true;
    return false;
  }

 private slots:
  void titleControlsAndDefaults() {
    FakeStarter starter;
    FakeClock clock;
    Tf_main w(starter, clock);
    QCOMPARE(w.windowTitle(), QString("Quenby"));
    QCOMPARE(w.Button1->text(), u("字幕とサムネイル作成"));
    QVERIFY(w.Button1->isEnabled());
    QCOMPARE(w.Button2->text(), u("中止"));
    QVERIFY(!w.Button2->isEnabled());
    QCOMPARE(w.Button3->text(), u("録画ソフト起動"));
    QCOMPARE(w.cb_continue->text(), u("連続モード"));
    QVERIFY(w.cb_continue->isChecked());
    QCOMPARE(w.c_htmlmak->text(), u("HTML再構築のみ"));
    QVERIFY(!w.c_htmlmak->isChecked());
    QCOMPARE(w.ComboBox2->count(), 6);
    QCOMPARE(w.ComboBox2->currentText(), QString("4"));
    QCOMPARE(w.ComboBox3->currentIndex(), 0);
    QCOMPARE(w.ComboBox3->itemText(0), u("字幕のみ改行サムネイルは横に並べる"));
    QCOMPARE(w.ComboBox3->itemText(1), u("時間に比例して改行"));
    QCOMPARE(w.ComboBox3->itemText(2), u("1字幕1サムネイル1改行"));
    QVERIFY(w.b_thmtop->isChecked() && w.b_thmtop->text() == u("画像の下に字幕"));
    QVERIFY(w.cb_tslink->isChecked() && w.cb_tslink->text() == u("tsファイルへのリンクを貼る"));
    QVERIFY(w.cb_timewrt->isChecked() && w.cb_timewrt->text() == u("サムネイル時間表示"));
    QVERIFY(!w.cb_subtime->isChecked() && w.cb_subtime->text() == u("字幕時間表示"));
    QCOMPARE(w.ComboBox1->currentText(), QString(".jpg"));
    QCOMPARE(w.ComboBox1->itemText(1), QString(".png"));
    QCOMPARE(w.Edit1->text(), QString("5"));
    QCOMPARE(w.Edit4->text(), QString("0"));
    QCOMPARE(w.Edit2->text(), QString("600"));
    QCOMPARE(w.Edit3->text(), QString("4"));
    QVERIFY(!w.cb_fastthm->isChecked() && w.cb_fastthm->text() == u("高速サムネイル作成"));
    QVERIFY(!w.cb_subdlg->isChecked());
    QCOMPARE(w.cb_subdlg->text(), u("字幕抽出後.subが関連付けられたプログラムで開きサムネイル作成するか確認する"));
    QVERIFY(!w.CheckBox1->isChecked() && w.CheckBox1->text() == u("サムネイル作成のDOS窓を表示する"));
    QVERIFY(w.m_log->toPlainText().isEmpty());
    for (const char* text : {"出力列数", "1行時の改行形式", "作成するサムネイル画像(jpg低サイズ　png高画質)", "サムネイル",
                             "秒ごと", "秒から", "秒まで", "1サムネイル作成のウェイト時間(動画の先頭からの秒数×", "ﾐﾘ秒",
                             "●合成結果htmlページ設定", "●高度な設定", "●ログ"})
      QVERIFY2(has_label(w, text), text);
    QCOMPARE(w.OpenDialog1->nameFilters(), QStringList({"TS(*.ts),sub(*.sub) (*.ts *.sub)", "All(*) (*)"}));
    // The settings the job reads are the controls' values.
    w.Edit1->setText("7");
    w.ComboBox3->setCurrentIndex(2);
    w.cb_fastthm->setChecked(true);
    const JobSettings s = w.current();
    QCOMPARE(s.interval, std::string("7"));
    QCOMPARE(s.one_column_layout, 2);
    QVERIFY(s.fast_thumbnails && s.cont && s.thumb_top && !s.html_only);
  }

  void jobRunsWithButton1DisabledAndAbortWorks() {
    TempFolder dir;
    write_sized(dir / "081206143_Ch27.ts", 10000000);
    write_file(dir / "081206143_Ch27.sub", "");
    FakeStarter starter;
    FakeClock clock;
    clock.start = local_time(2008, 12, 6, 15, 0, 0);  // the recording's ten minutes are over
    Tf_main w(starter, clock);
    w.show();
    int questions = 0;
    w.choose_file = [&] { return QString::fromStdString(dir / "081206143_Ch27.sub"); };
    w.ask_yes_no = [&](const QString&) { return ++questions, false; };
    bool button1_seen_enabled = false;
    clock.on_sleep = [&](int) {
      button1_seen_enabled = button1_seen_enabled || w.Button1->isEnabled() || !w.Button2->isEnabled();
    };
    starter.on_start = [&](const StartCall&) {
      // Clicking Button1 inside the job must not start another one.
      if (starter.calls.size() == 2) QTest::mouseClick(w.Button1, Qt::LeftButton);
      if (starter.calls.size() == 4) QTest::mouseClick(w.Button2, Qt::LeftButton);
    };
    QTest::mouseClick(w.Button1, Qt::LeftButton);
    QVERIFY(!button1_seen_enabled);
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(w.Button2->isEnabled());
    QCOMPARE(questions, 1);
    const QString log = w.m_log->toPlainText();
    QCOMPARE(log.count(u("が最初のTSファイル")), 1);
    QVERIFY(log.contains(u("ループ抜けて中止します")));
    QVERIFY(starter.of("ffmpeg").size() < 10);
    QVERIFY(w.StatusBar1->currentMessage().startsWith(u("最後のサムネイルが作成されました")));
    QVERIFY(exists(dir / "081206143_Ch27.html"));
  }

  void errorsEndTheJobInAMessageBox() {
    TempFolder dir;
    write_sized(dir / "081206143_Ch27.ts", 1000000);
    write_file(dir / "081206143_Ch27.sub", "");
    FakeStarter starter;
    FakeClock clock;
    Tf_main w(starter, clock);
    // A cancelled dialog does nothing.
    w.choose_file = [] { return QString(); };
    w.Button1Click();
    QVERIFY(!w.Button2->isEnabled());
    QVERIFY(w.m_log->toPlainText().isEmpty());
    QString error;
    w.choose_file = [&] { return QString::fromStdString(dir / "081206143_Ch27.ts"); };
    w.show_error = [&](const QString& text) { error = text; };
    w.Edit2->setText("6OO");
    w.Button1Click();
    QCOMPARE(error, QString("'6OO' is not a valid integer value"));
    QVERIFY(w.Button1->isEnabled());
  }

  // In the program's folder where it is writable (this test's is), else where
  // the recorder keeps the user's settings.
  void button3StartsTheRecorderInItsFolder() {
    FakeStarter starter;
    FakeClock clock;
    Tf_main w(starter, clock);
    QTest::mouseClick(w.Button3, Qt::LeftButton);
    QCOMPARE(starter.calls.size(), size_t(1));
    QCOMPARE(starter.calls[0].program, std::string("brannock"));
    QVERIFY(starter.calls[0].args.empty());
    QCOMPARE(starter.calls[0].folder, program_folder());
    TempFolder config;
    ::mkdir((config / "oneseg").c_str(), 0777);
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
    QCOMPARE(recorder_work_folder("/no such folder/"), config / "oneseg/");
    qunsetenv("XDG_CONFIG_HOME");
  }

  // Closing the window during a job stops it at its next step and ends the program.
  void closingDuringAJobEndsTheProgram() {
    TempFolder dir;
    write_sized(dir / "081206143_Ch27.ts", 10000000);
    write_file(dir / "081206143_Ch27.sub", "");
    FakeStarter starter;
    FakeClock clock;
    clock.start = local_time(2008, 12, 6, 15, 0, 0);
    Tf_main w(starter, clock);
    w.show();
    int questions = 0;
    w.choose_file = [&] { return QString::fromStdString(dir / "081206143_Ch27.ts"); };
    w.ask_yes_no = [&](const QString&) { return ++questions, true; };
    starter.on_start = [&](const StartCall&) {
      if (starter.calls.size() == 3) w.close();
    };
    QTimer::singleShot(0, &w, &Tf_main::Button1Click);
    QTimer::singleShot(30000, [] { QApplication::exit(1); });  // instead of hanging
    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(starter.calls.size(), size_t(3));
    QVERIFY(w.m_log->toPlainText().contains(u("ループ抜けて中止します")));
    QCOMPARE(questions, 0);
    QVERIFY(!w.isVisible());
  }

  // The job's waits never keep the window from its events for long. Real
  // waits, shortened ten times (ONESEG_TIME_SCALE=0.1 for this test): the
  // recording's 8-second size wait alone would hold the window 800 ms.
  void eventsAreHandledThroughoutAJob() {
    TempFolder dir;
    write_sized(dir / "081206143_Ch27.ts", 10000000);
    write_file(dir / "081206143_Ch27.sub", "");
    FakeStarter starter;
    SystemClock clock;
    Tf_main w(starter, clock);
    w.show();
    w.Edit2->setText("100");
    w.choose_file = [&] { return QString::fromStdString(dir / "081206143_Ch27.ts"); };
    w.ask_yes_no = [](const QString&) { return false; };
    QElapsedTimer since_last;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      longest = std::max(longest, since_last.restart());
    });
    QElapsedTimer job_time;
    job_time.start();
    since_last.start();
    ticker.start();
    w.Button1Click();
    longest = std::max(longest, since_last.elapsed());
    ticker.stop();
    QVERIFY(w.m_log->toPlainText().contains(u("合成終了")));
    QVERIFY2(job_time.elapsed() >= 1000, "the job's waits were not real");
    QVERIFY2(longest < 500, qPrintable(QString("longest gap between events %1 ms").arg(longest)));
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
