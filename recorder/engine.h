#pragma once
// The recorder engine: the settings, the tuner list, discovery, the
// supervisor, the recording loop and the retention sweep, driven by the
// window's (or the window-less runner's) timers on one thread:
//   ProbeTimerTimer every 1000 ms, RecordTimerTimer every 50 ms.
// The parts of its steps that wait on a device run on each tuner's worker
// (DeviceSteps); what follows them runs on the engine's thread.
// It reaches devices only through the tuner operation set and the two
// discovery interfaces, files only through RecordingFileSystem, and time only
// through Clock, so that tests drive it with scripted parts.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "clock.h"
#include "device_steps.h"
#include "isdbt_driver.h"
#include "notice_gate.h"
#include "recording_files.h"
#include "retention_clock.h"
#include "settings.h"
#include "tuner.h"
#include "usbxpress.h"

namespace brannock {

// What the engine tells its holder. Every call comes from inside an engine
// operation on the engine's thread. Default: ignore.
class EngineListener {
 public:
  virtual ~EngineListener() = default;
  // A new enabled tuner: the window appends a tab for it.
  virtual void TunerAdded(TOneSegTuner& /*tuner*/) {}
  // A tuner is about to be released and destroyed: drop its tab now.
  virtual void TunerRemoving(TOneSegTuner& /*tuner*/) {}
  // End of a discovery pass: the list changed (TunerTabChange) or not (UpdateTunerView).
  virtual void TunerListChanged() {}
  virtual void TunerViewRefresh() {}
  virtual void StatusChanged(TOneSegTuner& /*tuner*/) {}
  virtual void TSFolderChanged(const std::string& /*folder*/) {}
  // A settings file could not be written ("%s に書き込めません").
  virtual void SettingsWriteFailed(const std::string& /*path*/) {}
  virtual void Log(const std::string& /*line*/) {}
  // A desktop notification that passed the rate limit (see Notify).
  virtual void Notification(const std::string& /*text*/) {}
  // Retention is held by an unusable stored RecDays (the text says so), again
  // at every sweep it holds, or (once) by a broadcast time that cannot be
  // trusted; an empty text when that is over.
  virtual void RetentionHeld(const std::string& /*text*/) {}
};

struct EngineParts {
  Clock& clock;
  SiUsbXpress& usb;
  IsdbtDriver& driver;
  TunerOperations& ops;
  RecordingFileSystem& files;
};

class RecorderEngine {
 public:
  explicit RecorderEngine(EngineParts parts);
  ~RecorderEngine();
  RecorderEngine(const RecorderEngine&) = delete;
  RecorderEngine& operator=(const RecorderEngine&) = delete;

  void SetListener(EngineListener* listener) { listener_ = listener; }
  // The clock broadcast times are judged by for retention: the PC's, unless
  // a simulation stands in for it (default: the engine's clock).
  void SetPcClock(Clock& clock) { pcClock_ = &clock; }
  // Where device steps run: at once on the engine's thread unless the runner
  // gives threaded workers. Set before the first tuner is found.
  void SetDeviceSteps(DeviceSteps& steps) { steps_ = &steps; }
  // Blocks until every tuner's device steps are done, then finishes them.
  void WaitForDeviceSteps();
  // Raises the process priority during start-up (the runners install it;
  // tests leave it empty).
  std::function<void()> RaisePriority;

  // ---- settings and start-up / shutdown (settings.cpp, engine.cpp)
  std::string ConfigPath;    // settings folder + "/OneSeg_Config.ini"
  std::string ChannelsPath;  // settings folder + "/OneSeg_Channels.ini"
  std::string TSFolder;      // no trailing "/"; empty = not set (working folder)
  int RecDays = kDefaultRecDays;  // 1..kMaxRecDays
  // The stored RecDays text while it is no usable number of days: nothing is
  // deleted meanwhile. None when RecDays holds.
  std::optional<std::string> RecDaysFault;
  bool EnableWatchDog = false;
  std::vector<std::string> StationList;  // key=value lines of [stationID]
  TDateTime LastSweepTime = 0;
  std::vector<std::unique_ptr<TOneSegTuner>> Tuners;  // discovery order

  // Start-up steps before the channel list: paths, TSFolder, RecDays,
  // EnableWatchDog, StationList, priority, empty tuner list.
  void LoadSettings(const std::string& settingsFolder);
  // LoadSettings then ScanTuners (the window fills its channel list between).
  void FormCreate(const std::string& settingsFolder);
  // Releases every tuner in list order, 1000 ms apart, then empties the list
  // (after the device steps under way: shutdown may wait for them).
  void FormDestroy();
  void SetTSFolder(const std::string& path);
  // Values above kMaxRecDays keep kMaxRecDays; below 1 are ignored.
  void SetRecDays(int days);

  // ---- discovery (discovery.cpp)
  void ScanTuners();
  TOneSegTuner* FindTunerById(const std::string& id);

  // ---- supervisor (supervisor.cpp)
  void ProbeTimerTimer();
  // Closes the tuner's files and lets go of its device; blocks until it has.
  void ReleaseTuner(TOneSegTuner* tuner);
  // The user picked item `itemIndex` of the channel list (0 = not set,
  // k = channel k + 12) while `current` was the selected tuner.
  void ChannelComboChange(TOneSegTuner* current, int itemIndex);

  // ---- recording loop (recording_loop.cpp)
  void RecordTimerTimer();

