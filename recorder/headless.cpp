#include "headless.h"

#include <QCoreApplication>
#include <QTimer>

#include "settings.h"
#include "stop_signals.h"

namespace brannock {
namespace {

class HeadlessListener : public EngineListener {
 public:
  explicit HeadlessListener(std::ostream& out) : out_(out) {}
  void TunerAdded(TOneSegTuner& tuner) override { Line("チューナー検出：" + tuner.TunerID + " (" + tuner.FriendlyName + ")"); }
  void TunerRemoving(TOneSegTuner& tuner) override { Line("チューナー取り外し：" + tuner.TunerID); }
  void StatusChanged(TOneSegTuner& tuner) override { Line(tuner.TunerID + "：" + tuner.Status); }
  void TSFolderChanged(const std::string& folder) override { Line(TSFolderLabelText(folder)); }
  void SettingsWriteFailed(const std::string& path) override { Line(WriteFailedText(path)); }
  void Log(const std::string& line) override { Line(line); }
  void Notification(const std::string& text) override { Line("通知：" + text); }
  void RetentionHeld(const std::string& text) override {
    if (!text.empty()) Line(text);
  }

 private:
  void Line(const std::string& text) { out_ << text << std::endl; }
  std::ostream& out_;
};

}  // namespace

int RunHeadless(RecorderEngine& engine, const std::string& settingsFolder, std::ostream& out) {
  const StopSignals stopSignals;
  if (!stopSignals.Installed()) return 1;

  HeadlessListener listener(out);
  engine.SetListener(&listener);
  engine.FormCreate(settingsFolder);
  if (engine.Tuners.empty()) out << "チューナーが見つかりません" << std::endl;

  QTimer probeTimer, recordTimer;
  QObject::connect(&probeTimer, &QTimer::timeout, [&engine] { engine.ProbeTimerTimer(); });
  QObject::connect(&recordTimer, &QTimer::timeout, [&engine] { engine.RecordTimerTimer(); });
  probeTimer.start(1000);
  recordTimer.start(50);
  QCoreApplication::exec();

  probeTimer.stop();
  recordTimer.stop();
  out << "終了します" << std::endl;
  engine.FormDestroy();
  engine.SetListener(nullptr);
  return 0;
}

}  // namespace brannock
