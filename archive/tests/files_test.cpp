// The pieces between the files and the index: names, the analyser's text
// files, text forms, the packet counts, where the database lives and what
// happens to one of another layout.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>

#include "archive_db.h"
#include "broadcast_clock.h"
#include "eucjp.h"
#include "health.h"
#include "recording_files.h"
#include "text_normalise.h"

namespace {

namespace fs = std::filesystem;
using namespace oneseg::archive;

TEST(ArchiveFiles, NamesOfRecordingsAndDays)
{
  const auto name = parse_recording_name("261207235_Ch27");
  ASSERT_TRUE(name);
  EXPECT_EQ(name->day, "261207");
  EXPECT_EQ(name->channel, 27);
  EXPECT_EQ(format_broadcast_time(name->start), "2026-12-07 23:50:00");
  for (const char* bad : {"261307180_Ch27", "260230180_Ch27", "261207240_Ch27", "261207180_ch27", "261207180_Ch",
                          "26120718_Ch27", "261207180_Ch27x", "261207180_Ch123"})
    EXPECT_FALSE(parse_recording_name(bad)) << bad;
  EXPECT_TRUE(is_day_folder_name("240229"));
  EXPECT_FALSE(is_day_folder_name("230229"));
  EXPECT_EQ(parse_day("2026-12-31"), broadcast_seconds(2026, 12, 31));
  for (const char* bad : {"2026-13-01", "2026-1-01", "2026-12-01x", "x", ""}) EXPECT_FALSE(parse_day(bad)) << bad;
}

TEST(ArchiveFiles, AnalyserTextFiles)
{
  EucJpDecoder decoder;
  // A byte that is no EUC-JP costs that character only.
  EXPECT_EQ(decoder.to_utf8("\xC5\xB7\xFF\xB5\xA4"), "天\xEF\xBF\xBD気");
  EXPECT_EQ(decoder.to_utf8("\xC5\xB7\xB5"), "天\xEF\xBF\xBD");

  const std::int64_t start = broadcast_seconds(2026, 12, 7, 23, 50);
  const auto captions = parse_captions("23:59:58 \xC5\xB7\r\n00:00:03 \xB5\xA4\r\n2x:00:00 bad\r\n00:00:0", start, decoder);
  ASSERT_EQ(captions.size(), 2u);
  EXPECT_EQ(format_broadcast_time(captions[1].time), "2026-12-08 00:00:03");
  EXPECT_EQ(captions[1].text, "気");

  // One line of megabytes is cut at the bound, between characters.
  std::string huge = "00:00:01 x";
  for (int i = 0; i < 1 << 20; ++i) huge += "\xC5\xB7";
  const auto cut = parse_captions(huge + "\n00:00:02 \xB5\xA4\n", start, decoder);
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[0].text, "x" + [] { std::string t; for (int i = 0; i < 511; ++i) t += "天"; return t; }());
  EXPECT_EQ(cut[1].text, "気");

  const auto listing = parse_listing(
      "StartTime: 2026/12/8 0:00:00\r\nDuration: 00:30:00\r\nProviderName: \xC5\xB7\r\nEventName: A\r\n"
      "EventDesc: B\r\nContentNibble:  00 x\r\n-\r\nStartTime: \r\nDuration: zz\r\nEventName: C\r\n-\r\n",
      decoder);
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_EQ(format_broadcast_time(listing[0].start.value()), "2026-12-08 00:00:00");
  EXPECT_EQ(listing[0].duration_s, 1800);
  EXPECT_EQ(listing[0].provider, "天");
  EXPECT_EQ(listing[0].genres, "00 x");
  EXPECT_FALSE(listing[1].start);
  EXPECT_EQ(listing[1].title, "C");
}

TEST(ArchiveFiles, TextFormsAReaderTakesForTheSame)
{
  EXPECT_EQ(normalise("ＡＢＣ１２３ｶﾞｷﾞﾊﾟﾎﾟｳﾞｯﾄ　x"), "abc123ガギパポヴット x");
  EXPECT_EQ(normalise("ｱﾞﾞ"), "ア゛゛");  // a sound mark that joins nothing stays
  EXPECT_TRUE(is_word_char(U'ー'));
  EXPECT_TRUE(is_word_char(U'々'));
  for (const char32_t c : {U'、', U'。', U'「', U'♪', U'→', U'・', U'!', U' '}) EXPECT_FALSE(is_word_char(c));
}

