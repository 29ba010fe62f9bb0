#include "byte_ranges.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace oneseg::archive::web {
namespace {

constexpr std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Digits only; a position past any file saturates rather than wraps.
std::optional<std::uint64_t> position(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    value = value > (huge - digit) / 10 ? huge : value * 10 + digit;
  }
  return value;
}

struct Spec {
  bool valid = false;
  std::optional<ByteRange> satisfiable;  // within the file
};

// "first-last", "first-" or "-suffix".
Spec spec_of(std::string_view text, std::uint64_t size) {
  const auto dash = text.find('-');
  if (dash == std::string_view::npos) return {};
  const auto last = position(text.substr(dash + 1));
  if (dash == 0) {
    if (!last) return {};
    if (*last == 0 || size == 0) return {true, std::nullopt};
    return {true, ByteRange{size - std::min(*last, size), size - 1}};
  }
  const auto first = position(text.substr(0, dash));
  if (!first || (dash + 1 < text.size() && !last) || (last && *last < *first)) return {};
  if (*first >= size) return {true, std::nullopt};
  return {true, ByteRange{*first, std::min(last.value_or(huge), size - 1)}};
}

std::vector<ByteRange> coalesced(std::vector<ByteRange> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ByteRange> merged;
  for (const auto& r : ranges) {
    if (!merged.empty() && r.first <= merged.back().last + 1) {
      merged.back().last = std::max(merged.back().last, r.last);
    } else {
      merged.push_back(r);
    }
  }
  return merged;
}

}  // namespace

RangeAnswer answer_ranges(std::string_view header, std::uint64_t size) {
  constexpr std::string_view unit = "bytes=";
  header = trimmed(header);
  if (header.size() < unit.size() ||
      !std::equal(unit.begin(), unit.end(), header.begin(),
                  [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); })) {
    return {};
  }
  header.remove_prefix(unit.size());
  std::vector<ByteRange> wanted;
  bool any = false;
  while (true) {
    const auto comma = header.find(',');
    // Empty list elements are allowed and mean nothing.
    if (const auto element = trimmed(header.substr(0, comma)); !element.empty()) {
      const Spec spec = spec_of(element, size);
      if (!spec.valid) return {};
      any = true;
      if (spec.satisfiable) wanted.push_back(*spec.satisfiable);
    }
    if (comma == std::string_view::npos) break;
    header.remove_prefix(comma + 1);
  }
  if (!any) return {};
  if (wanted.empty()) return {RangeAnswer::Kind::unsatisfiable, {}};
  auto ranges = coalesced(std::move(wanted));
  if (ranges.size() > most_range_parts) return {};
  return {RangeAnswer::Kind::partial, std::move(ranges)};
}

std::string content_range(const ByteRange& range, std::uint64_t size) {
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(size);
}

std::string unsatisfied_range(std::uint64_t size) { return "bytes */" + std::to_string(size); }

MultipartBody multipart_body(const std::vector<ByteRange>& ranges, std::uint64_t size, std::string_view type,
                             std::string_view boundary) {
  MultipartBody body;
  for (const auto& range : ranges) {
    std::string heading = body.parts.empty() ? "" : "\r\n";
    heading.append("--").append(boundary).append("\r\nContent-Type: ").append(type);
    heading.append("\r\nContent-Range: ").append(content_range(range, size)).append("\r\n\r\n");
    body.length += heading.size() + range.length();
    body.parts.emplace_back(std::move(heading), range);
  }
  body.closing = std::string("\r\n--").append(boundary).append("--\r\n");
  body.length += body.closing.size();
  return body;
}

}  // namespace oneseg::archive::web
