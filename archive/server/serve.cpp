#include "serve.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>

#include "cli.h"
#include "alert_delivery.h"
#include "http_server.h"
#include "indexer.h"
#include "keep_current.h"
#include "serve_options.h"

namespace {

using namespace oneseg::archive;

int usage(const std::string& message) {
  std::fprintf(stderr, "oneseg-archive serve: %s\n", message.c_str());
  std::fputs("usage: oneseg-archive serve --root [NAME=]DIR ... [--db FILE] [--listen 127.0.0.1:8470] [--token TOKEN]"
             " [--on-alert PROGRAM] [--thumbnail-cache MB]\n", stderr);
  return 2;
}

// Keeps the index of every root current, each on its own connection, while
// the server reads, and delivers the alerts the writes make; links lead to `base`.
void follow(const std::filesystem::path& db_file, const std::vector<ArchiveRoot>& roots,
            const web::ServeOptions& served, const std::string& base, const std::atomic<bool>& stop) {
  try {
    Follower::Options options;
    options.skerrow = find_skerrow();
    KeepCurrentHooks hooks;
    hooks.log = [](const std::string& line) { std::fprintf(stderr, "oneseg-archive serve: %s\n", line.c_str()); };
    ArchiveDb alerts_db = ArchiveDb::open(db_file);
    AlertDelivery alerts(alerts_db, served.on_alert, base, served.token, hooks.log);
    hooks.on_report = [&](const IndexReport& report) {
      for (const std::string& notice : report.notices) hooks.log(notice);
      alerts.deliver_new();
    };
    keep_roots_current(db_file, roots, options, stop, std::chrono::seconds(2), hooks);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "oneseg-archive serve: the index is no longer kept current: %s\n", error.what());
  }
}

// The roots a read-only index knows, each in the folder named for it now
// (a copy may lie elsewhere than the archive it was made of).
std::vector<ArchiveRoot> as_given(std::vector<ArchiveRoot> known, const std::vector<RootSpec>& given) {
  for (ArchiveRoot& root : known) {
    for (const RootSpec& spec : given) {
      if (spec.name == root.name) root.path = spec.path;
    }
  }
  return known;
}

}  // namespace

int run_serve(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  RootOptions paths;
  try {
    paths = take_root_options(args);
  } catch (const UsageError& error) {
    return usage(error.what());
  }
  const auto parsed = web::parse_serve_options(args, web::random_token);
  if (!parsed.options) return usage(parsed.error);
  const web::ServeOptions& options = *parsed.options;
  // A copy of an archive in a folder this user cannot write is searched as
  // it is: nothing is created or written there, and nothing kept current.
  const bool read_only = !ArchiveDb::writable(paths.db);
  std::vector<ArchiveRoot> roots;
  try {
    if (read_only) {
      ArchiveDb db = ArchiveDb::open_to_read(paths.db);
      roots = as_given(known_roots(db), paths.roots);
      std::fprintf(stderr,
                   "oneseg-archive serve: %s cannot be written: the index is read as it is, not kept current, and no "
                   "pictures are made\n",
                   paths.db.c_str());
    } else {
      // Created, or its schema checked, before anyone asks.
      ArchiveDb db = ArchiveDb::open(paths.db);
      roots = register_roots(db, paths.roots, true);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "oneseg-archive serve: %s\n", error.what());
    return 1;
  }

  // The signals are taken by a thread of their own, so that every other
  // thread (those of the server included) runs with them blocked.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  web::SystemChildStarter starter;
  web::ServerSetup setup;
  setup.roots = roots;
  setup.db = paths.db;
  setup.thumbnail_folder = paths.db.parent_path() / ("thumbnails-" + paths.db.stem().string());
  setup.thumbnail_bytes = static_cast<std::uint64_t>(options.thumbnail_cache_mb) << 20;
  setup.token = options.token;
  setup.read_only = read_only;
  setup.ffmpeg_runs = options.ffmpeg_runs;
  web::ArchiveServer server(setup, starter);
  const int port = server.http().bind(options.host, options.port);
  if (port < 0) {
    std::fprintf(stderr, "oneseg-archive serve: cannot listen on %s:%d\n", options.host.c_str(), options.port);
    return 1;
  }
  const std::string host = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  std::string folders;
  for (const ArchiveRoot& root : roots) folders += (folders.empty() ? "" : ", ") + root.path.string();
  std::printf("oneseg-archive: serving %s on http://%s:%d/%s\n", folders.c_str(), host.c_str(), port,
              options.token.empty() ? "" : ("?token=" + options.token).c_str());
  std::fflush(stdout);

  std::atomic<bool> stop{false};
  std::atomic<bool> signalled{false};
  const std::string base = "http://" + host + ":" + std::to_string(port);
  std::thread follower([&] {
    if (!read_only) follow(paths.db, roots, options, base, stop);
  });
  std::thread signals([&] {
    int received = 0;
    sigwait(&stop_signals, &received);
    signalled = true;
    stop = true;
    server.http().stop();
  });
  const bool served = server.http().listen();
  stop = true;
  // Wakes the signal thread when the server ended on its own.
  if (!signalled) ::kill(::getpid(), SIGTERM);
  signals.join();
  follower.join();
  return served ? 0 : 1;
}
