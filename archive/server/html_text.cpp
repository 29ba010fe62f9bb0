#include "html_text.h"

#include <algorithm>

namespace oneseg::archive::web {
namespace {

// Length of the valid UTF-8 sequence at text[i], or 0.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length;
  unsigned minimum;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, minimum = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, minimum = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, minimum = 0x10000;
  else return 0;
  if (i + length > text.size()) return 0;
  unsigned code = lead & (0x3F >> (length - 1));
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string html_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_length(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(i, length));
    } else {
      switch (text[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default:
          // Control characters have no business in a caption on a page.
          if (static_cast<unsigned char>(text[i]) >= 0x20 || text[i] == '\t') out += text[i];
      }
    }
    i += length;
  }
  return out;
}

std::string valid_utf8(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_length(text, i);
    out += length == 0 ? std::string_view("\xEF\xBF\xBD") : text.substr(i, length);
    i += std::max<std::size_t>(length, 1);
  }
  return out;
}

std::string url_encode(std::string_view text) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
        b == '_' || b == '.' || b == '~') {
      out += c;
    } else {
      out += '%';
      out += digits[b >> 4];
      out += digits[b & 15];
    }
  }
  return out;
}

std::string highlight(std::string_view line, std::vector<TextSpan> spans) {
  std::sort(spans.begin(), spans.end(),
            [](const TextSpan& a, const TextSpan& b) { return a.begin < b.begin; });
  std::string out;
  std::size_t done = 0;
  for (std::size_t i = 0; i < spans.size();) {
    const std::size_t begin = std::max(spans[i].begin, done);
    std::size_t end = spans[i].end;
    for (++i; i < spans.size() && spans[i].begin <= end; ++i) end = std::max(end, spans[i].end);
    end = std::min(end, line.size());
    if (begin >= end) continue;
    out += html_escape(line.substr(done, begin - done));
    out += "<mark>" + html_escape(line.substr(begin, end - begin)) + "</mark>";
    done = end;
  }
  out += html_escape(line.substr(done));
  return out;
}

}  // namespace oneseg::archive::web
