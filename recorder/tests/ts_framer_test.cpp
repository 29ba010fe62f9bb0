// The framer over the unit sizes in use: every split of a stream across two
// reads, single bad bytes, slips, a constant 0x47 in the device framing, and
// the reset on a flush.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ts_framer.h"

namespace brannock::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kUnits = 12;

// Packet k: sync byte, PID 0x100, payload only, byte 4 = k. Behind it the
// device framing of the simulated tuners: the unit's sequence number, eight
// bytes little-endian, from `firstSeq` on (0x4700 makes byte 189 0x47 for
// 256 units, 0x470000 byte 190), then zeros up to the unit size.
Bytes Stream(std::uint16_t unit, std::uint64_t firstSeq) {
  Bytes out;
  for (int k = 0; k < kUnits; ++k) {
    Bytes u(unit, 0);
    u[0] = kSyncByte;
    u[1] = 0x01;
    u[3] = 0x10;
    for (std::size_t b = 4; b < kPacketSize; ++b) u[b] = static_cast<std::uint8_t>(k + b);
    u[4] = static_cast<std::uint8_t>(k);
    for (std::size_t b = 0; unit > kPacketSize && b < 8u && kPacketSize + b < unit; ++b) {
      u[kPacketSize + b] = static_cast<std::uint8_t>((firstSeq + k) >> (8 * b));
    }
    out.insert(out.end(), u.begin(), u.end());
  }
  return out;
}

struct Result {
  std::vector<int> ids;  // byte 4 of each packet handed out
  bool allIntact = true;  // every packet is byte for byte one that was sent
};

// Feeds `reads` (pieces of one stream) and checks each packet against `sent`.
Result Frame(TsFramer& framer, const Bytes& sent, std::uint16_t unit, const std::vector<Bytes>& reads) {
  Result r;
  for (const Bytes& read : reads) {
    framer.Feed(read.data(), read.size(), [&](const std::uint8_t* p) {
      r.ids.push_back(p[4]);
      const std::size_t at = std::size_t{p[4]} * unit;
      r.allIntact = r.allIntact && p[4] < kUnits && Bytes(p, p + kPacketSize) ==
                                                         Bytes(sent.begin() + at, sent.begin() + at + kPacketSize);
    });
  }
  return r;
}

std::vector<int> Ids(int from, int to, int except = -1) {
  std::vector<int> ids;
  for (int k = from; k < to; ++k) {
    if (k != except) ids.push_back(k);
  }
  return ids;
}

struct Framing {
  std::uint16_t unit;
  std::uint64_t firstSeq;
};

class FramerTable : public ::testing::TestWithParam<Framing> {};

TEST_P(FramerTable, SplitsFaultsSlipsAndFlushes) {
  const auto [unit, firstSeq] = GetParam();
  const Bytes sent = Stream(unit, firstSeq);
  const std::string where = "unit " + std::to_string(unit) + " seq " + std::to_string(firstSeq);

  // Any split across two reads, an empty read between them included.
  for (std::size_t split = 0; split <= sent.size(); ++split) {
    TsFramer framer(unit);
    const Result r = Frame(framer, sent, unit, {Bytes(sent.begin(), sent.begin() + split), {},
                                                Bytes(sent.begin() + split, sent.end())});
    ASSERT_EQ(r.ids, Ids(0, kUnits)) << where << " split " << split;
    EXPECT_EQ(framer.Carried(), 0u);
    EXPECT_EQ(framer.Drops().bytes, 0);
  }

  // A bad sync byte costs its unit only, wherever the read splits; the last
  // unit waits for its successor.
  for (int bad : {0, 5, kUnits - 1}) {
    Bytes spoiled = sent;
    spoiled[std::size_t(bad) * unit] = 0x00;
    for (std::size_t split = 0; split <= sent.size(); split += 7) {
      TsFramer framer(unit);
      const Result r = Frame(framer, sent, unit, {Bytes(spoiled.begin(), spoiled.begin() + split),
                                                  Bytes(spoiled.begin() + split, spoiled.end())});
      ASSERT_EQ(r.ids, Ids(0, bad == kUnits - 1 ? bad : kUnits, bad)) << where << " bad " << bad << " split " << split;
      EXPECT_TRUE(r.allIntact);
      EXPECT_EQ(framer.Drops().units, bad == kUnits - 1 ? 0 : 1);
      EXPECT_EQ(framer.Carried(), bad == kUnits - 1 ? unit : 0u);
    }
  }

  // A stray byte before unit 3 costs nothing; a byte lost inside unit 3
  // costs unit 4 (unit 3 went out with its sync byte). The search never
  // stops at the framing's constant 0x47.
  Bytes inserted = sent, removed = sent;
  inserted.insert(inserted.begin() + 3 * unit, 0x47);
  removed.erase(removed.begin() + 3 * unit + 100);
  for (std::size_t split = 0; split <= inserted.size(); split += 5) {
    TsFramer a(unit), b(unit);
    const Result ri = Frame(a, sent, unit, {Bytes(inserted.begin(), inserted.begin() + split),
                                            Bytes(inserted.begin() + split, inserted.end())});
    EXPECT_EQ(ri.ids, Ids(0, kUnits)) << where << " split " << split;
    EXPECT_TRUE(ri.allIntact);
    const std::size_t at = std::min(split, removed.size());
    const Result rr =
        Frame(b, sent, unit, {Bytes(removed.begin(), removed.begin() + at), Bytes(removed.begin() + at, removed.end())});
    EXPECT_EQ(rr.ids, Ids(0, kUnits, 4)) << where << " split " << split;
    EXPECT_TRUE(b.Locked());
  }

  // A stream taken up at any byte of a unit: the first whole unit from there
  // on is found after at most two misses, and nothing else goes out.
  for (std::uint16_t offset = 1; offset < unit; ++offset) {
    TsFramer framer(unit);
    const Result r = Frame(framer, sent, unit, {Bytes(sent.begin() + offset, sent.end())});
    EXPECT_EQ(r.ids, Ids(1, kUnits)) << where << " offset " << offset;
    EXPECT_TRUE(r.allIntact);
  }

  // A flush drops what is carried; the next byte is a unit start again.
  TsFramer framer(unit);
  Frame(framer, sent, unit, {Bytes(sent.begin() + 1, sent.begin() + 3 * unit)});
  EXPECT_FALSE(framer.Locked());
  const std::int64_t dropped = framer.Drops().bytes + std::int64_t(framer.Carried());
  EXPECT_GT(framer.Carried(), 0u);
  framer.Reset();
  EXPECT_EQ(framer.Drops().bytes, dropped);
  EXPECT_EQ(Frame(framer, sent, unit, {Bytes(sent.begin(), sent.begin() + unit)}).ids, Ids(0, 1));
}

INSTANTIATE_TEST_SUITE_P(UnitSizes, FramerTable,
                         ::testing::Values(Framing{188, 0}, Framing{196, 0x4700}, Framing{197, 0x4700},
                                           Framing{196, 0x470000}, Framing{197, 0x470000}));

}  // namespace
}  // namespace brannock::test
