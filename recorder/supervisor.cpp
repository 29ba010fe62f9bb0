// The supervisor: at each ProbeTimer tick every due watchdog's re-send /
// re-initialisation, then one open or boot step for one tuner; and the
// channel change. Each waits on its device on the tuner's worker.
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
    CollectSteps();
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
    // Steps done at once (or already) end within their tick.
    CollectSteps();
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
  const bool open = tuner.State == NotInitialized;
  tuner.State = Working;
  if (open) {
    InitTunerInterface(tuner);
  } else {
    BootTuner(tuner);
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
  tuner.State = Retuning;
  if (tuner.RetryCount < kWatchdogResends) {
    SetStatus(tuner, "コマンド再送信");
    PostStep(
        tuner,
        [this](TOneSegTuner& device) {
          ops_.StopStream(device);
          clock_.Sleep(100);
          ops_.SetChannel(device, device.Channel);
          return std::string();
        },
        [this](TOneSegTuner& retuned, const std::string&) {
          retuned.Framer.Reset();  // the device was flushed
          RestartWatch(retuned);
          retuned.State = Streaming;
        });
    return;
  }
  PostRelease(tuner, [this](TOneSegTuner& released, const std::string&) {
    SetStatus(released, "再初期化");
    Alert(released, NoticeCause::Reinitialised);
    RestartWatch(released);
    released.State = NotInitialized;
    released.WatchState = 2;
  });
}

void RecorderEngine::InitTunerInterface(TOneSegTuner& tuner) {
  PostStep(
      tuner,
      [this](TOneSegTuner& device) {
        const int code = ops_.Tuner_Initialize(device);
        if (code == 0) return std::string();
        ops_.StopStream(device);
        clock_.Sleep(400);
        ops_.CloseDevice(device);
        return ErrorStatus("Tuner_Initialize", code);
      },
      [this](TOneSegTuner& opened, const std::string& failure) {
        if (failure.empty()) {
          SetStatus(opened, "チューナ初期化");
          opened.State = InterfaceOpen;
          return;
        }
        SetStatus(opened, failure);
        opened.State = NotInitialized;
        Alert(opened, NoticeCause::TunerError);
      });
}

void RecorderEngine::BootTuner(TOneSegTuner& tuner) {
  PostStep(
      tuner,
      [this](TOneSegTuner& device) {
        ops_.StopStream(device);
        std::string failure;
        if (const int code = ops_.Bootup(device); code != 0) {
          failure = ErrorStatus("Bootup", code);
        } else if (device.Channel != -1) {
          if (const int tuned = ops_.SetChannel(device, device.Channel); tuned != 0)
            failure = ErrorStatus("SetChannel", tuned);
        }
        if (failure.empty()) return failure;
        ops_.StopStream(device);
        ops_.CloseDevice(device);
        clock_.Sleep(100);
        return failure;
      },
      [this](TOneSegTuner& booted, const std::string& failure) {
        if (failure.empty()) {
          booted.Framer.Reset();
          SetStatus(booted, "初期化完了");
          RestartWatch(booted);
          booted.TimeReadAt = -1;
          booted.RetryCount = 0;
          booted.State = Streaming;
          return;
        }
        SetStatus(booted, failure);
        booted.State = NotInitialized;
        Alert(booted, NoticeCause::TunerError);
      });
}

// The new channel is stored at once; the device follows on its worker.
void RecorderEngine::ChannelComboChange(TOneSegTuner* current, int itemIndex) {
  const int channel = ChannelForItem(itemIndex);
  if (current == nullptr || channel == current->Channel || current->State != Streaming) return;
  TOneSegTuner& tuner = *current;
  tuner.State = Retuning;
  tuner.Channel = channel;
  const std::string section = TunerSection(tuner.TunerID);
  WriteSetting(section, "Channel", std::to_string(tuner.Channel));
  WriteSetting(section, "Disable", tuner.Disable ? "1" : "0");
  WriteSetting(section, "FriendlyName", tuner.FriendlyName);
  PostStep(
      tuner,
      [this](TOneSegTuner& device) {
        ops_.StopStream(device);
        clock_.Sleep(200);
        ops_.StopStream(device);
        if (device.Channel != -1) ops_.SetChannel(device, device.Channel);
        return std::string();
      },
      [this](TOneSegTuner& changed, const std::string&) {
        changed.Framer.Reset();
        SetStatus(changed, "チャンネル変更");
        changed.PacketCount = 0;
        RestartWatch(changed);
        changed.TimeReadAt = -1;
        changed.RetryCount = 0;
        changed.State = Streaming;
        changed.WatchState = 1;
      });
  CollectSteps();
}

}  // namespace brannock
