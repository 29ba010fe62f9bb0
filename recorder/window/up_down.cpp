#include "up_down.h"

#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace brannock {

namespace {

QToolButton* MakeArrow(Qt::ArrowType arrow, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

}  // namespace

TUpDown::TUpDown(QLineEdit* associate, int min, int max, QWidget* parent)
    : QWidget(parent),
      m_associate(associate),
      m_min(min),
      m_max(max),
      m_position(min),
      m_up(MakeArrow(Qt::UpArrow, this)),
      m_down(MakeArrow(Qt::DownArrow, this)) {
  connect(m_up, &QToolButton::clicked, this, [this] { Step(1); });
  connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void TUpDown::SetPosition(int position) {
  m_position = std::clamp(position, m_min, m_max);
  const QString text = QString::number(m_position);
  if (m_associate->text() != text) m_associate->setText(text);
}

void TUpDown::Step(int delta) { SetPosition(m_position + delta); }

void TUpDown::resizeEvent(QResizeEvent*) {
  const int half = height() / 2;
  m_up->setGeometry(0, 0, width(), half);
  m_down->setGeometry(0, half, width(), height() - half);
}

}  // namespace brannock
