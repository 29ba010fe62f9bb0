#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace skerrow {

// Buffered output stream for every text the analyser writes (analysis log,
// .eit listing, .sub captions). It behaves like a file opened in text mode:
// each '\n' written through it is stored as CR LF, so callers write the
// lines with a plain "\n". Numbers are formatted by hand, because the
// analysis log gets several lines per packet and printf would dominate the
// read loop. Nothing reaches the operating system until the buffer fills or
// the stream is flushed/closed. A write error does not stop the analysis (the
// text is dropped) but is remembered, so that an output file that lost text is
// never taken for complete; a closed writer drops everything.
class text_writer {
 public:
  text_writer() = default;
  ~text_writer();
  text_writer(const text_writer&) = delete;
  text_writer& operator=(const text_writer&) = delete;

  bool open_file(const std::string& path);  // create or truncate; false on failure or a link
  void open_descriptor(int fd);             // e.g. standard output; not closed by close()
  void open_memory(std::string* target);    // appends to *target (tests, scratch text)
  bool is_open() const { return mode_ != sink::none; }
  bool write_failed() const { return write_failed_; }  // since the last open
  void flush();
  void close();

  text_writer& text(std::string_view s);                 // '\n' becomes CR LF
  text_writer& bytes(const void* data, std::size_t n);   // same translation
  text_writer& ch(char c);
  text_writer& hex(std::uint64_t v);     // "%x"
  text_writer& hex02(unsigned v);        // "%02x"
  text_writer& hex04(unsigned v);        // "%04x"
  text_writer& dec(std::int64_t v);      // "%d" / "%lld"
  text_writer& dec02(int v);             // "%02d" (values 0..99 as two digits)
  text_writer& newline() { return text("\n"); }

 private:
  enum class sink { none, file, memory };
  static constexpr std::size_t capacity = 1 << 18;

  void put_raw(const char* p, std::size_t n);
  void drain();

  sink mode_ = sink::none;
  int fd_ = -1;
  bool owns_fd_ = false;
  std::string* memory_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t used_ = 0;
  bool write_failed_ = false;
};

}  // namespace skerrow
