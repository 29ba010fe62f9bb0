#include "html_page.h"

#include <cstdio>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

#include "file_info.h"
#include "recording_name.h"

namespace pellatt {

namespace {

struct PageWriter {
  std::ostream& out;
  void line(const std::string& text) { out << text << "\r\n"; }
};

// Settings of one page, converted once at the start of the page.
struct Layout {
  int cols = 4;
  bool table = true;
  int item = 0;  // one-column layout
};

std::string two_digits(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2d", value);
  return text;
}

std::string ts_link(const PageInput& in) {
  return "<a href='" + url_escape(file_name_of(in.ts_path)) + "'>ts file</a></br>";
}

void write_links(PageWriter& w, const PageInput& in) {
  if (in.settings.ts_link) w.line(ts_link(in));
  if (!in.settings.cont) return;
  const auto page = [&](int delta) {
    return url_escape(neighbour_link(in.base_path, in.start_minutes, delta) + ".html");
  };
  w.line("<a href='" + page(-10) + "'>back</a>");
  w.line("<a href='" + page(10) + "'>next</a></br>");
}

// Seconds since the epoch of midnight starting the day of `when` (local time).
std::time_t midnight_of(std::time_t when) {
  std::tm parts{};
  localtime_r(&when, &parts);
  parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
  parts.tm_isdst = -1;
  return std::mktime(&parts);
}

// The reference time: the creation time, moved to the next midnight when the
// recording was created in the last minute of a day (it belongs to the next).
std::time_t reference_time(std::time_t created) {
  std::tm parts{};
  localtime_r(&created, &parts);
  if (parts.tm_hour == 23 && parts.tm_min == 59) return created + (60 - parts.tm_sec);
  return created;
}

class CaptionReader {
 public:
  CaptionReader(std::istream& sub, std::time_t day) : sub_(sub), day_(day) { next(); }
  bool exhausted() const { return exhausted_; }
  const std::string& line() const { return line_; }
  std::time_t time() const { return time_; }
  // The analyser may still be appending: a last line without its line end is
  // not complete yet and is left out, and lines without a readable time are passed over.
  void next() {
    while (std::getline(sub_, line_) && !sub_.eof()) {
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      const int seconds = caption_seconds(line_);
      if (seconds < 0) continue;
      std::tm parts{};
      localtime_r(&day_, &parts);
      parts.tm_hour = seconds / 3600;
      parts.tm_min = seconds / 60 % 60;
      parts.tm_sec = seconds % 60;
      parts.tm_isdst = -1;
      time_ = std::mktime(&parts);
      return;
    }
    exhausted_ = true;
  }

 private:
  std::istream& sub_;
  std::time_t day_;
  std::string line_;
  std::time_t time_ = 0;
  bool exhausted_ = false;
};

void end_cell(PageWriter& w, int thumb_count, int cols, const char* row_start) {
  w.line("</td>");
  if (thumb_count % cols == 0) {
    w.line("</tr>");
    w.line(row_start);
  }
  w.line("<td>");
}

void thumbnail_step(PageWriter& w, const PageInput& in, const Layout& l, int n, int& thumb_count) {
  const JobSettings& s = in.settings;
  if (l.table && s.thumb_top) end_cell(w, thumb_count, l.cols, "<tr Valign=\"top\">");
  if (s.thumb_time && (l.table || l.item != 0)) w.line(time_label(n) + "</br>");
  w.line("<img src=\"" + url_escape(file_name_of(in.base_path) + "thm/" + std::to_string(n) + s.ext) + "\">");
  ++thumb_count;
  if (!l.table && l.item == 2) w.line("</br>");
  if (l.table && !s.thumb_top) end_cell(w, thumb_count, l.cols, "<tr Valign=\"bottom\">");
}

void caption_step(PageWriter& w, const PageInput& in, const Layout& l, int n, const std::string& line) {
  const JobSettings& s = in.settings;
  const bool item0 = !l.table && l.item == 0;
  if (l.table && s.thumb_top) w.line("</br>");
  if (s.caption_time) {
    if (item0) w.line("</br>");
    w.line(time_label(n));
  }
  if (item0) w.line("</br>");
  w.line(html_escape(line.substr(9)));
  if (!l.table && (l.item == 0 || l.item == 2)) w.line("</br>");
  if (l.table && !s.thumb_top) w.line("</br>");
}

}  // namespace

std::string time_label(int n) { return std::to_string(n / 60) + ":" + two_digits(n % 60); }

int caption_seconds(const std::string& line) {
  if (line.size() < 8 || line[2] != ':' || line[5] != ':') return -1;
  for (int at : {0, 1, 3, 4, 6, 7})
    if (line[at] < '0' || line[at] > '9') return -1;
  const auto two = [&](int at) { return (line[at] - '0') * 10 + (line[at + 1] - '0'); };
  if (two(0) > 23 || two(3) > 59 || two(6) > 59) return -1;
  return two(0) * 3600 + two(3) * 60 + two(6);
}

std::string html_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string url_escape(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (c >= 0x80 || c <= 0x20 || c == '%' || c == '#' || c == '?') {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return html_escape(out);
}

int compose_page(const PageInput& in, std::istream& sub, std::ostream& out, const std::function<bool(int)>& thumb_exists) {
  const JobSettings& s = in.settings;
  Layout l;
  l.cols = to_int(s.columns);
  l.table = l.cols > 1;
  l.item = s.one_column_layout;
  const int first = to_int(s.from);
  // Seconds become times of day: the range has to fit in one day.
  if (first <= in.end_sec && (first < 0 || in.end_sec >= 86400))
    throw JobError("Invalid argument to time encode");

  PageWriter w{out};
  w.line("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>");
  w.line("<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"ja\">");
  w.line("<head>");
  // Browsers take a page's encoding from a meta element, not from the XML declaration.
  w.line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=EUC-JP\">");
  w.line("<title>" + html_escape(file_name_of(in.base_path)) + "</title>");
  w.line("</head>");
  w.line("<body>");
  write_links(w, in);
  if (l.table) {
    w.line("<table border bordercolor=black>");
    w.line("<tr Valign=\"bottom\">");
    w.line("<td>");
  }

  const std::time_t reference = reference_time(in.created);
  const std::time_t first_time = reference + first;
  CaptionReader captions(sub, midnight_of(reference));
  int thumb_count = 0;
  for (int n = first; n <= in.end_sec;) {
    if (!l.table && l.item == 1) w.line("</br>");
    if (captions.exhausted() || captions.time() > reference + n) {
      if (thumb_exists(n)) thumbnail_step(w, in, l, n, thumb_count);
      ++n;
    } else {
      if (captions.line().size() > 9 && captions.time() >= first_time) caption_step(w, in, l, n, captions.line());
      captions.next();
    }
  }

  if (l.table) {
    w.line("</td>");
    w.line("</tr>");
    w.line("</table>");
  }
  write_links(w, in);
  w.line("</body>");
  w.line("</html>");
  return thumb_count;
}

int htmlmak(const PageInput& in) {
  const std::string sub_path = in.base_path + ".sub";
  std::ifstream sub(sub_path, std::ios::binary);
  if (!sub) throw JobError("Cannot open file \"" + sub_path + "\"");
  // The page is composed before the old one is touched: a setting that stops
  // the job leaves the earlier page as it was.
  std::ostringstream page;
  const std::string thumbs = in.base_path + "thm/";
  const int count = compose_page(in, sub, page, [&](int n) {
    return file_exists(thumbs + std::to_string(n) + in.settings.ext);
  });
  write_new_file(in.base_path + ".html", page.str());
  return count;
}

}  // namespace pellatt
