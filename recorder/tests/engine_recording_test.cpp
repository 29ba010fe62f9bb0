// The recording loop: framing, time packets, file naming and rotation, the
// .idx records, write failures and the hourly sweep trigger.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "datetime.h"
#include "engine_fakes.h"
#include "ini.h"
#include "time_packet.h"

namespace brannock::test {
namespace {

namespace fs = std::filesystem;

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    rig.clock.now = EncodeDateTime(2008, 12, 6, 14, 35, 30);
    tuner = &rig.StreamingTuner("R", 27);  // kind 0: units of 197 bytes
    unitSize = tuner->UnitSize;
  }
  std::deque<std::uint8_t>& Stream() { return rig.ops.scripts["R"].stream; }
  // Outlives the record: a restarted engine makes a new one.
  void Send(const Packet& packet) { AppendUnit(Stream(), packet, unitSize); }
  void Tick() { rig.engine.RecordTimerTimer(); }
  fs::path Pair(const std::string& day, const std::string& base, const char* ext) {
    return rig.Recordings() / day / (base + ext);
  }
  // The .ts file must hold exactly these packets.
  void ExpectTs(const fs::path& ts, const std::vector<Packet>& packets) {
    std::vector<std::uint8_t> expected;
    for (const Packet& p : packets) expected.insert(expected.end(), p.begin(), p.end());
    EXPECT_EQ(ReadWholeFile(ts), expected) << ts;
  }

  EngineRig rig;
  TOneSegTuner* tuner = nullptr;
  std::uint16_t unitSize = 0;
};

TEST_F(Recording, FirstTimePacketOpensThePairAndEveryPacketReachesTheFileEachTick) {
  const Packet before = PlainPacket(0x100, 1), tot = TotPacket(2008, 12, 6, 14, 35, 7), after = PlainPacket(0x100, 2);
  Send(before);
  Send(tot);
  Send(after);
  Tick();
  EXPECT_EQ(tuner->PacketCount, 3);
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:35:07");
  EXPECT_EQ(tuner->FileBase, "081206143_Ch27");
  EXPECT_EQ(tuner->DateFolder, "081206");
  const fs::path ts = Pair("081206", "081206143_Ch27", ".ts");
  // No close needed: the tick handed everything to the system.
  ExpectTs(ts, {tot, after});
  const auto idx = ReadWholeFile(Pair("081206", "081206143_Ch27", ".idx"));
  ASSERT_EQ(idx.size(), 9u);
  EXPECT_TRUE(std::equal(idx.begin(), idx.begin() + 5, tot.begin() + 5 + 3));
  EXPECT_EQ(idx[5] | idx[6] << 8 | idx[7] << 16 | idx[8] << 24, 0);
  EXPECT_NEAR(tuner->TimeOffset * 86400, 23, 1e-3);
  EXPECT_EQ(tuner->LastTimeStamp, EncodeDateTime(2008, 12, 6, 14, 35, 7));
  EXPECT_EQ(tuner->Drops, (DropCounts{.beforeTime = 1}));
}

TEST_F(Recording, UnitsSplitAcrossReadsAndAStartInMidUnit) {
  rig.ops.scripts["R"].readLimit = 300;  // every read ends inside a unit
  Stream().insert(Stream().end(), {0x00, 0x12, 0x34, 0xEE, 0x99});  // the tail of an earlier unit
  std::vector<Packet> sent{TotPacket(2008, 12, 6, 14, 35, 7)};
  for (std::uint8_t i = 0; i < 20; ++i) sent.push_back(PlainPacket(0x200, i));
  for (const Packet& p : sent) Send(p);
  Tick();
  EXPECT_EQ(tuner->PacketCount, 21);
  EXPECT_EQ(tuner->Framer.Carried(), 0u);
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), sent);

  // One unit and a half now, the rest at the next tick.
  rig.ops.scripts["R"].readLimit = 0;
  const Packet late1 = PlainPacket(0x200, 0x77), late2 = PlainPacket(0x200, 0x78);
  Send(late1);
  Send(late2);
  std::deque<std::uint8_t> rest(Stream().begin() + 197 + 150, Stream().end());
  Stream().erase(Stream().begin() + 197 + 150, Stream().end());
  Tick();
  EXPECT_EQ(tuner->Framer.Carried(), 150u);
  rig.ops.scripts["R"].readResult = 0x02;  // a read failing with nothing keeps what was carried
  rig.ops.scripts["R"].failedReadsDeliver = false;
  Stream().assign(unitSize, 0x47);
  Tick();
  rig.ops.scripts["R"].readResult = 0;
  EXPECT_EQ(tuner->Framer.Carried(), 150u);
  Stream() = rest;
  const Packet late3 = PlainPacket(0x200, 0x79);
  Send(late3);  // the queue is read once it holds a whole unit's worth again
  Tick();
  EXPECT_EQ(tuner->PacketCount, 24);
  EXPECT_EQ(tuner->Framer.Carried(), 0u);
  sent.insert(sent.end(), {late1, late2, late3});
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), sent);
}

