#include "alert_delivery.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstring>
#include <memory>

extern char** environ;

namespace oneseg::archive {

namespace {

constexpr std::size_t notices_waiting = 100;

std::vector<std::string> alert_environment(const Alert& a, const std::string& url)
{
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "ONESEG_ALERT_", 13) != 0) env.emplace_back(*e);
  env.push_back("ONESEG_ALERT_ID=" + std::to_string(a.id));
  env.push_back("ONESEG_ALERT_WATCH=" + std::to_string(a.watch));
  env.push_back("ONESEG_ALERT_TIME=" + a.time);
  env.push_back("ONESEG_ALERT_STATION=" + a.station);
  env.push_back("ONESEG_ALERT_TEXT=" + a.text);
  env.push_back("ONESEG_ALERT_URL=" + url);
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// How a run ended, for the log; "" when it succeeded.
std::string failure_of(int status)
{
  if (WIFEXITED(status)) return WEXITSTATUS(status) == 0 ? "" : "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "ended abnormally";
}

}  // namespace

AlertCommand::AlertCommand(std::string program, Log log, Limits limits)
    : program_(std::move(program)), log_(std::move(log)), limits_(limits),
      jobs_(limits_.at_once, limits_.waiting, [this](Job& job) { run_one(job); }) {}

void AlertCommand::run(const Alert& alert, const std::string& url)
{
  if (!jobs_.push({alert, url}))
    log_("alert " + std::to_string(alert.id) + " not given to " + program_ + ": " + std::to_string(limits_.waiting) +
         " alerts wait for it already (the alert stays in /alerts and the feeds)");
}

void AlertCommand::run_one(const Job& job)
{
  const std::string what = program_ + " for alert " + std::to_string(job.alert.id);
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return log_(what + ": no pipe: " + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  std::vector<std::string> args{program_}, env = alert_environment(job.alert, job.url);
  std::vector<char*> argv = pointers(args), envp = pointers(env);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  if (spawned != 0) {
    ::close(input[1]);
    return log_(what + ": cannot be started: " + std::strerror(spawned));
  }
  // A program that does not read its input must not hold this one up.
  ::fcntl(input[1], F_SETFL, O_NONBLOCK);
  const std::string json = alert_json(job.alert) + "\n";
  [[maybe_unused]] const ssize_t written = ::write(input[1], json.data(), json.size());
  ::close(input[1]);
  const auto deadline = std::chrono::steady_clock::now() + limits_.time_limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return log_(what + ": killed after " + std::to_string(limits_.time_limit.count() / 1000) + " s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (const std::string failure = failure_of(status); !failure.empty()) log_(what + ": " + failure);
}

DesktopNotifier::DesktopNotifier(Log log)
    : log_(std::move(log)), alerts_(1, notices_waiting, [this](Alert& alert) { send(alert); })
{
  sd_bus* opened = nullptr;
  if (const int r = sd_bus_open_user(&opened); r < 0) {
    log_(std::string("no desktop notifications: no session bus (") + std::strerror(-r) + ")");
    return;
  }
  bus_.reset(opened);
  sd_bus_set_method_call_timeout(opened, 5000000);
}

void DesktopNotifier::BusClose::operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }

// The desktop not keeping up: the feeds have the alerts.
void DesktopNotifier::notify(const Alert& alert) { alerts_.push(alert); }

void DesktopNotifier::send(const Alert& a)
{
  if (!bus_) return;
  const std::string title = a.watch_name + "：" + a.station + " " + a.time.substr(11, 5);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the server's default)
  const int sent = sd_bus_call_method(bus_.get(), "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "Notify", &error, &reply, "susssasa{sv}i",
                                      "oneseg-archive", 0u, "", title.c_str(), a.text.c_str(), 0, 0, -1);
  if (sent < 0) {
    log_(std::string("no desktop notifications: ") + (error.message != nullptr ? error.message : std::strerror(-sent)));
    bus_.reset();
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
}

AlertDelivery::AlertDelivery(ArchiveDb& db, const std::string& on_alert, std::string base, std::string token, Log log)
    : db_(db), base_(std::move(base)), token_(std::move(token)), delivered_(last_alert_id(db)), desktop_(log)
{
  if (on_alert.empty()) return;
  // A program that ends before reading its input must not end this one.
  ::signal(SIGPIPE, SIG_IGN);
  command_ = std::make_unique<AlertCommand>(on_alert, log);
}

void AlertDelivery::deliver_new()
{
  for (const Alert& a : alerts_after(db_, delivered_, std::nullopt, 1000)) {
    delivered_ = a.id;
    desktop_.notify(a);
    if (command_) command_->run(a, base_ + alert_path(a) + (token_.empty() ? "" : "&token=" + token_));
  }
}

}  // namespace oneseg::archive
