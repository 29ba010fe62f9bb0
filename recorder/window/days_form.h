#pragma once
// The storage-days dialog: the number of days recordings are kept, with an
// estimate of the disk space that many days of all enabled stations need.
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace brannock {

class TUpDown;

// "2局で7日約53.2GBのディスク容量が必要です" for 2 stations and 7 days: one
// station fills about 3.8 GB a day.
QString DaysEstimateText(int stationCount, int days);

class TDaysForm : public QDialog {
  Q_OBJECT
 public:
  explicit TDaysForm(QWidget* parent);

  int StationCount = 0;
  int Days = 0;

  QLabel* Label1;
  QLineEdit* DaysEdit;
  TUpDown* DaysUpDown;
  QLabel* Label3;
  QLabel* GBLabel;
  QPushButton* Button1;
  QPushButton* Button2;

  void SetStationCount(int n);
  void SetDays(int n);
  void UpdateEstimate();
  void DaysEditChange();

 protected:
  void showEvent(QShowEvent* event) override;
};

}  // namespace brannock