TEST_F(Recording, BadUnitMidBufferIsDroppedWithoutResync) {
  const Packet tot = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x300, 1), c = PlainPacket(0x300, 3);
  Packet bad = PlainPacket(0x300, 2);
  bad[0] = 0x00;
  bad[5] = 0x47;  // a sync byte inside the bad unit must not be taken
  Send(tot);
  Send(a);
  Send(bad);
  Send(c);
  Tick();
  EXPECT_EQ(tuner->PacketCount, 3);
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {tot, a, c});
  EXPECT_EQ(tuner->Drops, (DropCounts{.framing = 1}));
}

TEST_F(Recording, ReadStartingWithASpoiledUnitIsNotFramedOnItsContent) {
  const Packet tot = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x300, 1), b = PlainPacket(0x300, 2);
  Packet spoiled = PlainPacket(0x300, 0);
  spoiled[0] = 0x00;
  spoiled[5] = 0x47;  // the search must not stop here
  Send(spoiled);
  Send(tot);
  Send(a);
  Packet spoiled2 = spoiled;
  Send(spoiled2);  // one spoiled unit right behind a true start does not hide it
  Send(b);
  Tick();
  EXPECT_EQ(tuner->PacketCount, 3);
  EXPECT_EQ(tuner->Framer.Carried(), 0u);
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {tot, a, b});
}

TEST_F(Recording, ShortReadsStartingWithASpoiledUnitKeepTheStride) {
  // Device framing whose second byte stays 0x47 for a while (a counter's
  // middle byte does): a search that ran into it would hold that stride.
  const auto sendFramed = [&](const Packet& packet) {
    Stream().insert(Stream().end(), packet.begin(), packet.end());
    for (std::size_t b = kPacketSize; b < unitSize; ++b) Stream().push_back(b == kPacketSize + 1 ? 0x47 : 0x10);
  };
  rig.ops.scripts["R"].readLimit = 2u * unitSize;
  std::vector<Packet> expected{TotPacket(2008, 12, 6, 14, 35, 7)};
  for (std::uint8_t i = 0; i < 3; ++i) expected.push_back(PlainPacket(0x300, i));
  Packet spoiled = PlainPacket(0x300, 0x55);
  spoiled[0] = 0x00;
  sendFramed(expected[0]);
  sendFramed(expected[1]);
  sendFramed(spoiled);  // a read of two units begins here...
  sendFramed(expected[2]);
  sendFramed(spoiled);  // ...and a read of one unit here, which waits for its successor
  Tick();
  EXPECT_EQ(tuner->Framer.Carried(), unitSize);
  sendFramed(expected[3]);
  Tick();
  EXPECT_EQ(tuner->PacketCount, 4);
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), expected);
}

TEST_F(Recording, StrayBytesBetweenReadsAreSkippedBySearch) {
  const Packet tot = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x300, 1), b = PlainPacket(0x300, 2),
               c = PlainPacket(0x300, 3);
  Send(tot);
  Send(a);
  Tick();
  Stream().insert(Stream().end(), {0x00, 0x47, 0x00});  // a sync byte among them must not be taken
  // Lock comes back on five packet starts in a row: until then they wait.
  const std::vector<Packet> more{b, c, PlainPacket(0x300, 4), PlainPacket(0x300, 5), PlainPacket(0x300, 6)};
  for (std::size_t i = 0; i < more.size(); ++i) {
    Send(more[i]);
    Tick();
    EXPECT_EQ(tuner->PacketCount, i + 1 < more.size() ? 2 : 7);
  }
  EXPECT_EQ(tuner->Framer.Drops().bytes, 3);
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {tot, a, b, c, more[2], more[3], more[4]});
}

