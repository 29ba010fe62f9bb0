// The buffered text writer: text-mode line ends and hand-made number formats.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "text_writer.h"

using skerrow::text_writer;

TEST(text_writer, stores_every_line_feed_as_cr_lf) {
  std::string out;
  text_writer w;
  w.open_memory(&out);
  w.text("a\nb\n\n").ch('\n').bytes("x\ny", 3).newline();
  w.flush();
  EXPECT_EQ(out, "a\r\nb\r\n\r\n\r\nx\r\ny\r\n");
}

TEST(text_writer, formats_numbers_like_printf) {
  std::string out;
  text_writer w;
  w.open_memory(&out);
  for (std::uint64_t v : {0ull, 0xAull, 0x1FC8ull, 0x1FFFFFFFFull, ~0ull}) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%llx", static_cast<unsigned long long>(v));
    out.clear();
    w.hex(v).flush();
    EXPECT_EQ(out, expected);
  }
  for (std::int64_t v : std::initializer_list<std::int64_t>{0, 7, -1, 8589934591, INT64_MIN}) {
    char expected[32];
    std::snprintf(expected, sizeof expected, "%lld", static_cast<long long>(v));
    out.clear();
    w.dec(v).flush();
    EXPECT_EQ(out, expected);
  }
  out.clear();
  w.hex02(0x5).ch(' ').hex02(0xAB).ch(' ').hex04(0x12).ch(' ').dec02(7).ch(' ').dec02(23).flush();
  EXPECT_EQ(out, "05 ab 0012 07 23");
}

TEST(text_writer, writes_large_output_to_a_file_and_drops_text_when_closed) {
  char path[] = "/tmp/text_writer_testXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  text_writer w;
  ASSERT_TRUE(w.open_file(path));
  const std::string line(999, 'x');
  for (int i = 0; i < 1000; ++i) w.text(line).newline();  // several buffer fills
  w.close();
  w.text("after close\n");
  std::ifstream in(path, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content.size(), 1000u * 1001u);
  EXPECT_EQ(content.substr(999, 2), "\r\n");
  EXPECT_EQ(content.find("after"), std::string::npos);
  EXPECT_FALSE(w.write_failed());
  std::remove(path);
  EXPECT_FALSE(w.open_file("/nonexistent-dir/x.log"));
  EXPECT_FALSE(w.is_open());
  // Never through a link (dangling or not) planted under the name.
  const std::string link = std::string(path) + ".link";
  ASSERT_EQ(::symlink(path, link.c_str()), 0);
  EXPECT_FALSE(w.open_file(link));
  EXPECT_FALSE(std::ifstream(path).good());  // not created through the link
  std::remove(link.c_str());
}

TEST(text_writer, remembers_a_failed_write_until_reopened) {
  text_writer w;
  ASSERT_TRUE(w.open_file("/dev/full"));
  w.text("lost\n");
  EXPECT_FALSE(w.write_failed());  // still in the buffer
  w.close();
  EXPECT_TRUE(w.write_failed());
  ASSERT_TRUE(w.open_file("/dev/null"));
  w.text("kept\n");
  w.close();
  EXPECT_FALSE(w.write_failed());
}
