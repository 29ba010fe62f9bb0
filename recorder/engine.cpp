#include "engine.h"

namespace brannock {

// One read of at most 65,536 bytes (the framer keeps what it carries).
constexpr std::size_t kReadBufferSize = 65536;

RecorderEngine::RecorderEngine(EngineParts parts)
    : clock_(parts.clock), usb_(parts.usb), driver_(parts.driver), ops_(parts.ops), files_(parts.files),
      readBuffer_(kReadBufferSize) {}

RecorderEngine::~RecorderEngine() {
  // The workers run out their steps first: those use the engine's parts.
  workers_.clear();
  retiring_.clear();
  // Whatever is still open goes to disk before the records go away.
  for (auto& tuner : Tuners) FlushTunerFiles(*tuner);
}

void RecorderEngine::FormCreate(const std::string& settingsFolder) {
  LoadSettings(settingsFolder);
  ScanTuners();
}

void RecorderEngine::FormDestroy() {
  for (auto& tuner : Tuners) {
    ReleaseTuner(tuner.get());
    clock_.Sleep(1000);
  }
  Tuners.clear();
  workers_.clear();
  retiring_.clear();  // each waits for the release posted to it
}

void RecorderEngine::SetStatus(TOneSegTuner& tuner, const std::string& status) {
  if (tuner.Status == status) return;
  tuner.Status = status;
  if (listener_ != nullptr) listener_->StatusChanged(tuner);
}

void RecorderEngine::Notify(const std::string& subject, NoticeCause cause, const std::string& text) {
  if (listener_ != nullptr && notices_.Allow(subject, cause, clock_.Now())) listener_->Notification(text);
}

// The notification of a tuner repeats its status line.
void RecorderEngine::Alert(TOneSegTuner& tuner, NoticeCause cause) {
  Notify(tuner.TunerID, cause, tuner.TunerID + "：" + tuner.Status);
}

int RecorderEngine::EnabledTunerCount() const {
  int count = 0;
  for (const auto& tuner : Tuners) count += tuner->Disable ? 0 : 1;
  return count;
}

}  // namespace brannock