TEST_F(Recording, TdtAndBadCrcTotGiveNoTime) {
  Send(TdtPacket(2008, 12, 6, 14, 35, 7));
  Tick();
  EXPECT_EQ(tuner->PacketCount, 1);
  EXPECT_EQ(tuner->Status, "初期化完了");
  EXPECT_TRUE(fs::is_empty(rig.Recordings()));

  const Packet good = TotPacket(2008, 12, 6, 14, 35, 7), bad = TotPacket(2008, 12, 6, 14, 45, 0, true);
  Send(good);
  Send(bad);
  Tick();
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:35:07");
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {good, bad});  // still written, no rotation
  EXPECT_EQ(ReadWholeFile(Pair("081206", "081206143_Ch27", ".idx")).size(), 9u);
  EXPECT_FALSE(fs::exists(Pair("081206", "081206144_Ch27", ".ts")));
}

TEST(TimePacket, SectionsBeyondThePacketOrImpossibleTimesYieldNothing) {
  std::uint8_t jst[5] = {};
  Packet tot = TotPacket(2008, 12, 6, 14, 35, 7);
  EXPECT_EQ(ParseTimePacket(tot.data(), jst), EncodeDateTime(2008, 12, 6, 14, 35, 7));
  Packet longLoop = tot;
  longLoop[5 + 8] = 0xFF;  // descriptors loop running past the packet
  longLoop[5 + 9] = 0xFF;
  EXPECT_EQ(ParseTimePacket(longLoop.data(), jst), 0);
  EXPECT_EQ(ParseTimePacket(TotPacket(2008, 12, 6, 24, 0, 0).data(), jst), 0);
  Packet late = PlainPacket(0x14, 0x00);  // zero-length sections up to the end: no TOT, no overrun
  EXPECT_EQ(ParseTimePacket(late.data(), jst), 0);
  Packet edge = PlainPacket(0x14, 0xFF);
  edge[185] = 0x73;  // a TOT header with no room for its body
  edge[186] = 0x00;
  edge[187] = 0x0B;
  edge[5] = 0x00;
  edge[6] = 0x00;
  edge[7] = 0xB1;  // one section reaching to byte 185
  EXPECT_EQ(ParseTimePacket(edge.data(), jst), 0);
}

TEST_F(Recording, RotationAtTenMinutesOnChannelChangeAndAtMidnight) {
  const Packet t1 = TotPacket(2008, 12, 6, 14, 39, 59), t2 = TotPacket(2008, 12, 6, 14, 40, 0);
  Send(t1);
  Send(t2);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1});
  ExpectTs(Pair("081206", "081206144_Ch27", ".ts"), {t2});

  // A new channel's packets go on into the open file until its first time packet.
  rig.engine.ChannelComboChange(tuner, ItemForChannel(20));
  const Packet p = PlainPacket(0x100, 9), t3 = TotPacket(2008, 12, 6, 14, 41, 0);
  Send(p);
  Send(t3);
  Tick();
  ExpectTs(Pair("081206", "081206144_Ch27", ".ts"), {t2, p});
  ExpectTs(Pair("081206", "081206144_Ch20", ".ts"), {t3});

  const Packet t4 = TotPacket(2008, 12, 6, 23, 59, 55), t5 = TotPacket(2008, 12, 7, 0, 0, 5);
  Send(t4);
  Send(t5);
  Tick();
  ExpectTs(Pair("081206", "081206235_Ch20", ".ts"), {t4});
  ExpectTs(Pair("081207", "081207000_Ch20", ".ts"), {t5});
}

TEST_F(Recording, RestartWithinTheSameTenMinutesExtendsThePair) {
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x100, 1);
  Send(t1);
  Send(a);
  Tick();
  rig.engine.FormDestroy();

  // A second run of the recorder over the same folders.
  RecorderEngine again({rig.clock, rig.usb, rig.driver, rig.ops, rig.files});
  again.FormCreate(rig.folder.str());
  for (int tick = 0; tick < 2; ++tick) again.ProbeTimerTimer();
  const Packet t2 = TotPacket(2008, 12, 6, 14, 38, 0), b = PlainPacket(0x100, 2);
  Send(t2);
  Send(b);
  again.RecordTimerTimer();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, a, t2, b});
  const auto idx = ReadWholeFile(Pair("081206", "081206143_Ch27", ".idx"));
  ASSERT_EQ(idx.size(), 18u);
  EXPECT_EQ(idx[9 + 5] | idx[9 + 6] << 8, 2 * 188);  // the second record points at t2
}

