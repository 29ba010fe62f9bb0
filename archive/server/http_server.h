#pragma once
// The archive's HTTP server: cpp-httplib carries the requests, the pure
// route/handler files decide the answers.
#include <filesystem>
#include <memory>
#include <string>

#include "child_process.h"

namespace oneseg::archive::web {

struct ServerSetup {
  std::filesystem::path root;
  std::filesystem::path db;
  std::filesystem::path thumbnail_folder;
  std::string token;       // empty: none asked for
  int ffmpeg_runs = 4;     // clips and thumbnails at once
  int threads = 32;        // each open connection holds one
};

class ArchiveServer {
 public:
  ArchiveServer(ServerSetup setup, ChildStarter& starter);
  ~ArchiveServer();
  ArchiveServer(const ArchiveServer&) = delete;
  ArchiveServer& operator=(const ArchiveServer&) = delete;

  // The port bound (port 0: any free one), or -1.
  int bind(const std::string& host, int port);
  // Serves until stop(); false when it could not.
  bool listen();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oneseg::archive::web
