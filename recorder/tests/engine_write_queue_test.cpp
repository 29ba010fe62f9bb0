// The write queue under the recording loop: a held-up disk stops no tuner and
// loses only what does not fit, whether it holds up writes, opens or the
// retention sweep; a failed write or open is shown and counted even when it
// fails after its file was closed, and no index record outlives its packets
// or misses their offset.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "datetime.h"
#include "engine_fakes.h"
#include "ini.h"
#include "time_packet.h"
#include "write_queue.h"

namespace brannock::test {
namespace {

namespace fs = std::filesystem;

// A disk whose folder look-ups, opens and writes wait until it is let go.
// The thread that held it (the engine's) must never wait: its waits run out
// after a second and are counted, so that such a wait fails instead of hangs.
class HeldDisk : public RecordingFileSystem {
 public:
  explicit HeldDisk(RecordingFileSystem& inner) : inner_(inner) {}
  void Hold() {
    const std::lock_guard lock(mutex_);
    held_ = true;
    holder_ = std::this_thread::get_id();
  }
  int HolderWaits() {
    const std::lock_guard lock(mutex_);
    return holderWaits_;
  }
  void Release() {
    {
      const std::lock_guard lock(mutex_);
      held_ = false;
    }
    released_.notify_all();
  }
  bool IsFolder(const std::string& path) override { return Wait(), inner_.IsFolder(path); }
  bool MakeFolder(const std::string& path) override { return Wait(), inner_.MakeFolder(path); }
  std::unique_ptr<RecordingFolder> OpenFolder(const std::string& path) override { return Wait(), inner_.OpenFolder(path); }
  std::shared_ptr<RecordingFile> OpenShared(const std::string& path) override {
    Wait();
    auto file = inner_.OpenShared(path);
    return file ? std::make_shared<HeldFile>(*this, std::move(file)) : nullptr;
  }

 private:
  void Wait() {
    std::unique_lock lock(mutex_);
    if (std::this_thread::get_id() != holder_) {
      released_.wait(lock, [this] { return !held_; });
    } else if (!released_.wait_for(lock, std::chrono::seconds(1), [this] { return !held_; })) {
      ++holderWaits_;
    }
  }
  struct HeldFile : RecordingFile {
    HeldFile(HeldDisk& disk, std::shared_ptr<RecordingFile> inner) : disk(disk), inner(std::move(inner)) {}
    void Append(const std::uint8_t* data, std::size_t size) override { inner->Append(data, size); }
    std::uint64_t Length() const override { return inner->Length(); }
    std::size_t Pending() const override { return inner->Pending(); }
    void DropPending() override { inner->DropPending(); }
    std::size_t Flush() override {
      disk.Wait();
      return inner->Flush();
    }
    HeldDisk& disk;
    std::shared_ptr<RecordingFile> inner;
  };
  RecordingFileSystem& inner_;
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  std::thread::id holder_;
  int holderWaits_ = 0;
};

struct QueueRig {
  TempFolder folder;
  FakeClock clock;
  FakeUsb usb;
  FakeDriver driver;
  ScriptedOps ops;
  PosixFileSystem disk;
  FaultInjectingFileSystem faults{disk};
  HeldDisk held{faults};
  QueuedFileSystem queue;
  RecorderEngine engine{{clock, usb, driver, ops, queue}};

