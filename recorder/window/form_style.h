#pragma once
// What the recorder's windows share: their font, a Japanese proportional
// sans-serif at a character height of 12 pixels (the system font at that size
// when none of the Japanese families is installed), and labels placed by pixel.
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace brannock {

QFont RecorderFont();

// A label sized to its text with its top-left corner at (left, top).
QLabel* MakeLabel(const QString& text, int left, int top, QWidget* parent);

}  // namespace brannock
