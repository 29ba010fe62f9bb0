#include "headless.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>

#include "settings.h"

namespace brannock {
namespace {

int g_signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto ignored = ::write(g_signalPipe[1], &byte, 1);
}

class HeadlessListener : public EngineListener {
 public:
  explicit HeadlessListener(std::ostream& out) : out_(out) {}
  void TunerAdded(TOneSegTuner& tuner) override { Line("チューナー検出：" + tuner.TunerID + " (" + tuner.FriendlyName + ")"); }
  void TunerRemoving(TOneSegTuner& tuner) override { Line("チューナー取り外し：" + tuner.TunerID); }
  void StatusChanged(TOneSegTuner& tuner) override { Line(tuner.TunerID + "：" + tuner.Status); }
  void TSFolderChanged(const std::string& folder) override { Line(TSFolderLabelText(folder)); }
  void SettingsWriteFailed(const std::string& path) override { Line(WriteFailedText(path)); }
  void Log(const std::string& line) override { Line(line); }

 private:
  void Line(const std::string& text) { out_ << text << std::endl; }
  std::ostream& out_;
};

}  // namespace

int RunHeadless(RecorderEngine& engine, const std::string& settingsFolder, std::ostream& out) {
  // Signals are caught from the start, so one arriving during start-up still
  // ends in the orderly shutdown once the event loop runs.
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return 1;
  QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, QCoreApplication::instance(),
                   [] { QCoreApplication::quit(); });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

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
  ::close(g_signalPipe[0]);
  ::close(g_signalPipe[1]);
  return 0;
}

}  // namespace brannock