  explicit QueueRig(std::size_t queueBytes) : queue(held, queueBytes) {
    fs::create_directories(folder.path() / "rec");
    oneseg::ini_write_string((folder.path() / "OneSeg_Config.ini").string(), "Config", "TSFolder", (folder.path() / "rec").string());
    clock.now = EncodeDateTime(2008, 12, 6, 14, 35, 30);
    engine.FormCreate(folder.str());
  }
  ~QueueRig() { held.Release(); }
  void Pass() {
    engine.RecordTimerTimer();
    queue.Drain();
  }
  TOneSegTuner& Tuner(const std::string& serial, int channel) {
    oneseg::ini_write_string((folder.path() / "OneSeg_Config.ini").string(), TunerSection(serial), "Channel", std::to_string(channel));
    usb.devices.push_back({"PCTV-hiwasa", serial});
    engine.ScanTuners();
    TOneSegTuner& tuner = *engine.FindTunerById(serial);
    tuner.State = Streaming;
    return tuner;
  }
  void Send(TOneSegTuner& tuner, const Packet& packet) { AppendUnit(ops.scripts[tuner.TunerID].stream, packet, tuner.UnitSize); }
  fs::path Pair(const std::string& base, const char* ext) { return folder.path() / "rec" / "081206" / (base + ext); }
};

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(WriteQueue, AHeldUpDiskStopsNoTunerAndLosesOnlyWhatDoesNotFit) {
  QueueRig rig(40 * kPacketSize);
  TOneSegTuner& r = rig.Tuner("R", 27);
  TOneSegTuner& s = rig.Tuner("S", 20);
  rig.held.Hold();
  const Packet a = PlainPacket(0x100, 1);
  for (int pass = 0; pass < 10; ++pass) {
    for (TOneSegTuner* t : {&r, &s}) {
      rig.Send(*t, TotPacket(2008, 12, 6, 14, 35, pass));
      for (int k = 0; k < 3; ++k) rig.Send(*t, a);
    }
    rig.engine.RecordTimerTimer();  // returns although nothing reaches the disk
  }
  EXPECT_EQ(rig.held.HolderWaits(), 0);
  EXPECT_EQ(r.PacketCount, 40);
  EXPECT_EQ(s.PacketCount, 40);
  // About half fits; the rest is refused, shown and counted.
  EXPECT_GT(r.LostPackets + s.LostPackets, 30);
  EXPECT_EQ(s.Status.rfind("Error:録画ファイル書き込み失敗 ", 0), 0u);
  rig.held.Release();
  rig.queue.Drain();
  for (TOneSegTuner* t : {&r, &s}) {
    const std::string base = "081206143_Ch" + std::to_string(t->Channel);
    const auto ts = ReadWholeFile(rig.Pair(base, ".ts"));
    const auto idx = ReadWholeFile(rig.Pair(base, ".idx"));
    EXPECT_EQ(ts.size(), (40 - t->LostPackets) * kPacketSize) << base;
    for (std::size_t at = 0; at + 9 <= idx.size(); at += 9) {
      const std::size_t offset = idx[at + 5] | idx[at + 6] << 8 | idx[at + 7] << 16;
      ASSERT_LT(offset, ts.size()) << base;
      EXPECT_EQ(ts[offset + 5], 0x73) << base;  // every record points at a time packet
    }
  }
}

TEST(WriteQueue, WritesFailingLaterAreShownAndCountedAndTakeTheirIndexWithThem) {
  QueueRig rig(1 << 20);
  TOneSegTuner& r = rig.Tuner("R", 27);
  const Packet t1 = TotPacket(2008, 12, 6, 14, 35, 7), a = PlainPacket(0x100, 1);
  rig.Send(r, t1);
  rig.Send(r, a);
  rig.engine.RecordTimerTimer();
  rig.queue.Drain();
  rig.faults.writeBudget = 100;  // the disk is full from now on
  rig.held.Hold();
  rig.Send(r, a);
  rig.Send(r, TotPacket(2008, 12, 6, 14, 40, 0));  // the next pair: the first one closes
  rig.Send(r, a);
  rig.engine.RecordTimerTimer();
  EXPECT_FALSE(r.FileFault);  // nothing has failed yet
  EXPECT_EQ(rig.held.HolderWaits(), 0);
  rig.held.Release();
  rig.queue.Drain();
  rig.engine.RecordTimerTimer();
  EXPECT_EQ(r.LostPackets, 3);  // one in the closed pair, two in the open one
  EXPECT_TRUE(r.FileFault);
  EXPECT_TRUE(r.Closing.empty());
  std::vector<std::uint8_t> first(t1);
  first.insert(first.end(), a.begin(), a.end());
  EXPECT_EQ(ReadWholeFile(rig.Pair("081206143_Ch27", ".ts")), first);
  EXPECT_EQ(ReadWholeFile(rig.Pair("081206144_Ch27", ".ts")).size(), 0u);
  EXPECT_EQ(ReadWholeFile(rig.Pair("081206144_Ch27", ".idx")).size(), 0u);
}

// S's pair is opened (and its day folder looked up) while the disk is held:
// R goes on being read meanwhile. S's pair already holds an earlier run's
// packets: its new index records point past them.
TEST(WriteQueue, AnOpenHeldUpByTheDiskStopsNoTunerAndItsIndexCountsFromTheFilesLength) {
  QueueRig rig(1 << 20);
  TOneSegTuner& r = rig.Tuner("R", 27);
  TOneSegTuner& s = rig.Tuner("S", 20);
  const Packet a = PlainPacket(0x100, 1), earlier = PlainPacket(0x100, 9);
  std::vector<std::uint8_t> ts;
  for (int k = 0; k < 3; ++k) ts.insert(ts.end(), earlier.begin(), earlier.end());
  const std::vector<std::uint8_t> oldRecord = {1, 2, 3, 4, 5, 0, 0, 0, 0};
  WriteFile(rig.Pair("081206143_Ch20", ".ts"), ts);
  WriteFile(rig.Pair("081206143_Ch20", ".idx"), oldRecord);
  rig.Send(r, TotPacket(2008, 12, 6, 14, 35, 7));
  rig.Pass();

  rig.held.Hold();
  const Packet t = TotPacket(2008, 12, 6, 14, 35, 8);
  rig.Send(s, t);
  rig.Send(s, a);
  for (int pass = 0; pass < 3; ++pass) {
    rig.Send(r, a);
    rig.engine.RecordTimerTimer();
  }
  EXPECT_EQ(rig.held.HolderWaits(), 0);
  EXPECT_EQ(r.PacketCount, 4);
  EXPECT_EQ(s.PacketCount, 2);
  rig.held.Release();
  rig.queue.Drain();

  EXPECT_EQ(ReadWholeFile(rig.Pair("081206143_Ch27", ".ts")).size(), 4 * kPacketSize);
  for (const Packet& p : {t, a}) ts.insert(ts.end(), p.begin(), p.end());
  EXPECT_EQ(ReadWholeFile(rig.Pair("081206143_Ch20", ".ts")), ts);
  const auto idx = ReadWholeFile(rig.Pair("081206143_Ch20", ".idx"));
  ASSERT_EQ(idx.size(), 18u);
  EXPECT_TRUE(std::equal(oldRecord.begin(), oldRecord.end(), idx.begin()));
  EXPECT_TRUE(std::equal(t.begin() + 8, t.begin() + 13, idx.begin() + 9));  // t's JST time ...
  EXPECT_EQ(idx[9 + 5] | idx[9 + 6] << 8 | idx[9 + 7] << 16 | idx[9 + 8] << 24, 3 * 188);  // ... at its offset
  EXPECT_FALSE(s.FileFault);
}

// What an open meets on the writer thread is shown at the next pass with the
// path and cause a failed open shows, and its packets are counted as lost;
// no recovery is shown before the pair really opens.
TEST(WriteQueue, AnOpenFailingOnTheWriterIsShownAndCountedWithItsCause) {
  QueueRig rig(1 << 20);
  RecordingListener listener;
  rig.engine.SetListener(&listener);
  const fs::path late = rig.folder.path() / "mnt";
  rig.engine.SetTSFolder(late.string());
  TOneSegTuner& r = rig.Tuner("R", 27);
  const Packet a = PlainPacket(0x100, 1);
  rig.Send(r, TotPacket(2008, 12, 6, 14, 35, 7));
  rig.Send(r, a);
  rig.Pass();
  rig.Send(r, a);
  rig.Pass();
  EXPECT_EQ(r.Status, "Error:録画ファイル書き込み失敗 " + late.string());
  EXPECT_EQ(r.LostPackets, 3);
  EXPECT_FALSE(fs::exists(late));
  const auto failedFrom = static_cast<std::ptrdiff_t>(listener.events.size());

  fs::create_directories(late);
  rig.faults.failMakeFolder = true;
  rig.Send(r, TotPacket(2008, 12, 6, 14, 35, 12));
  rig.Pass();
  rig.Pass();
  EXPECT_EQ(r.Status, "Error:録画ファイル書き込み失敗 " + (late / "081206").string());
  EXPECT_EQ(r.LostPackets, 4);
  // A missing folder and a failing write are separate causes: both notified.
  EXPECT_EQ(listener.notices.size(), 2u);
  EXPECT_EQ(std::count_if(listener.events.begin() + failedFrom, listener.events.end(),
                          [](const std::string& e) { return e.find("放送受信") != std::string::npos; }), 0);

  rig.faults.failMakeFolder = false;
  const Packet t = TotPacket(2008, 12, 6, 14, 35, 17);
  rig.Send(r, t);
  rig.Pass();
  rig.Send(r, a);
  rig.Pass();
  EXPECT_EQ(r.Status, "放送受信：08/12/06 14:35:17");
  EXPECT_FALSE(r.FileFault);
  std::vector<std::uint8_t> ts(t);
  ts.insert(ts.end(), a.begin(), a.end());
  EXPECT_EQ(ReadWholeFile(late / "081206" / "081206143_Ch27.ts"), ts);

  // The next pair's index cannot be opened and its first write fails: both are shown.
  const fs::path idx = late / "081206" / "081206144_Ch27.idx";
  fs::create_directories(idx);
  rig.faults.writeBudget = 0;
  rig.Send(r, TotPacket(2008, 12, 6, 14, 40, 0));
  rig.Pass();
  rig.Pass();
  EXPECT_EQ(std::count(listener.events.begin(), listener.events.end(),
                       "status R Error:録画ファイル書き込み失敗 " + idx.string()), 1);
  EXPECT_EQ(r.Status, "Error:録画ファイル書き込み失敗 " + (late / "081206" / "081206144_Ch27.ts").string());
}

// The retention sweep waits for a held disk where the writes do, never on
// the engine's thread, and removes what is old once the disk is back.
TEST(WriteQueue, TheSweepWaitsForAHeldDiskOnTheWritersThread) {
  QueueRig rig(1 << 20);
  TOneSegTuner& r = rig.Tuner("R", 27);
  const fs::path old = rig.folder.path() / "rec" / "081001" / "081001100_Ch27.ts";
  WriteFile(old, {1, 2, 3});
  rig.Send(r, TotPacket(2008, 12, 6, 14, 35, 7));
  rig.Pass();
  rig.held.Hold();
  rig.Send(r, TotPacket(2008, 12, 6, 14, 35, 12));  // confirms the first: the sweep is due
  rig.engine.RecordTimerTimer();
  EXPECT_EQ(rig.held.HolderWaits(), 0);
  EXPECT_TRUE(fs::exists(old));
  rig.held.Release();
  rig.Pass();
  EXPECT_FALSE(fs::exists(old.parent_path()));
}

}  // namespace
}  // namespace brannock::test
