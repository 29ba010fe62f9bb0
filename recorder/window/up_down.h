#pragma once
// A spin control attached to an edit: two small arrow buttons that step an
// integer position within a range and write it into the edit.
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace brannock {

class TUpDown : public QWidget {
  Q_OBJECT
 public:
  TUpDown(QLineEdit* associate, int min, int max, QWidget* parent);

  int Position() const { return m_position; }
  // Clamps to the range and rewrites the associated edit when its text differs.
  void SetPosition(int position);
  void Step(int delta);

  QToolButton* UpButton() const { return m_up; }
  QToolButton* DownButton() const { return m_down; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QLineEdit* m_associate;
  int m_min;
  int m_max;
  int m_position;
  QToolButton* m_up;
  QToolButton* m_down;
};

}  // namespace brannock
