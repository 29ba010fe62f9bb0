#include "form_style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QStringList>

namespace brannock {

QFont RecorderFont() {
  // Proportional families first: the captions and labels are laid out for a
  // proportional gothic face.
  static const QStringList families = {"IPAPGothic", "IPAGothic", "Noto Sans CJK JP", "Noto Sans JP"};
  QFont font = QApplication::font();
  for (const QString& family : families) {
    if (QFontDatabase::hasFamily(family)) {
      font = QFont(family);
      break;
    }
  }
  font.setPixelSize(12);
  return font;
}

QLabel* MakeLabel(const QString& text, int left, int top, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->move(left, top);
  label->adjustSize();
  return label;
}

}  // namespace brannock
