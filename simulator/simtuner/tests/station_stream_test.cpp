#include <gtest/gtest.h>

#include "station_stream.h"
#include "test_streams.h"

namespace oneseg::sim {
namespace {

using testing::NumberedPacket;
using testing::SimpleStream;
using testing::TempDir;
using testing::TotPacket;

TEST(ReadPacketTime, TotAndTdtSections) {
  CivilTime read;
  ASSERT_TRUE(ReadPacketTime(TotPacket({2008, 12, 6, 14, 35, 7}).data(), read));
  EXPECT_EQ(2008, read.year);
  EXPECT_EQ(6, read.day);
  EXPECT_EQ(35, read.minute);
  EXPECT_EQ(7, read.second);

  std::vector<std::uint8_t> tdt(188, 0xFF);
  const std::uint8_t head[] = {0x47, 0x40, 0x14, 0x10, 0x00, 0x70, 0x70, 0x05};
  std::copy(std::begin(head), std::end(head), tdt.begin());
  encode_jst_time({2008, 12, 6, 23, 59, 59}, &tdt[8]);
  ASSERT_TRUE(ReadPacketTime(tdt.data(), read));
  EXPECT_EQ(59, read.second);

  EXPECT_FALSE(ReadPacketTime(NumberedPacket(0x0100, 7).data(), read));
}

TEST(ReadPacketTime, SectionsOrPointersPastThePacketGiveNoTime) {
  CivilTime read;
  auto packet = TotPacket({2008, 12, 6, 1, 2, 3});
  packet[6] = 0x7F;  // section_length far beyond the packet
  packet[7] = 0xFF;
  EXPECT_FALSE(ReadPacketTime(packet.data(), read));
  packet = TotPacket({2008, 12, 6, 1, 2, 3});
  packet[4] = 200;  // a pointer field beyond the packet
  EXPECT_FALSE(ReadPacketTime(packet.data(), read));
}

TEST(StationStream, LoadsWholePacketsFromTheFirstSyncByte) {
  TempDir dir;
  auto bytes = SimpleStream(4, 2, {2008, 12, 6, 0, 0, 0});
  bytes.insert(bytes.begin(), {0x00, 0x12});
  bytes.insert(bytes.end(), {0x47, 0x00, 0x01});
  StationStream stream;
  std::string error;
  ASSERT_TRUE(stream.Load(dir.Write("a.ts", bytes), error)) << error;
  ASSERT_EQ(4u, stream.PacketCount());
  EXPECT_EQ(0x47, stream.Packet(5)[0]);
  EXPECT_EQ(stream.Packet(1), stream.Packet(5));  // the loop
  EXPECT_FALSE(stream.Load(dir.Write("empty.ts", {}), error));
  EXPECT_NE(std::string::npos, error.find("empty.ts"));
  EXPECT_FALSE(stream.Load(dir.path() + "/missing.ts", error));
}

TEST(StationStream, BitrateFromTheSpacingOfTimePackets) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 101; ++i) {
    const auto p = i == 0     ? TotPacket({2008, 12, 6, 10, 0, 0})
                   : i == 100 ? TotPacket({2008, 12, 6, 10, 0, 4})
                              : NumberedPacket(0x100, static_cast<std::uint32_t>(i));
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  StationStream stream;
  stream.Assign(bytes);
  EXPECT_DOUBLE_EQ(100 * 188 * 8 / 4.0, stream.EstimateBitrate());
  stream.Assign(SimpleStream(10, 100, {2008, 12, 6, 10, 0, 0}));  // one time only
  EXPECT_DOUBLE_EQ(kDefaultBitrate, stream.EstimateBitrate());
}

}  // namespace
}  // namespace oneseg::sim
