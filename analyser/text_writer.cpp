#include "text_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace skerrow {

text_writer::~text_writer() {
  close();
  delete[] buffer_;
}

bool text_writer::open_file(const std::string& path) {
  close();
  // Non-blocking open: a FIFO without a reader fails instead of hanging. A
  // link planted under the name is not followed: it fails too.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  open_descriptor(fd);
  owns_fd_ = true;
  return true;
}

void text_writer::open_descriptor(int fd) {
  close();
  if (buffer_ == nullptr) buffer_ = new char[capacity];
  mode_ = sink::file;
  fd_ = fd;
  owns_fd_ = false;
  write_failed_ = false;
}

void text_writer::open_memory(std::string* target) {
  close();
  if (buffer_ == nullptr) buffer_ = new char[capacity];
  mode_ = sink::memory;
  memory_ = target;
}

void text_writer::drain() {
  if (mode_ == sink::memory) {
    memory_->append(buffer_, used_);
  } else if (mode_ == sink::file) {
    const char* p = buffer_;
    std::size_t left = used_;
    while (left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {  // unwritable: the text is lost, the analysis goes on
        write_failed_ = true;
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  used_ = 0;
}

void text_writer::flush() {
  if (mode_ != sink::none && used_ > 0) drain();
}

void text_writer::close() {
  flush();
  if (mode_ == sink::file && owns_fd_) ::close(fd_);
  mode_ = sink::none;
  fd_ = -1;
  owns_fd_ = false;
  memory_ = nullptr;
}

void text_writer::put_raw(const char* p, std::size_t n) {
  if (mode_ == sink::none) return;
  while (n > 0) {
    if (used_ == capacity) drain();
    const std::size_t take = n < capacity - used_ ? n : capacity - used_;
    std::memcpy(buffer_ + used_, p, take);
    used_ += take;
    p += take;
    n -= take;
  }
}

text_writer& text_writer::bytes(const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const void* lf = std::memchr(p, '\n', n);
    if (lf == nullptr) {
      put_raw(p, n);
      break;
    }
    const std::size_t before = static_cast<std::size_t>(static_cast<const char*>(lf) - p);
    put_raw(p, before);
    put_raw("\r\n", 2);
    p += before + 1;
    n -= before + 1;
  }
  return *this;
}

text_writer& text_writer::text(std::string_view s) { return bytes(s.data(), s.size()); }

text_writer& text_writer::ch(char c) {
  if (c == '\n') return bytes(&c, 1);
  if (mode_ != sink::none) {
    if (used_ == capacity) drain();
    buffer_[used_++] = c;
  }
  return *this;
}

text_writer& text_writer::hex(std::uint64_t v) {
  static const char digits[] = "0123456789abcdef";
  char tmp[16];
  int i = 16;
  do {
    tmp[--i] = digits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  put_raw(tmp + i, static_cast<std::size_t>(16 - i));
  return *this;
}

text_writer& text_writer::hex02(unsigned v) {
  if (v > 0xFF) return hex(v);
  static const char digits[] = "0123456789abcdef";
  const char tmp[2] = {digits[v >> 4], digits[v & 0xF]};
  put_raw(tmp, 2);
  return *this;
}

text_writer& text_writer::hex04(unsigned v) {
  if (v > 0xFFFF) return hex(v);
  hex02(v >> 8);
  return hex02(v & 0xFF);
}

text_writer& text_writer::dec(std::int64_t v) {
  char tmp[24];
  int i = 24;
  std::uint64_t u = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  do {
    tmp[--i] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (v < 0) tmp[--i] = '-';
  put_raw(tmp + i, static_cast<std::size_t>(24 - i));
  return *this;
}

text_writer& text_writer::dec02(int v) {
  if (v >= 0 && v < 10) ch('0');
  return dec(v);
}

}  // namespace skerrow
