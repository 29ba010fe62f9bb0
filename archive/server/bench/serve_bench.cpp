// The server's figures under load: 20 clients at once asking a mix of search
// pages, API searches, recording views, browse pages and stats from a real
// `oneseg-archive serve`; latency per kind, the server's memory after the
// run, and the time to the first bytes of a clip.
//   serve_bench --bin DIR --root DIR --db FILE [--clients 20] [--requests 10000]
//               [--clip DAY/NAME --at SECONDS]
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "html_text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Words of news and variety captions, common and rare.
const char* const words[] = {"天気", "ニュース", "地震", "選挙", "台風", "経済", "野球", "明日", "東京", "大阪",
                             "首相", "警察", "学校", "料理", "観光", "新幹線", "優勝", "宇宙", "パンダ", "花火",
                             "天気 明日", "\"全国の天気\"", "温泉 旅行", "株価"};

struct Options {
  std::string bin, root, db, clip;
  int clients = 20, requests = 10000, at = 30;
};

std::string value_of(int& i, int argc, char** argv) {
  if (i + 1 >= argc) {
    std::fprintf(stderr, "serve_bench: %s needs a value\n", argv[i]);
    std::exit(2);
  }
  return argv[++i];
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bin") o.bin = value_of(i, argc, argv);
    else if (arg == "--root") o.root = value_of(i, argc, argv);
    else if (arg == "--db") o.db = value_of(i, argc, argv);
    else if (arg == "--clients") o.clients = std::stoi(value_of(i, argc, argv));
    else if (arg == "--requests") o.requests = std::stoi(value_of(i, argc, argv));
    else if (arg == "--clip") o.clip = value_of(i, argc, argv);
    else if (arg == "--at") o.at = std::stoi(value_of(i, argc, argv));
    else {
      std::fprintf(stderr, "usage: serve_bench --bin DIR --root DIR --db FILE [--clients N] [--requests N] [--clip DAY/NAME --at S]\n");
      std::exit(2);
    }
  }
  if (o.bin.empty() || o.root.empty() || o.db.empty()) std::exit(2);
  return o;
}

struct Server {
  pid_t pid = 0;
  int port = 0;
};