TEST_F(Recording, TwoTunersOnOneChannelStoreOneCopyAndTheOtherTakesOver) {
  TOneSegTuner& second = rig.StreamingTuner("S", 27, "PCTV-hiwasa Mini");
  auto sendS = [&](const Packet& p) { AppendUnit(rig.ops.scripts["S"].stream, p, second.UnitSize); };
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x100, 1);
  const Packet t2 = TotPacket(2008, 12, 6, 14, 35, 8), b = PlainPacket(0x100, 2);
  Send(t1);
  Send(a);
  sendS(t2);
  sendS(b);
  Tick();
  EXPECT_EQ(second.PacketCount, 2);  // counted, not stored
  EXPECT_FALSE(second.TsStream);
  EXPECT_FALSE(second.FileFault);

  // The writer stops: the other tuner's next time packet takes the pair over.
  rig.ops.scripts["R"].queueResult = 0x0C;
  const Packet c = PlainPacket(0x100, 3), t3 = TotPacket(2008, 12, 6, 14, 35, 9), d = PlainPacket(0x100, 4);
  sendS(c);
  sendS(t3);
  sendS(d);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, a, t3, d});
  const auto idx = ReadWholeFile(Pair("081206", "081206143_Ch27", ".idx"));
  ASSERT_EQ(idx.size(), 18u);
  EXPECT_EQ(idx[9 + 5] | idx[9 + 6] << 8, 2 * 188);
  EXPECT_FALSE(tuner->TsStream);  // the stopped tuner let go, so it cannot write a second copy

  // Back again, it only counts behind the new writer.
  rig.ops.scripts["R"].queueResult = 0;
  tuner->State = Streaming;
  const Packet t4 = TotPacket(2008, 12, 6, 14, 35, 10), e = PlainPacket(0x100, 5);
  Send(t4);
  Send(e);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, a, t3, d});
}

TEST_F(Recording, AFollowerStoresTheChannelOnceTheWriterIsSilentFiveSeconds) {
  TOneSegTuner& second = rig.StreamingTuner("S", 27, "PCTV-hiwasa Mini");
  auto sendS = [&](const Packet& p) { AppendUnit(rig.ops.scripts["S"].stream, p, second.UnitSize); };
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), t2 = TotPacket(2008, 12, 6, 14, 35, 8);
  const Packet a = PlainPacket(0x100, 1), b = PlainPacket(0x100, 2), c = PlainPacket(0x100, 3);
  Send(t1);
  sendS(t2);
  Tick();
  // The writer still streams but hears nothing; the follower hears the channel.
  rig.clock.Advance(4.9);
  sendS(a);
  Tick();
  EXPECT_FALSE(second.TsStream);
  rig.clock.Advance(0.2);
  sendS(b);
  Tick();
  const fs::path ts = Pair("081206", "081206143_Ch27", ".ts");
  ExpectTs(ts, {t1, b});
  EXPECT_FALSE(tuner->TsStream);
  EXPECT_EQ(second.Drops, (DropCounts{.follower = 2}));
  // The old writer hears again: it follows now, and no copy is stored twice.
  Send(c);
  sendS(c);
  Tick();
  ExpectTs(ts, {t1, b, c});
  EXPECT_EQ(tuner->Drops, (DropCounts{.follower = 1}));
}

TEST_F(Recording, AFollowerWhoseDataLagsTheWritersStoresNoTenMinutesTwice) {
  TOneSegTuner& second = rig.StreamingTuner("S", 27, "PCTV-hiwasa Mini");
  auto sendS = [&](const Packet& p) { AppendUnit(rig.ops.scripts["S"].stream, p, second.UnitSize); };
  const Packet t1 = TotPacket(2008, 12, 6, 14, 39, 58), t2 = TotPacket(2008, 12, 6, 14, 40, 3);
  const Packet a = PlainPacket(0x100, 1), b = PlainPacket(0x100, 2);
  // The writer is already in the next ten minutes when the follower reads the last ones.
  Send(t1);
  Send(a);
  Send(t2);
  Send(b);
  Tick();
  sendS(t1);
  sendS(a);
  Tick();
  EXPECT_FALSE(second.TsStream);
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, a});
  ExpectTs(Pair("081206", "081206144_Ch27", ".ts"), {t2, b});
  EXPECT_EQ(second.Drops, (DropCounts{.follower = 2}));
}

