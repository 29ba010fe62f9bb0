// The storage-days dialog: its estimate text, how typed and stepped input
// becomes the number of days, and its layout.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "days_form.h"
#include "settings.h"
#include "up_down.h"
#include "window_tests.h"

namespace brannock::test {

class DaysFormTest : public QObject {
  Q_OBJECT
 private slots:
  void estimateText_data() {
    QTest::addColumn<int>("stations");
    QTest::addColumn<int>("days");
    QTest::addColumn<QString>("text");
    QTest::newRow("2 stations, 7 days") << 2 << 7 << QStringLiteral("2局で7日約53.2GBのディスク容量が必要です");
    QTest::newRow("one day of one station") << 1 << 1 << QStringLiteral("1局で1日約3.8GBのディスク容量が必要です");
    QTest::newRow("no trailing zeros") << 1 << 30 << QStringLiteral("1局で30日約114GBのディスク容量が必要です");
    QTest::newRow("3 x 2 days") << 3 << 2 << QStringLiteral("3局で2日約22.8GBのディスク容量が必要です");
    QTest::newRow("fields before any call") << 0 << 0 << QStringLiteral("0局で0日約0GBのディスク容量が必要です");
    QTest::newRow("large") << 7 << 100 << QStringLiteral("7局で100日約2660GBのディスク容量が必要です");
  }
  void estimateText() {
    QFETCH(int, stations);
    QFETCH(int, days);
    QFETCH(QString, text);
    QCOMPARE(DaysEstimateText(stations, days), text);
  }

  void startsWithBothFieldsZero() {
    TDaysForm form(nullptr);
    QCOMPARE(form.GBLabel->text(), QStringLiteral("0局で0日約0GBのディスク容量が必要です"));
    QCOMPARE(form.DaysEdit->text(), QStringLiteral("1"));
  }

  void setDaysRewritesEditAndEstimate() {
    TDaysForm form(nullptr);
    form.SetStationCount(2);
    form.SetDays(7);
    QCOMPARE(form.Days, 7);
    QCOMPARE(form.DaysEdit->text(), QStringLiteral("7"));
    QCOMPARE(form.DaysUpDown->Position(), 7);
    QCOMPARE(form.GBLabel->text(), QStringLiteral("2局で7日約53.2GBのディスク容量が必要です"));
  }

  void valuesBelowOneBecomeOne() {
    TDaysForm form(nullptr);
    form.SetStationCount(0);  // no enabled tuner: the estimate is for one station
    form.SetDays(-4);
    QCOMPARE(form.StationCount, 1);
    QCOMPARE(form.Days, 1);
    QCOMPARE(form.GBLabel->text(), QStringLiteral("1局で1日約3.8GBのディスク容量が必要です"));
  }

  void typedNumberSetsDays() {
    TDaysForm form(nullptr);
    form.SetStationCount(1);
    form.SetDays(3);
    form.DaysEdit->selectAll();
    QTest::keyClicks(form.DaysEdit, "12");
    QCOMPARE(form.Days, 12);
    QCOMPARE(form.GBLabel->text(), QStringLiteral("1局で12日約45.6GBのディスク容量が必要です"));
  }

  void nonNumericTextGivesOne() {
    TDaysForm form(nullptr);
    form.SetStationCount(1);
    form.SetDays(5);
    form.DaysEdit->selectAll();
    QTest::keyClicks(form.DaysEdit, "abc");
    QCOMPARE(form.Days, 1);
    QCOMPARE(form.DaysUpDown->Position(), 1);
  }

  void typedLargeValuesAreKeptOrCapped() {
    TDaysForm form(nullptr);
    form.SetDays(5);
    form.DaysEdit->selectAll();
    QTest::keyClicks(form.DaysEdit, "3650");
    QCOMPARE(form.Days, 3650);
    // Too many digits for a number keep the most days instead of falling to 1.
    form.DaysEdit->setText(QStringLiteral("99999999999"));
    QCOMPARE(form.Days, kMaxRecDays);
    QCOMPARE(form.DaysEdit->text(), QString::number(kMaxRecDays));
  }

  void stepsStayWithinTheRange() {
    TDaysForm form(nullptr);
    form.SetDays(kMaxRecDays - 1);
    form.DaysUpDown->UpButton()->click();
    QCOMPARE(form.Days, kMaxRecDays);
    form.DaysUpDown->UpButton()->click();
    QCOMPARE(form.Days, kMaxRecDays);
    form.SetDays(2);
    form.DaysUpDown->DownButton()->click();
    form.DaysUpDown->DownButton()->click();
    QCOMPARE(form.Days, 1);
    QCOMPARE(form.DaysEdit->text(), QStringLiteral("1"));
  }

  void cancelledTextDoesNotCarryOver() {
    TDaysForm form(nullptr);
    form.SetDays(1);
    form.DaysEdit->setText(QStringLiteral("xyz"));  // reads as 1, the same as Days
    QCOMPARE(form.Days, 1);
    form.SetDays(1);  // primed again for the next showing
    QCOMPARE(form.DaysEdit->text(), QStringLiteral("1"));
  }

  void layout() {
    TDaysForm form(nullptr);
    QCOMPARE(form.windowTitle(), QStringLiteral("保存日数指定"));
    QCOMPARE(form.DaysEdit->geometry(), QRect(80, 12, 57, 20));
    QCOMPARE(form.DaysUpDown->geometry(), QRect(137, 12, 15, 20));
    QCOMPARE(form.Label1->pos(), QPoint(16, 16));
    QCOMPARE(form.Label1->text(), QStringLiteral("保存日数"));
    QCOMPARE(form.Label3->pos(), QPoint(160, 16));
    QCOMPARE(form.Label3->text(), QStringLiteral("日"));
    QCOMPARE(form.GBLabel->pos(), QPoint(16, 40));
    QCOMPARE(form.Button1->geometry(), QRect(128, 64, 75, 25));
    QCOMPARE(form.Button2->geometry(), QRect(208, 64, 75, 25));
    QCOMPARE(form.Button1->text(), QStringLiteral("OK"));
    QCOMPARE(form.Button2->text(), QStringLiteral("キャンセル"));
    QVERIFY(form.Button1->isDefault());
    // The estimate for the largest case fits the dialog.
    form.SetStationCount(9);
    form.SetDays(kMaxRecDays);
    QVERIFY(form.GBLabel->geometry().right() < form.width());
  }

  void buttonsCloseWithTheirResults() {
    TDaysForm form(nullptr);
    form.show();
    form.Button1->click();
    QCOMPARE(form.result(), int(QDialog::Accepted));
    form.show();
    form.Button2->click();
    QCOMPARE(form.result(), int(QDialog::Rejected));
  }
};

QObject* MakeDaysFormTest() { return new DaysFormTest; }

}  // namespace brannock::test

#include "window_days_test.moc"