Server start_server(const Options& o) {
  int out[2];
  if (pipe(out) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string program = o.bin + "/oneseg-archive";
  std::vector<std::string> args{program, "serve", "--root", o.root, "--db", o.db, "--listen", "127.0.0.1:0"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  Server server;
  if (posix_spawn(&server.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) std::exit(1);
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  const auto colon = line.rfind(':');
  if (line.find("http://") == std::string::npos || colon == std::string::npos) {
    std::fprintf(stderr, "serve_bench: the server printed no address: %s\n", line.c_str());
    std::exit(1);
  }
  server.port = std::atoi(line.c_str() + colon + 1);
  return server;
}

long status_kb(pid_t pid, const std::string& key) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string field;
  while (status >> field) {
    if (field == key + ":") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return -1;
}

struct Spread {
  double median, p95, max;
};
Spread spread(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty()) return {0, 0, 0};
  return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const Server server = start_server(o);
  httplib::Client probe("127.0.0.1", server.port);
  probe.set_read_timeout(60);
  probe.set_tcp_nodelay(true);
  // Recordings to view: those of the newest days.
  std::vector<std::string> views;
  auto days = probe.Get("/api/recordings");
  if (!days || days->status != 200) std::fprintf(stderr, "serve_bench: no list of days\n");
  if (days && days->status == 200) {
    const auto listed = nlohmann::json::parse(days->body)["days"];
    for (std::size_t i = 0; i < listed.size() && i < 3; ++i) {
      auto day = probe.Get(("/api/recordings?day=" + listed[i].get<std::string>()).c_str());
      if (!day) {
        std::fprintf(stderr, "serve_bench: %s\n", httplib::to_string(day.error()).c_str());
        continue;
      }
      const auto recordings = nlohmann::json::parse(day->body)["recordings"];
      for (const auto& r : recordings) views.push_back(r["view"]);
    }
  }
  std::printf("server pid %d on port %d; %zu recordings to view; RSS at start %ld kB\n", server.pid, server.port,
              views.size(), status_kb(server.pid, "VmRSS"));

  std::map<std::string, std::vector<double>> latencies;
  std::mutex latencies_mutex;
  std::atomic<int> next{0}, failures{0};
  const auto began = Clock::now();
  std::vector<std::thread> clients;
  for (int c = 0; c < o.clients; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", server.port);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      client.set_read_timeout(60);
      std::mt19937 random(static_cast<unsigned>(c) * 7919u + 1u);
      std::map<std::string, std::vector<double>> mine;
      for (int n = next++; n < o.requests; n = next++) {
        const int pick = static_cast<int>(random() % 100);
        const std::string word = oneseg::archive::web::url_encode(words[random() % std::size(words)]);
        const std::string page = std::to_string(1 + random() % 3);
        std::string kind, path;
        if (pick < 40) kind = "search page", path = "/search?q=" + word + "&page=" + page;
        else if (pick < 80) kind = "API search", path = "/api/search?q=" + word + "&page=" + page;
        else if (pick < 90 && !views.empty()) kind = "recording view", path = views[random() % views.size()];
        else if (pick < 95) kind = "browse", path = "/browse";
        else kind = "stats", path = "/api/stats";
        const auto start = Clock::now();
        auto answer = client.Get(path.c_str());
        if (!answer || answer->status != 200) ++failures;
        mine[kind].push_back(ms(Clock::now() - start));
      }
      std::lock_guard lock(latencies_mutex);
      for (auto& [kind, times] : mine) latencies[kind].insert(latencies[kind].end(), times.begin(), times.end());
    });
  }
  for (auto& t : clients) t.join();
  const double wall = ms(Clock::now() - began);
  std::printf("%d requests from %d clients in %.1f s (%.0f/s), %d failed\n", o.requests, o.clients, wall / 1000,
              o.requests / (wall / 1000), failures.load());
  std::vector<double> searches;
  for (const auto& [kind, times] : latencies) {
    const Spread s = spread(times);
    std::printf("  %-15s %6zu  median %7.1f ms  p95 %7.1f ms  max %7.1f ms\n", kind.c_str(), times.size(), s.median,
                s.p95, s.max);
    if (kind.find("search") != std::string::npos) searches.insert(searches.end(), times.begin(), times.end());
  }
  const Spread s = spread(searches);
  std::printf("  searches (page and API) median %.1f ms, p95 %.1f ms\n", s.median, s.p95);
  std::printf("server memory after the run: RSS %ld kB, peak %ld kB\n", status_kb(server.pid, "VmRSS"),
              status_kb(server.pid, "VmHWM"));

  if (!o.clip.empty()) {
    std::vector<double> first_bytes;
    for (int run = 0; run < 20; ++run) {
      httplib::Client client("127.0.0.1", server.port);
      const auto start = Clock::now();
      double first = -1;
      const std::string path = "/clip/" + o.clip + ".mp4?t=" + std::to_string(o.at + run * 7);
      client.Get(path.c_str(), [&](const char*, std::size_t) {
        first = ms(Clock::now() - start);
        return false;  // the first bytes are all this measures; the server ends its ffmpeg
      });
      if (first >= 0) first_bytes.push_back(first);
    }
    const Spread f = spread(first_bytes);
    std::printf("clip first bytes (%zu runs): median %.0f ms, p95 %.0f ms, max %.0f ms\n", first_bytes.size(), f.median,
                f.p95, f.max);
  }
  kill(server.pid, SIGTERM);
  int status = 0;
  waitpid(server.pid, &status, 0);
  return failures.load() == 0 ? 0 : 1;
}
