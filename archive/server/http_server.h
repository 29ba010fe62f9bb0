#pragma once
// The archive's HTTP server: the HTTP core carries the requests, the pure
// route/handler files decide the answers.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "roots.h"
#include "http_core.h"

namespace oneseg::archive::web {

struct ServerSetup {
  std::vector<ArchiveRoot> roots;   // files are served from these only
  std::filesystem::path db;
  std::filesystem::path thumbnail_folder;
  std::uint64_t thumbnail_bytes = 500ull << 20;  // the oldest pictures go beyond this
  std::string token;       // empty: none asked for
  bool read_only = false;  // the database is only read (a copy in a folder this user cannot write)
  int ffmpeg_runs = 4;     // clips and thumbnails at once
  int threads = 32;        // each open connection holds one
};

class ArchiveServer {
 public:
  ArchiveServer(ServerSetup setup, ChildStarter& starter);
  ~ArchiveServer();
  ArchiveServer(const ArchiveServer&) = delete;
  ArchiveServer& operator=(const ArchiveServer&) = delete;

  // Bound, served and stopped through its HTTP core.
  HttpCore& http();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oneseg::archive::web
