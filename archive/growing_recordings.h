#pragma once
// The recordings the recorder is writing, each read on from the packet where
// the last look stopped (never again from its start), its lines searchable
// as soon as they are decoded.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "indexer.h"
#include "live_decoder.h"

namespace oneseg::archive {

class GrowingRecordings {
 public:
  GrowingRecordings(ArchiveDb& db, const ArchiveRoot& root);
  ~GrowingRecordings();

  // From its start (its earlier rows replaced); nothing when followed already.
  void follow(const RecordingOnDisk& files);
  void forget(const std::string& name);
  bool followed(const std::string& name) const { return recordings_.count(name) > 0; }

  struct Look {
    std::vector<RowWindow> written;       // the rows of new lines, one window per recording
    std::vector<std::string> unchanged;   // names of recordings that did not grow since `quiet_since`
    std::vector<std::string> errors;
  };
  // Reads what each recording gained; one that is gone, or did not grow
  // since `given_up_before`, is let go.
  Look look(std::chrono::system_clock::time_point quiet_since, std::chrono::system_clock::time_point given_up_before);

 private:
  struct Recording;
  bool read_on(Recording& r, Look& look);

  ArchiveDb& db_;
  std::filesystem::path root_;
  GrowingRecordingWriter writer_;
  std::map<std::string, std::unique_ptr<Recording>> recordings_;
};

}  // namespace oneseg::archive
