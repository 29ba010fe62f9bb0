#pragma once
// Which bytes of a file of known size an answer carries, read from the
// request's Range header as HTTP defines it: the whole file, some ranges, or
// none that the file can satisfy (416).
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace oneseg::archive::web {

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
  std::uint64_t length() const { return last - first + 1; }
  bool operator==(const ByteRange&) const = default;
};

struct RangeAnswer {
  enum class Kind { whole, partial, unsatisfiable };
  Kind kind = Kind::whole;
  std::vector<ByteRange> ranges;  // partial: ascending, neither overlapping nor touching
};

// More parts than this after coalescing are answered with the whole file, as
// HTTP lets a server ignore a Range header.
inline constexpr std::size_t most_range_parts = 16;

// header: the Range header's value, "" when absent. A malformed header, or one
// of another unit, is ignored (the whole file).
RangeAnswer answer_ranges(std::string_view header, std::uint64_t size);

// The Content-Range of a part ("bytes 0-99/900"), and of a 416 ("bytes */900").
std::string content_range(const ByteRange& range, std::uint64_t size);
std::string unsatisfied_range(std::uint64_t size);

// A multipart/byteranges body: each part's heading text followed by its bytes,
// then the closing text.
struct MultipartBody {
  std::vector<std::pair<std::string, ByteRange>> parts;
  std::string closing;
  std::uint64_t length = 0;  // of the whole body
};
MultipartBody multipart_body(const std::vector<ByteRange>& ranges, std::uint64_t size, std::string_view type,
                             std::string_view boundary);

}  // namespace oneseg::archive::web