TEST_F(Recording, ATunerWhoseWritesFailedShowsNothingLostWhileAnotherStoresTheChannel) {
  TOneSegTuner& second = rig.StreamingTuner("S", 27, "PCTV-hiwasa Mini");
  auto sendS = [&](const Packet& p) { AppendUnit(rig.ops.scripts["S"].stream, p, second.UnitSize); };
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), t2 = TotPacket(2008, 12, 6, 14, 35, 8);
  const Packet t3 = TotPacket(2008, 12, 6, 14, 35, 9), a = PlainPacket(0x100, 1);
  rig.files.writeBudget = 0;  // full: each tuner in turn opens the pair and fails
  Send(t1);
  Tick();
  sendS(t2);
  Tick();
  ASSERT_TRUE(tuner->FileFault && second.FileFault);
  const std::int64_t lost = second.LostPackets;
  rig.files.writeBudget = -1;  // space again: the first tuner stores the channel
  Send(t3);
  Send(a);
  Tick();
  sendS(a);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t3, a});
  EXPECT_EQ(second.LostPackets, lost);
  EXPECT_EQ(second.Drops.follower, 1);
}

TEST_F(Recording, IndexThatCannotBeOpenedLeavesTheTsRecording) {
  const fs::path idx = Pair("081206", "081206143_Ch27", ".idx");
  fs::create_directories(idx);  // a folder in the index's place
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x100, 1);
  Send(t1);
  Send(a);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, a});
  EXPECT_EQ(tuner->Status, "Error:録画ファイル書き込み失敗 " + idx.string());
  EXPECT_EQ(tuner->LostPackets, 0);

  // Retried at the next time packet, without reopening the .ts in between.
  fs::remove(idx);
  const Packet t2 = TotPacket(2008, 12, 6, 14, 35, 8);
  Send(t2);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, a, t2});
  const auto records = ReadWholeFile(idx);
  ASSERT_EQ(records.size(), 9u);
  EXPECT_EQ(records[5] | records[6] << 8, 2 * 188);
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:35:08");
  EXPECT_FALSE(tuner->FileFault);
}

TEST_F(Recording, IndexWriteFailureLeavesTheTsRecording) {
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), t2 = TotPacket(2008, 12, 6, 14, 35, 8);
  const Packet a = PlainPacket(0x100, 1), b = PlainPacket(0x100, 2), t3 = TotPacket(2008, 12, 6, 14, 35, 9);
  Send(t1);
  Tick();
  rig.files.writeBudget = 2 * 188;  // room for the packets, none for t2's index record
  Send(t2);
  Send(a);
  Tick();
  EXPECT_EQ(tuner->Status, "Error:録画ファイル書き込み失敗 " + Pair("081206", "081206143_Ch27", ".idx").string());
  rig.files.writeBudget = -1;
  Send(b);  // stored although the index is still away
  Tick();
  EXPECT_TRUE(tuner->FileFault);
  Send(t3);
  Tick();
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, t2, a, b, t3});
  const auto idx = ReadWholeFile(Pair("081206", "081206143_Ch27", ".idx"));
  ASSERT_EQ(idx.size(), 18u);  // t1 and t3
  EXPECT_EQ(idx[9 + 5] | idx[9 + 6] << 8, 4 * 188);
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:35:09");
  EXPECT_EQ(tuner->LostPackets, 0);
}

