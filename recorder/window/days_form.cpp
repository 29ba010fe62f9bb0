#include "days_form.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdio>

#include "form_style.h"
#include "settings.h"
#include "up_down.h"

namespace brannock {

namespace {

// The client area of a 303 x 125 window with a caption bar and thin frame.
constexpr int kClientWidth = 295;
constexpr int kClientHeight = 98;

// General format with up to 15 significant digits and no trailing zeros.
QString GeneralFormat(long double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15Lg", value);
  return QString::fromLatin1(text);
}

// Reads decimal digits with an optional sign; anything else is not a number.
// Digits beyond the range read as the most days, never as "not a number" (1).
int DaysFromText(const QString& text) {
  if (const std::optional<int> days = ParseRecDays(text.trimmed().toStdString())) return *days;
  bool ok = false;
  const int value = text.trimmed().toInt(&ok, 10);
  return ok ? value : 1;
}

}  // namespace

QString DaysEstimateText(int stationCount, int days) {
  const long double gigabytes = static_cast<long double>(stationCount) * 3.8L * days;
  return QString::number(stationCount) + QStringLiteral("局で") + QString::number(days) +
         QStringLiteral("日約") + GeneralFormat(gigabytes) + QStringLiteral("GBのディスク容量が必要です");
}

TDaysForm::TDaysForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("保存日数指定"));
  setFont(RecorderFont());
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kClientWidth, kClientHeight);

  Label1 = MakeLabel(QStringLiteral("保存日数"), 16, 16, this);
  DaysEdit = new QLineEdit(QStringLiteral("1"), this);
  DaysEdit->setGeometry(80, 12, 57, 20);
  DaysUpDown = new TUpDown(DaysEdit, 1, kMaxRecDays, this);  // any number the recorder keeps
  DaysUpDown->setGeometry(137, 12, 15, 20);
  Label3 = MakeLabel(QStringLiteral("日"), 160, 16, this);
  GBLabel = MakeLabel(QString(), 16, 40, this);

  Button1 = new QPushButton(QStringLiteral("OK"), this);
  Button1->setGeometry(128, 64, 75, 25);
  Button1->setDefault(true);
  Button2 = new QPushButton(QStringLiteral("キャンセル"), this);
  Button2->setGeometry(208, 64, 75, 25);
  connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects as well
  connect(DaysEdit, &QLineEdit::textChanged, this, &TDaysForm::DaysEditChange);

  UpdateEstimate();
}

void TDaysForm::SetStationCount(int n) {
  StationCount = n < 1 ? 1 : n;
  UpdateEstimate();
}

void TDaysForm::SetDays(int n) {
  Days = n < 1 ? 1 : n;
  // Also when the position already matches, so that text left in the edit by
  // a cancelled session is replaced.
  DaysUpDown->SetPosition(Days);
  UpdateEstimate();
}

void TDaysForm::DaysEditChange() {
  const int value = DaysFromText(DaysEdit->text());
  if (value != Days) SetDays(value);
}

void TDaysForm::UpdateEstimate() {
  GBLabel->setText(DaysEstimateText(StationCount, Days));
  GBLabel->adjustSize();
  // Thousands of days make the estimate longer than the dialog: it widens
  // rather than cut the figure off.
  setFixedSize(std::max(kClientWidth, GBLabel->geometry().right() + 16), kClientHeight);
}

void TDaysForm::showEvent(QShowEvent* event) {
  UpdateEstimate();
  QDialog::showEvent(event);
}

}  // namespace brannock