// Packets of one PID with the given counters; pid 0x14 carries a TOT.
std::vector<std::uint8_t> packets(int pid, std::initializer_list<int> counters, std::uint8_t flags = 0)
{
  std::vector<std::uint8_t> out;
  for (const int cc : counters) {
    std::uint8_t p[188] = {0x47, static_cast<std::uint8_t>(flags | pid >> 8), static_cast<std::uint8_t>(pid),
                           static_cast<std::uint8_t>(0x10 | cc)};
    out.insert(out.end(), p, p + 188);
  }
  return out;
}

TEST(ArchiveFiles, PacketCounts)
{
  HealthCounter counter;
  const auto feed = [&](const std::vector<std::uint8_t>& bytes) { counter.feed(bytes.data(), bytes.size()); };
  feed(packets(0x100, {0, 1, 1, 2, 15}));  // a repeat is fine, 2 -> 15 is one error
  feed(packets(0x1FFF, {0, 7, 3}));       // null packets are never counted
  feed(packets(0x101, {0, 0x5}, 0x80));    // transport errors, counters unread
  std::vector<std::uint8_t> discontinuity = packets(0x100, {9});
  discontinuity[3] = 0x30 | 9;  // adaptation field with the discontinuity flag
  discontinuity[4] = 1;
  discontinuity[5] = 0x80;
  feed(discontinuity);
  const StreamHealth h = counter.finish();
  EXPECT_EQ(h.packets, 11);
  EXPECT_EQ(h.continuity_errors, 1);
  EXPECT_EQ(h.transport_errors, 2);
  EXPECT_EQ(h.sync_losses, 0);
  const std::int64_t named = broadcast_seconds(2026, 12, 7, 18, 0, 0);
  EXPECT_EQ(health_mark(h, named), needs_checking_mark);  // no time packet at all

  StreamHealth full;
  full.first_time = broadcast_seconds(2026, 12, 7, 18, 0, 0);
  full.last_time = *full.first_time + 595;
  full.typical_spacing_s = 5;
  full.longest_gap_s = 5;
  EXPECT_EQ(health_mark(full, named), "");
  full.longest_gap_s = 16;
  EXPECT_EQ(health_mark(full, named), needs_checking_mark);
  full.longest_gap_s = 5;
  full.last_time = *full.last_time - 6;
  EXPECT_EQ(health_mark(full, named), needs_checking_mark);
  full.last_time = *full.last_time + 6;
  // The stream's clock a day after the name, or the name ahead of it by more than five minutes.
  EXPECT_EQ(health_mark(full, named - seconds_per_day), needs_checking_mark);
  EXPECT_EQ(health_mark(full, named + 301), needs_checking_mark);
  EXPECT_EQ(health_mark(full, named + 300), "");
}

TEST(ArchiveFiles, DatabaseFileAndLayout)
{
  const fs::path home = fs::temp_directory_path() / ("archive_files_" + std::to_string(::getpid()));
  ::setenv("XDG_DATA_HOME", home.c_str(), 1);
  const fs::path db_file = default_db_path("/srv/rec/../rec");
  EXPECT_EQ(db_file.parent_path(), home / "oneseg");
  EXPECT_EQ(db_file, default_db_path("/srv/rec"));
  EXPECT_NE(db_file, default_db_path("/srv/rec2"));

  {
    ArchiveDb db = ArchiveDb::open(db_file);
    db.exec("INSERT INTO recordings(root, day, name, channel, station, start, end, fingerprint, ts_size, ts_mtime, has_ts,"
            " has_idx, has_sub, has_eit, has_html, thumbnails, health_measured, packets, continuity_errors,"
            " transport_errors, sync_losses, longest_gap, health)"
            " VALUES (1, '261207', '261207180_Ch27', 27, 'x', 0, 0, '', 0, 0, 1, 0, 0, 0, 0, '', 0, 0, 0, 0, 0, 0, '')");
    // An older layout: emptied on the next open, to be filled from the files again.
    db.exec("UPDATE schema_version SET version = 1");
  }
  {
    ArchiveDb db = ArchiveDb::open(db_file);
    Statement s = db.prepare("SELECT count(*) FROM recordings");
    ASSERT_TRUE(s.step());
    EXPECT_EQ(s.integer(0), 0);
    Statement mode = db.prepare("PRAGMA journal_mode");
    ASSERT_TRUE(mode.step());
    EXPECT_EQ(mode.text(0), "wal");
    db.exec("UPDATE schema_version SET version = 99");
  }
  EXPECT_THROW(ArchiveDb::open(db_file), DbError);
  fs::remove_all(home);
}

}  // namespace
