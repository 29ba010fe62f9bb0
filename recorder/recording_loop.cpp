// The recording loop: drains every streaming tuner's queue, frames transport
// packets, follows the broadcast time and writes the .ts/.idx pairs.
#include <algorithm>

#include "datetime.h"
#include "engine.h"
#include "index_record.h"
#include "time_packet.h"

namespace brannock {
namespace {

constexpr std::uint32_t kMaxRead = 65536;
// A device that keeps reporting data without delivering it must not hold the
// thread: one pass reads a tuner at most this often.
constexpr int kMaxReadsPerPass = 64;
// Nor may a slow one: after this many seconds of its pass a tuner starts no
// further read, so the others are read again within a second.
constexpr double kPassBudget = 0.2;
// Seconds a writer may deliver nothing before a follower hearing the channel
// takes over, and how recent the follower's own time packet must be for the
// file it names to be the right one.
constexpr double kWriterSilence = 5;
constexpr double kFreshTimePacket = 15;
constexpr double kDropReportEvery = 60;

bool UsableUnitSize(std::uint16_t unitSize) { return unitSize >= kPacketSize && unitSize <= kMaxUnitSize; }

}  // namespace

void RecorderEngine::RecordTimerTimer() {
  CollectSteps();
  ShowFinishedSweeps();
  passNow_ = clock_.Monotonic();
  for (auto& entry : Tuners) {
    TOneSegTuner& tuner = *entry;
    if (tuner.State != Streaming || tuner.Disable || !UsableUnitSize(tuner.UnitSize)) continue;
    try {
      RecordTuner(tuner);
    } catch (...) {
      // An unexpected failure costs this tuner's pass only; its data so far is flushed below.
    }
    FlushTunerFiles(tuner);
  }
  for (auto& entry : Tuners) SettleClosedFiles(*entry);
  CollectSteps();
}

void RecorderEngine::RecordTuner(TOneSegTuner& tuner) {
  std::uint32_t waiting = 0;
  if (ops_.CheckRxQueue(tuner, waiting) != 0) {
    tuner.State = Working;
    PostStep(
        tuner,
        [this](TOneSegTuner& device) {
          ops_.CloseDevice(device);
          return std::string();
        },
        [this](TOneSegTuner& stopped, const std::string&) {
          stopped.State = NotInitialized;
          SetStatus(stopped, "チューナー停止");
          Alert(stopped, NoticeCause::TunerError);
        });
    return;
  }
  if (tuner.Framer.UnitSize() != tuner.UnitSize) tuner.Framer = TsFramer(tuner.UnitSize);
  const auto handle = [&](const std::uint8_t* packet) { HandlePacket(tuner, packet); };
  // A read that fails with nothing or comes empty leaves the framer's carried
  // bytes for the next one.
  const double start = clock_.Monotonic();
  for (int reads = 0; waiting >= tuner.UnitSize && reads < kMaxReadsPerPass && clock_.Monotonic() - start < kPassBudget;
       ++reads) {
    const std::uint32_t count = std::min(waiting, kMaxRead);
    std::uint32_t got = 0;
    const int status = ops_.ReadStream(tuner, readBuffer_.data(), count, got);
    if (status != 0) {
      // A failing device is tried again next pass, not here: each try can
      // wait out the device's time-out while the other tuners wait too.
      // Bytes it handed over are not framed, and what follows them no longer
      // continues the carried bytes.
      got = std::min(got, count);
      tuner.Drops.failedRead += (got + tuner.UnitSize - 1) / tuner.UnitSize;
      if (got > 0) tuner.Framer.Gap();
      break;
    }
    if (got == 0) break;  // nothing came although the queue said so
    tuner.Framer.Feed(readBuffer_.data(), std::min(got, count), handle);
    tuner.Drops.framing = tuner.Framer.Drops().bytes / tuner.UnitSize;
    if (ops_.CheckRxQueue(tuner, waiting) != 0) waiting = 0;
  }
}

void RecorderEngine::HandlePacket(TOneSegTuner& tuner, const std::uint8_t* packet) {
  tuner.LastDeliveryAt = passNow_;
  if (IsTimePacketPid(packet)) TimePacket(tuner, packet);
  if (!tuner.TsStream && !tuner.FileFault) TakeOverSilentWriter(tuner);
  // A tuner whose own files failed loses nothing while another one stores
  // the channel: only what nobody stores is shown as lost.
  if (tuner.TsStream) {
    tuner.TsStream->Append(packet, kPacketSize);
  } else if (WriterFor(tuner) != nullptr) {
    ++tuner.Drops.follower;
  } else if (tuner.FileFault) {
    ++tuner.LostPackets;
  } else {
    ++tuner.Drops.beforeTime;
  }
  ++tuner.PacketCount;
}

// Another tuner streaming the same channel into an open pair.
TOneSegTuner* RecorderEngine::WriterFor(const TOneSegTuner& tuner) {
  for (const auto& other : Tuners) {
    if (other.get() != &tuner && other->TsStream && other->State == Streaming && other->Channel == tuner.Channel) {
      return other.get();
    }
  }
  return nullptr;
}

// A follower that hears the channel while the writer has delivered nothing
// for a while (its aerial or device failing) stores the channel itself, into
// the file its own last time packet names, rather than losing everything
// until the writer is re-sent or re-initialised.
void RecorderEngine::TakeOverSilentWriter(TOneSegTuner& tuner) {
  if (tuner.TimeReadAt < 0 || passNow_ - tuner.TimeReadAt > kFreshTimePacket) return;
  TOneSegTuner* writer = WriterFor(tuner);
  if (writer == nullptr || passNow_ - writer->LastDeliveryAt < kWriterSilence) return;
  CloseTunerFiles(*writer);
  RotateFiles(tuner);
}

void RecorderEngine::TimePacket(TOneSegTuner& tuner, const std::uint8_t* packet) {
  std::uint8_t jst[5] = {};
  const TDateTime t = ParseTimePacket(packet, jst);
  if (t == 0) return;
  tuner.LastTimeStamp = t;
  tuner.TimeOffset = clock_.Now() - t;
  tuner.TimeReadAt = tuner.WatchFrom = clock_.Monotonic();
  // While nothing can be stored the failure stays on show instead.
  if (!tuner.FileFault) SetStatus(tuner, "放送受信：" + FormatBroadcastTime(t));
  tuner.WatchState = 1;
  tuner.FileBase = FileBaseFor(t, tuner.Channel);
  tuner.DateFolder = DateFolderFor(t);
  // Also while the index is missing, or while another tuner writes the pair.
  const bool open = (tuner.FileBase == tuner.OpenFileBase && tuner.IdxStream) || RotateFiles(tuner);
  if (open && tuner.IdxStream) {
    const auto record = IndexRecord(jst, tuner.TsStream ? tuner.TsStream->Length() : 0);
    tuner.IdxStream->Append(record.data(), record.size());
  }
  // Also when the rotation failed: on a full disk the sweep is what frees the
  // space the next rotation needs.
  SweepWhenDue(tuner, t);
}

// False when nothing of the pair could be opened or its index is missing.
bool RecorderEngine::RotateFiles(TOneSegTuner& tuner) {
  if (tuner.FileBase != tuner.OpenFileBase) CloseTunerFiles(tuner);
  if (!tuner.TsStream) {
    if (FollowsWriter(tuner)) return true;
    if (!OpenTs(tuner)) return false;
  }
  // Packets are stored whenever the .ts opened; the index is retried at
  // every time packet until it opens as well.
  OpenFault fault;
  tuner.IdxStream = files_.OpenRecording({TSFolder, tuner.DateFolder, tuner.FileBase + ".idx"}, fault);
  if (!tuner.IdxStream) {
    ReportOpenFault(tuner, fault);
    return false;
  }
  tuner.IdxStream->IndexOf(*tuner.TsStream);
  return true;
}

// Two tuners on one channel store one copy: the tuner that has a pair of the
// channel open writes and the other only counts, also while the two read
// different ten minutes (one device's data lags the other's: opening its own
// pair would store the ten minutes at the boundary twice). A holder of this
// pair that stopped streaming or was retuned lets go of it, and this tuner
// takes over.
bool RecorderEngine::FollowsWriter(TOneSegTuner& tuner) {
  if (WriterFor(tuner) != nullptr) {
    if (tuner.FileFault) EndFileFault(tuner);
    return true;
  }
  for (const auto& other : Tuners) {
    if (other.get() != &tuner && other->TsStream && other->OpenFileBase == tuner.FileBase) CloseTunerFiles(*other);
  }
  return false;
}

// The file layer makes the day folder; a mount point that is not there yet is
// waited for, never created and never replaced by another folder. Where the
// open completes later, what it meets is reported by the next flush.
bool RecorderEngine::OpenTs(TOneSegTuner& tuner) {
  OpenFault fault;
  tuner.TsStream = files_.OpenRecording({TSFolder, tuner.DateFolder, tuner.FileBase + ".ts"}, fault);
  if (!tuner.TsStream) {
    ReportOpenFault(tuner, fault);
    return false;
  }
  tuner.OpenFileBase = tuner.FileBase;
  tuner.OpenDateFolder = tuner.DateFolder;
  return true;
}

void RecorderEngine::ReportFileFault(TOneSegTuner& tuner, const std::string& path, NoticeCause cause) {
  tuner.FileFault = true;
  SetStatus(tuner, "Error:録画ファイル書き込み失敗 " + path);
  ShowLostPackets(tuner, "録画ファイル書き込み失敗 " + path);
  Alert(tuner, cause);
}

void RecorderEngine::ReportOpenFault(TOneSegTuner& tuner, const OpenFault& fault) {
  ReportFileFault(tuner, fault.path, fault.folderMissing ? NoticeCause::FolderMissing : NoticeCause::WriteFailure);
}

// A failed flush names its file, or what the file's open failed on.
void RecorderEngine::ReportFlushFault(TOneSegTuner& tuner, const RecordingFile& file, const std::string& path) {
  if (const auto open = file.OpenFailed()) {
    ReportOpenFault(tuner, *open);
  } else {
    ReportFileFault(tuner, path);
  }
}

void RecorderEngine::EndFileFault(TOneSegTuner& tuner) {
  tuner.FileFault = false;
  SetStatus(tuner, "放送受信：" + FormatBroadcastTime(tuner.LastTimeStamp));
  ShowLostPackets(tuner, "録画再開");
}

// Every packet lost to a write failure must be shown at some point: at each
// failure, when writing works again, and when the tuner goes while failing.
void RecorderEngine::ShowLostPackets(TOneSegTuner& tuner, const std::string& what) {
  if (listener_ != nullptr) {
    listener_->Log(tuner.TunerID + ": " + what + " (失われたパケット " + std::to_string(tuner.LostPackets) + ")");
  }
}

// The drop counts by cause, with the write failures' lost packets, when they
// changed: at most once a minute while the tuner runs, and when it goes.
void RecorderEngine::ShowDrops(TOneSegTuner& tuner, bool final) {
  const bool changed = !(tuner.Drops == tuner.DropsShown) || tuner.LostPackets != tuner.LostShown;
  if (!changed || (!final && clock_.Monotonic() - tuner.DropsShownAt < kDropReportEvery)) return;
  tuner.DropsShown = tuner.Drops;
  tuner.LostShown = tuner.LostPackets;
  tuner.DropsShownAt = clock_.Monotonic();
  if (listener_ == nullptr) return;
  const DropCounts& d = tuner.Drops;
  listener_->Log(tuner.TunerID + ": 録画されなかったパケット 枠ずれ " + std::to_string(d.framing) + " 追従 " +
                 std::to_string(d.follower) + " 読み込み失敗 " + std::to_string(d.failedRead) + " 書き込み失敗 " +
                 std::to_string(tuner.LostPackets) + " 時刻受信前 " + std::to_string(d.beforeTime));
}

// The open pair's path without its extension.
std::string RecorderEngine::OpenPairBase(const TOneSegTuner& tuner) const {
  return PathOf({TSFolder, tuner.OpenDateFolder, tuner.OpenFileBase});
}

void RecorderEngine::FlushTunerFiles(TOneSegTuner& tuner) {
  if (!tuner.TsStream) return;
  const bool appended = tuner.TsStream->Pending() > 0;
  // Writing works again once what went before reached the disk (a write
  // queue opens and writes after the flush).
  const bool stored = tuner.TsStream->Settled();
  const std::size_t lost = tuner.TsStream->Flush();
  const bool tsOk = lost == 0;
  // Index records must never point at packets that did not reach the file.
  if (!tsOk && tuner.IdxStream) tuner.IdxStream->DropPending();
  const bool idxOk = !tuner.IdxStream || tuner.IdxStream->Flush() == 0;
  const std::string base = OpenPairBase(tuner);
  // An index that could not be opened is shown also when the .ts failed at
  // the same time: what the .ts holds already stays without its index.
  if (!tsOk && !idxOk && tuner.IdxStream->OpenFailed()) ReportFlushFault(tuner, *tuner.IdxStream, base + ".idx");
  if (!tsOk) {
    // The pair takes nothing more until a time packet opens it afresh.
    tuner.LostPackets += static_cast<std::int64_t>(lost / kPacketSize);
    ReportFlushFault(tuner, *tuner.TsStream, base + ".ts");
    tuner.TsStream.reset();
    tuner.IdxStream.reset();
    tuner.OpenFileBase.clear();
  } else if (!idxOk) {
    // The packets go on into the .ts; the next time packet retries the index.
    ReportFlushFault(tuner, *tuner.IdxStream, base + ".idx");
    tuner.IdxStream.reset();
  } else if (tuner.FileFault && appended && stored && tuner.IdxStream) {
    EndFileFault(tuner);
  }
}

// A closed recording's queued writes can still fail: their losses are shown
// like those of the open one.
void RecorderEngine::SettleClosedFiles(TOneSegTuner& tuner) {
  std::erase_if(tuner.Closing, [&](const ClosedRecording& closed) {
    if (const std::size_t lost = closed.file->Flush(); lost != 0) {
      tuner.LostPackets += static_cast<std::int64_t>(lost / kPacketSize);
      ReportFlushFault(tuner, *closed.file, closed.path);
    }
    return closed.file->Settled();
  });
}

void RecorderEngine::CloseTunerFiles(TOneSegTuner& tuner) {
  FlushTunerFiles(tuner);
  if (tuner.TsStream && !tuner.TsStream->Settled()) {
    tuner.Closing.push_back({tuner.TsStream, OpenPairBase(tuner) + ".ts"});
  }
  tuner.TsStream.reset();
  tuner.IdxStream.reset();
  tuner.OpenFileBase.clear();
}

}  // namespace brannock