TEST_F(Recording, AMissingRecordingFolderIsWaitedForNeverCreatedOrReplaced) {
  const fs::path late = rig.folder.path() / "mnt" / "rec";
  fs::create_directories(late.parent_path());
  rig.engine.SetTSFolder(late.string());
  EXPECT_EQ(rig.engine.TSFolder, late.string());
  EXPECT_EQ(oneseg::ini_read_string(rig.ConfigPath(), "Config", "TSFolder", ""), late.string());
  Send(TotPacket(2008, 12, 6, 14, 35, 7));
  Send(PlainPacket(0x100, 1));
  Tick();
  EXPECT_EQ(tuner->Status, "Error:録画ファイル書き込み失敗 " + late.string());
  EXPECT_EQ(tuner->LostPackets, 2);
  EXPECT_FALSE(fs::exists(late));
  EXPECT_TRUE(fs::is_empty(rig.Recordings()));
  EXPECT_TRUE(fs::is_empty(rig.folder.path() / "mnt"));

  fs::create_directories(late);  // the disk is mounted
  const Packet t = TotPacket(2008, 12, 6, 14, 35, 9);
  Send(t);
  Tick();
  ExpectTs(late / "081206" / "081206143_Ch27.ts", {t});
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:35:09");
}

TEST_F(Recording, ALinkInTheRecordingsPlaceIsNotFollowed) {
  const fs::path elsewhere = rig.folder.path() / "elsewhere";
  std::ofstream(elsewhere) << "precious";
  fs::create_directories(rig.Recordings() / "081206");
  const fs::path ts = Pair("081206", "081206143_Ch27", ".ts");
  fs::create_symlink(elsewhere, ts);
  Send(TotPacket(2008, 12, 6, 14, 35, 7));
  Tick();
  EXPECT_EQ(tuner->Status, "Error:録画ファイル書き込み失敗 " + ts.string());
  EXPECT_EQ(ReadWholeFile(elsewhere), (std::vector<std::uint8_t>{'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
}

TEST_F(Recording, PacketCountGoesPast32Bits) {
  tuner->PacketCount = 2147483647;
  Send(PlainPacket(0x100, 1));
  Tick();
  EXPECT_EQ(tuner->PacketCount, 2147483648LL);
}

TEST_F(Recording, FailedQueueQueryStopsTheTunerButKeepsItsFiles) {
  Send(TotPacket(2008, 12, 6, 14, 35, 7));
  Tick();
  rig.ops.scripts["R"].queueResult = 0x0C;
  rig.ops.calls.clear();
  Tick();
  EXPECT_EQ(tuner->State, NotInitialized);
  EXPECT_EQ(tuner->Status, "チューナー停止");
  EXPECT_EQ(rig.ops.calls, (std::vector<std::string>{"Close R"}));
  EXPECT_TRUE(tuner->TsStream);
  EXPECT_EQ(tuner->OpenFileBase, "081206143_Ch27");
}

TEST_F(Recording, FailedReadDropsThatReadAndEndsTheTunersPass) {
  const Packet tot = TotPacket(2008, 12, 6, 14, 35, 7);
  Send(tot);
  Send(tot);
  rig.ops.scripts["R"].readLimit = unitSize + 10;
  Tick();  // one packet, and part of the next carried
  EXPECT_EQ(tuner->Framer.Carried(), 10u);
  for (int k = 0; k < 3; ++k) Send(tot);
  rig.ops.scripts["R"].readResult = 0x02;
  Tick();
  EXPECT_EQ(tuner->PacketCount, 1);
  // What it handed over is lost, and the carried part unit no longer joins what follows.
  EXPECT_EQ(tuner->Framer.Carried(), 0u);
  EXPECT_EQ(tuner->Drops, (DropCounts{.framing = 0, .failedRead = 2}));
  EXPECT_EQ(tuner->Framer.Drops().bytes, 10);
  // No second try in the same pass: each may wait out the device's time-out.
  EXPECT_EQ(rig.ops.scripts["R"].stream.size(), 3u * unitSize - 20);
}

TEST_F(Recording, ADeviceThatNeverDeliversCannotHoldTheThread) {
  // Reports a queue it never hands over.
  struct Stuck : ScriptedOps {
    int CheckRxQueue(TOneSegTuner&, std::uint32_t& waiting) override {
      waiting = 100000;
      return 0;
    }
  } stuck;
  RecorderEngine engine({rig.clock, rig.usb, rig.driver, stuck, rig.files});
  engine.FormCreate(rig.folder.str());
  engine.Tuners[0]->State = Streaming;
  engine.RecordTimerTimer();  // returns
  EXPECT_EQ(engine.Tuners[0]->PacketCount, 0);
}

TEST_F(Recording, ASlowTunerStartsNoReadAfterAFifthOfASecondOfItsPass) {
  // Each read of R takes 0.15 s and hands over one unit.
  struct Slow : ScriptedOps {
    explicit Slow(FakeClock& clock) : clock(clock) {}
    int ReadStream(TOneSegTuner& t, std::uint8_t* buffer, std::uint32_t count, std::uint32_t& got) override {
      if (t.TunerID == "R") clock.Advance(0.15);
      return ScriptedOps::ReadStream(t, buffer, count, got);
    }
    FakeClock& clock;
  } slow(rig.clock);
  RecorderEngine engine({rig.clock, rig.usb, rig.driver, slow, rig.files});
  engine.FormCreate(rig.folder.str());
  TOneSegTuner& r = *engine.FindTunerById("R");
  r.State = Streaming;
  slow.scripts["R"].readLimit = r.UnitSize;
  for (int k = 0; k < 10; ++k) AppendUnit(slow.scripts["R"].stream, PlainPacket(0x100), r.UnitSize);
  const double before = rig.clock.Monotonic();
  engine.RecordTimerTimer();
  EXPECT_EQ(r.PacketCount, 2);  // reads started at 0 and 0.15 s; none at 0.30 s
  EXPECT_LE(rig.clock.Monotonic() - before, 0.3 + 1e-9);
  for (int pass = 0; pass < 4; ++pass) engine.RecordTimerTimer();
  EXPECT_EQ(r.PacketCount, 10);  // the rest follows in later passes
}

struct LogLines : RecordingListener {
  std::vector<std::string> lines;
  void Log(const std::string& line) override { lines.push_back(line); }
};

TEST_F(Recording, DropsAreLoggedByCauseOnceAMinuteAndWhenTheTunerGoes) {
  LogLines logs;
  rig.engine.SetListener(&logs);
  const std::string none = "R: 録画されなかったパケット 枠ずれ 0 追従 0 読み込み失敗 0 書き込み失敗 0 時刻受信前 ";
  Send(PlainPacket(0x100, 1));
  Tick();
  rig.clock.Advance(60);
  rig.engine.ProbeTimerTimer();
  Send(PlainPacket(0x100, 1));
  Tick();
  rig.clock.Advance(30);
  rig.engine.ProbeTimerTimer();  // changed, but shown less than a minute ago
  EXPECT_EQ(logs.lines, (std::vector<std::string>{none + "1"}));
  rig.engine.ReleaseTuner(tuner);
  rig.engine.ReleaseTuner(tuner);  // nothing new
  EXPECT_EQ(logs.lines, (std::vector<std::string>{none + "1", none + "2"}));
}

TEST_F(Recording, FullDiskIsShownCountedAndRetriedAtEachTimePacket) {
  LogLines logs;
  rig.engine.SetListener(&logs);
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x100, 1);
  Send(t1);
  Tick();
  rig.files.writeBudget = 100;  // the disk fills up: the next flush cannot store a packet
  Send(a);
  Send(a);
  Tick();
  EXPECT_EQ(tuner->Status, "Error:録画ファイル書き込み失敗 " +
                               (rig.Recordings() / "081206" / "081206143_Ch27.ts").string());
  EXPECT_EQ(tuner->LostPackets, 2);
  EXPECT_FALSE(tuner->TsStream);
  Send(a);  // nothing open: lost as well
  Tick();
  EXPECT_EQ(tuner->LostPackets, 3);

  const Packet t2 = TotPacket(2008, 12, 6, 14, 36, 0);
  Send(t2);  // the reopen works, the flush does not
  Tick();
  EXPECT_EQ(tuner->LostPackets, 4);
  EXPECT_EQ(tuner->Status.rfind("Error:", 0), 0u);

  rig.files.writeBudget = -1;  // space again
  const Packet t3 = TotPacket(2008, 12, 6, 14, 37, 0);
  Send(t3);
  Tick();
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:37:00");
  EXPECT_FALSE(tuner->FileFault);
  // The losses since the last failure line are shown once writing works again.
  ASSERT_FALSE(logs.lines.empty());
  EXPECT_EQ(logs.lines.back(), "R: 録画再開 (失われたパケット 4)");
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t1, t3});
  const auto idx = ReadWholeFile(Pair("081206", "081206143_Ch27", ".idx"));
  ASSERT_EQ(idx.size(), 18u);
  EXPECT_EQ(idx[9 + 5], 188);  // t3 sits right after t1
}