  // ---- retention (retention.cpp)
  // Runs the sweep for the time packet `t` of `tuner` when a new broadcast hour
  // has begun, the tuner's previous time packet confirms t, and t can be
  // trusted (RetentionClock; the sweep reckons with the time that gives).
  void SweepWhenDue(TOneSegTuner& tuner, TDateTime t);
  // The number of entries removed; -1 while retention is held (RecDaysFault).
  // At once, on the caller's thread (SweepWhenDue runs it where the file
  // system does its work).
  int SweepOldRecordings(TDateTime now);

  int EnabledTunerCount() const;

  // Passes `text` to the holder as a desktop notification unless one for the
  // same subject (a TunerID, or empty for the recorder as a whole) and cause
  // went out within the last ten minutes of the engine's clock.
  void Notify(const std::string& subject, NoticeCause cause, const std::string& text);

 private:
  // A step's device part works on a record of its own holding what the
  // operations read, and returns the status of its failure (empty: none).
  // Its finish runs on the engine's thread with the tuner, which has taken
  // the device handle from that record.
  using DevicePart = std::function<std::string(TOneSegTuner& device)>;
  using FinishPart = std::function<void(TOneSegTuner& tuner, const std::string& failure)>;

  // ---- device steps (tuner_steps.cpp)
  void PostStep(TOneSegTuner& tuner, DevicePart device, FinishPart finish);
  void CollectSteps();
  StepWorker& WorkerFor(const TOneSegTuner& tuner);
  bool StepPending(const TOneSegTuner& tuner);
  // The worker of a tuner leaving the list runs out its steps elsewhere.
  void RetireWorker(const TOneSegTuner& tuner);
  void PostRelease(TOneSegTuner& tuner, FinishPart finish);

  void InitTunerInterface(TOneSegTuner& tuner);
  void BootTuner(TOneSegTuner& tuner);
  void SetStatus(TOneSegTuner& tuner, const std::string& status);
  void WriteSetting(const std::string& section, const std::string& key, const std::string& value);
  TOneSegTuner& AddTuner(int kind, const std::string& id, int deviceNumber);
  void RemoveAbsentTuners(bool& changed);
  std::size_t FirstToServe() const;
  std::vector<TOneSegTuner*> ServeDueWatchdogs();
  void RestartWatch(TOneSegTuner& tuner);
  void Step(TOneSegTuner& tuner);
  void WatchdogAct(TOneSegTuner& tuner);
  bool WatchdogDue(const TOneSegTuner& tuner);
  void Alert(TOneSegTuner& tuner, NoticeCause cause);
  void RecordTuner(TOneSegTuner& tuner);
  void HandlePacket(TOneSegTuner& tuner, const std::uint8_t* packet);
  void TimePacket(TOneSegTuner& tuner, const std::uint8_t* packet);
  bool RotateFiles(TOneSegTuner& tuner);
  bool FollowsWriter(TOneSegTuner& tuner);
  TOneSegTuner* WriterFor(const TOneSegTuner& tuner);
  void TakeOverSilentWriter(TOneSegTuner& tuner);
  void ShowDrops(TOneSegTuner& tuner, bool final);
  bool OpenTs(TOneSegTuner& tuner);
  void FlushTunerFiles(TOneSegTuner& tuner);
  std::string OpenPairBase(const TOneSegTuner& tuner) const;
  void CloseTunerFiles(TOneSegTuner& tuner);
  void SettleClosedFiles(TOneSegTuner& tuner);
  void ReportFileFault(TOneSegTuner& tuner, const std::string& what, NoticeCause cause = NoticeCause::WriteFailure);
  void ReportOpenFault(TOneSegTuner& tuner, const OpenFault& fault);
  void ReportFlushFault(TOneSegTuner& tuner, const RecordingFile& file, const std::string& path);
  void EndFileFault(TOneSegTuner& tuner);
  void ShowLostPackets(TOneSegTuner& tuner, const std::string& what);
  void ApplyStoredRecDays();
  bool RetentionHeld();
  std::optional<TDateTime> ReckonRetentionTime(const TOneSegTuner& tuner, TDateTime t);
  std::vector<std::string> OpenBases() const;
  void ShowFinishedSweeps();

  Clock& clock_;
  Clock* pcClock_ = &clock_;
  SiUsbXpress& usb_;
  IsdbtDriver& driver_;
  TunerOperations& ops_;
  RecordingFileSystem& files_;
  EngineListener* listener_ = nullptr;
  std::vector<std::uint8_t> readBuffer_;
  double passNow_ = 0;  // monotonic seconds at the start of the record pass
  NoticeGate notices_;
  RetentionClock retentionClock_;
  std::string clockHeldText_;  // while a broadcast time holds retention
  // Sweeps done where the file system works, with what each removed, until
  // the engine's thread says so.
  struct FinishedSweeps {
    std::mutex mutex;
    std::vector<std::pair<TDateTime, int>> sweeps;
  };
  std::shared_ptr<FinishedSweeps> sweepsDone_ = std::make_shared<FinishedSweeps>();
  // The supervisor's walk starts after the tuner it served last, so a tuner
  // that fails every step cannot keep the ones behind it waiting.
  std::string lastServed_;
  InlineSteps inlineSteps_;
  DeviceSteps* steps_ = &inlineSteps_;
  std::map<const TOneSegTuner*, std::unique_ptr<StepWorker>> workers_;
  std::vector<std::unique_ptr<StepWorker>> retiring_;
};

}  // namespace brannock
