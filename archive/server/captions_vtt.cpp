#include "captions_vtt.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

namespace oneseg::archive::web {
namespace {

// The cue text: markup characters as entities ("-->" cannot end a cue early),
// and no blank line, which would end it.
std::string cue_text(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '\r' || c == '\n') out += ' ';
    else out += c;
  }
  return out;
}

std::optional<long long> integer(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::nullopt;
  text.remove_prefix(first);
  long long value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

std::vector<std::string_view> fields(std::string_view line) {
  std::vector<std::string_view> out;
  while (true) {
    const auto comma = line.find(',');
    out.push_back(line.substr(0, comma));
    if (comma == std::string_view::npos) return out;
    line.remove_prefix(comma + 1);
  }
}

}  // namespace

std::string vtt_timestamp(double seconds) {
  const long long ms = std::llround(std::max(0.0, seconds) * 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                ms % 1000);
  return text;
}

std::string webvtt(const std::vector<TimedLine>& lines, double origin_s) {
  std::string out = "WEBVTT\n\n";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    double end = lines[i].at_s + longest_cue_s;
    if (i + 1 < lines.size()) end = std::min(end, lines[i + 1].at_s);
    const double from = lines[i].at_s - origin_s, to = end - origin_s;
    if (to <= 0 || to <= from) continue;
    out += vtt_timestamp(from) + " --> " + vtt_timestamp(to) + "\n" + cue_text(lines[i].text) + "\n\n";
  }
  return out;
}

std::optional<double> parse_clip_origin(std::string_view framecrc) {
  // "#tb 0: 1/90000" per stream, then "0,     dts,     pts, duration, size, crc".
  std::map<long long, std::pair<long long, long long>> time_bases;
  std::optional<double> earliest;
  while (!framecrc.empty()) {
    const auto newline = framecrc.find('\n');
    const std::string_view line = framecrc.substr(0, newline);
    framecrc.remove_prefix(newline == std::string_view::npos ? framecrc.size() : newline + 1);
    if (line.starts_with("#tb ")) {
      const auto colon = line.find(':'), slash = line.find('/');
      if (colon == std::string_view::npos || slash == std::string_view::npos || slash < colon) continue;
      const auto stream = integer(line.substr(4, colon - 4));
      const auto num = integer(line.substr(colon + 1, slash - colon - 1)), den = integer(line.substr(slash + 1));
      if (stream && num && den && *num > 0 && *den > 0) time_bases[*stream] = {*num, *den};
      continue;
    }
    if (line.starts_with("#")) continue;
    const auto parts = fields(line);
    if (parts.size() < 3) continue;
    const auto stream = integer(parts[0]), dts = integer(parts[1]);
    const auto base = stream ? time_bases.find(*stream) : time_bases.end();
    if (!dts || base == time_bases.end()) continue;
    const double at = static_cast<double>(*dts) * base->second.first / base->second.second;
    if (!earliest || at < *earliest) earliest = at;
  }
  return earliest;
}

}  // namespace oneseg::archive::web