TEST_F(Recording, AFailedFlushAtMidnightNamesTheDayFolderOfItsPair) {
  LogLines logs;
  rig.engine.SetListener(&logs);
  Send(TotPacket(2008, 12, 6, 23, 59, 58));
  Tick();
  rig.files.writeBudget = 0;
  Send(PlainPacket(0x100, 1));
  Send(TotPacket(2008, 12, 7, 0, 0, 1));  // the rotation flushes the old pair first
  Tick();
  const std::string old = Pair("081206", "081206235_Ch27", ".ts").string();
  const auto named = [&](const std::string& path) {
    return std::any_of(logs.lines.begin(), logs.lines.end(),
                       [&](const std::string& line) { return line.find(path) != std::string::npos; });
  };
  EXPECT_TRUE(named(old));
  EXPECT_FALSE(named((rig.Recordings() / "081207" / "081206235_Ch27.ts").string()));
}

TEST_F(Recording, FolderOrFileThatCannotBeOpenedIsShownAndRetried) {
  rig.files.failMakeFolder = true;
  Send(TotPacket(2008, 12, 6, 14, 35, 7));
  Send(PlainPacket(0x100, 1));
  Tick();
  EXPECT_EQ(tuner->Status, "Error:録画ファイル書き込み失敗 " + (rig.Recordings() / "081206").string());
  EXPECT_EQ(tuner->LostPackets, 2);
  rig.files.failMakeFolder = false;
  rig.files.failOpen = true;
  Send(TotPacket(2008, 12, 6, 14, 35, 8));
  Tick();
  EXPECT_NE(tuner->Status.find("081206143_Ch27.ts"), std::string::npos);
  rig.files.failOpen = false;
  const Packet t = TotPacket(2008, 12, 6, 14, 35, 9);
  Send(t);
  Tick();
  EXPECT_EQ(tuner->Status, "放送受信：08/12/06 14:35:09");
  ExpectTs(Pair("081206", "081206143_Ch27", ".ts"), {t});
}

