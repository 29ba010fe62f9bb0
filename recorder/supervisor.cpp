// The supervisor: at each ProbeTimer tick every due watchdog's re-send /
// re-initialisation, then one open or boot step for one tuner; the channel
// change, and the release of a tuner.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine.h"

namespace brannock {
namespace {

// "Error:" + operation + "(" + code as two upper-case hex digits + ")".
std::string ErrorStatus(const char* operation, int code) {
  char text[64];
  std::snprintf(text, sizeof text, "Error:%s(%02X)", operation, static_cast<unsigned>(code) & 0xFFu);
  return text;
}

constexpr int kWatchdogResends = 5;  // the fifth firing re-initialises

}  // namespace

void RecorderEngine::ProbeTimerTimer() {
  try {
    ScanTuners();
    const std::vector<TOneSegTuner*> fired = ServeDueWatchdogs();
    const std::size_t count = Tuners.size();
    const std::size_t first = FirstToServe();
    for (std::size_t k = 0; k < count; ++k) {
      TOneSegTuner& tuner = *Tuners[(first + k) % count];
      if (tuner.Disable || (tuner.State != NotInitialized && tuner.State != InterfaceOpen)) continue;
      // A re-initialisation was this tuner's step: it is re-opened next tick.
      if (std::find(fired.begin(), fired.end(), &tuner) != fired.end()) continue;
      lastServed_ = tuner.TunerID;
      Step(tuner);
      break;
    }
    for (auto& tuner : Tuners) ShowDrops(*tuner, false);
  } catch (...) {
    // A failing step ends the tick quietly; the next tick starts afresh.
  }
}

// Every due watchdog fires at this tick, the longest silence first, before
// any tuner is opened or booted: a silence is never outwaited by other
// tuners' steps. Returns the tuners served.
std::vector<TOneSegTuner*> RecorderEngine::ServeDueWatchdogs() {
  std::vector<TOneSegTuner*> due;
  for (auto& tuner : Tuners) {
    if (!tuner->Disable && WatchdogDue(*tuner)) due.push_back(tuner.get());
  }
  std::stable_sort(due.begin(), due.end(), [](const TOneSegTuner* a, const TOneSegTuner* b) { return a->WatchFrom < b->WatchFrom; });
  for (TOneSegTuner* tuner : due) WatchdogAct(*tuner);
  return due;
}

// The tuner after the one served last; the first when that one is gone.
std::size_t RecorderEngine::FirstToServe() const {
  for (std::size_t i = 0; i < Tuners.size(); ++i) {
    if (Tuners[i]->TunerID == lastServed_) return (i + 1) % Tuners.size();
  }
  return 0;
}

void RecorderEngine::Step(TOneSegTuner& tuner) {
  if (tuner.State == NotInitialized) {
    tuner.State = Working;
    InitTunerInterface(&tuner);
  } else {
    tuner.State = Working;
    BootTuner(&tuner);
  }
}

// Measured on the monotonic clock, so that setting the PC's clock neither
// fires nor holds off any watchdog.
bool RecorderEngine::WatchdogDue(const TOneSegTuner& tuner) {
  if (tuner.WatchState != 1 || !EnableWatchDog || tuner.State != Streaming) return false;
  // Whole seconds, fraction dropped; the small allowance keeps a difference
  // of exactly n seconds from reading as n - 1 after floating-point rounding.
  const auto elapsed = static_cast<long long>(std::floor(clock_.Monotonic() - tuner.WatchFrom + 1e-6));
  return elapsed > tuner.WatchTimeout;
}

// The stream starts afresh: the watchdog counts from now.
void RecorderEngine::RestartWatch(TOneSegTuner& tuner) {
  tuner.LastTimeStamp = clock_.Now();
  tuner.TimeOffset = 0;
  tuner.WatchFrom = clock_.Monotonic();
}

void RecorderEngine::WatchdogAct(TOneSegTuner& tuner) {
  ++tuner.RetryCount;
  if (tuner.RetryCount < kWatchdogResends) {
    tuner.State = Retuning;
    SetStatus(tuner, "コマンド再送信");
    ops_.StopStream(tuner);
    clock_.Sleep(100);
    ops_.SetChannel(tuner, tuner.Channel);
    tuner.Framer.Reset();  // the device was flushed
    RestartWatch(tuner);
    tuner.State = Streaming;
    return;
  }
  ReleaseTuner(&tuner);
  SetStatus(tuner, "再初期化");
  Alert(tuner, NoticeCause::Reinitialised);
  RestartWatch(tuner);
  tuner.State = NotInitialized;
  tuner.WatchState = 2;
}

void RecorderEngine::InitTunerInterface(TOneSegTuner* tuner) {
  if (tuner == nullptr) return;
  const int code = ops_.Tuner_Initialize(*tuner);
  if (code == 0) {
    SetStatus(*tuner, "チューナ初期化");
    tuner->State = InterfaceOpen;
    return;
  }
  ops_.StopStream(*tuner);
  clock_.Sleep(400);
  ops_.CloseDevice(*tuner);
  SetStatus(*tuner, ErrorStatus("Tuner_Initialize", code));
  tuner->State = NotInitialized;
  Alert(*tuner, NoticeCause::TunerError);
}

void RecorderEngine::BootTuner(TOneSegTuner* tuner) {
  if (tuner == nullptr) return;
  ops_.StopStream(*tuner);
  std::string failure;
  if (const int code = ops_.Bootup(*tuner); code != 0) {
    failure = ErrorStatus("Bootup", code);
  } else if (tuner->Channel != -1) {
    if (const int tuned = ops_.SetChannel(*tuner, tuner->Channel); tuned != 0) failure = ErrorStatus("SetChannel", tuned);
  }
  if (failure.empty()) {
    tuner->Framer.Reset();
    SetStatus(*tuner, "初期化完了");
    RestartWatch(*tuner);
    tuner->TimeReadAt = -1;
    tuner->RetryCount = 0;
    tuner->State = Streaming;
    return;
  }
  ops_.StopStream(*tuner);
  ops_.CloseDevice(*tuner);
  clock_.Sleep(100);
  SetStatus(*tuner, failure);
  tuner->State = NotInitialized;
  Alert(*tuner, NoticeCause::TunerError);
}

void RecorderEngine::ReleaseTuner(TOneSegTuner* tuner) {
  if (tuner == nullptr) return;
  ops_.StopStream(*tuner);
  clock_.Sleep(400);
  ops_.CloseDevice(*tuner);
  CloseTunerFiles(*tuner);
  if (tuner->FileFault) ShowLostPackets(*tuner, "チューナー解放");
  ShowDrops(*tuner, true);
}

void RecorderEngine::ChannelComboChange(TOneSegTuner* current, int itemIndex) {
  const int channel = ChannelForItem(itemIndex);
  if (current == nullptr || channel == current->Channel || current->State != Streaming) return;
  TOneSegTuner& tuner = *current;
  tuner.State = Retuning;
  ops_.StopStream(tuner);
  clock_.Sleep(200);
  tuner.Channel = channel;
  const std::string section = TunerSection(tuner.TunerID);
  WriteSetting(section, "Channel", std::to_string(tuner.Channel));
  WriteSetting(section, "Disable", tuner.Disable ? "1" : "0");
  WriteSetting(section, "FriendlyName", tuner.FriendlyName);
  ops_.StopStream(tuner);
  if (tuner.Channel != -1) ops_.SetChannel(tuner, tuner.Channel);
  tuner.Framer.Reset();
  SetStatus(tuner, "チャンネル変更");
  tuner.PacketCount = 0;
  RestartWatch(tuner);
  tuner.TimeReadAt = -1;
  tuner.RetryCount = 0;
  tuner.State = Streaming;
  tuner.WatchState = 1;
}

}  // namespace brannock
