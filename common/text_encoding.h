#pragma once
// The two encodings a hand-edited settings file may hold: UTF-8, and the
// Shift-JIS (CP932) that Japanese Windows editors save. A file may mix them
// line by line, so callers decide per piece of text.
#include <string>

namespace oneseg {

// Strict: overlong forms, surrogates and code points past U+10FFFF are not
// UTF-8, so Shift-JIS text is very rarely mistaken for it.
bool is_utf8(const std::string& bytes);

// Bytes that are not valid UTF-8 are taken as Shift-JIS (CP932) and
// converted; a byte that is neither becomes "?".
std::string text_to_utf8(const std::string& bytes);

// False when the text holds a character Shift-JIS cannot represent.
bool utf8_to_sjis(const std::string& utf8, std::string& sjis);

}  // namespace oneseg