TEST_F(Recording, SweepRunsOncePerBroadcastHourAndNeverForEarlierTimes) {
  rig.engine.RecDays = 1;
  const auto oldFile = rig.Recordings() / "081201" / "081201103_Ch27.ts";
  auto plant = [&] {
    fs::create_directories(oldFile.parent_path());
    std::ofstream(oldFile) << "x";
  };
  plant();
  Send(TotPacket(2008, 12, 6, 14, 35, 2));  // confirmed by the next one
  Send(TotPacket(2008, 12, 6, 14, 35, 7));
  Tick();
  EXPECT_FALSE(fs::exists(oldFile));
  plant();
  Send(TotPacket(2008, 12, 6, 14, 59, 59));
  Send(TotPacket(2008, 12, 6, 13, 10, 0));  // the clock steps back an hour
  Tick();
  EXPECT_TRUE(fs::exists(oldFile));
  EXPECT_TRUE(fs::exists(Pair("081206", "081206131_Ch27", ".ts")));  // that period's pair reopened
  rig.clock.Advance(1475);  // 15:00:05: the broadcast may not run ahead of the PC's time passing
  Send(TotPacket(2008, 12, 6, 14, 59, 55));
  Send(TotPacket(2008, 12, 6, 15, 0, 0));
  Tick();
  EXPECT_FALSE(fs::exists(oldFile));
  EXPECT_EQ(rig.engine.LastSweepTime, EncodeDateTime(2008, 12, 6, 15, 0, 0));
}

TEST_F(Recording, ArbitraryBytesNeverBreakTheLoop) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 3000; ++i) {
      const auto byte = static_cast<std::uint8_t>(random());
      Stream().push_back(i % 197 == 0 ? 0x47 : i % 197 == 2 ? 0x14 : i % 197 == 5 ? 0x73 : byte);
    }
    Tick();
  }
  EXPECT_GT(tuner->PacketCount, 0);
  EXPECT_LT(tuner->Framer.Carried(), 5u * 197u);
}

}  // namespace
}  // namespace brannock::test
