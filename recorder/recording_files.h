#pragma once
// The file layer of the recording loop and the retention sweep: recording
// files opened for shared extension, and the few folder operations needed.
// One real implementation over POSIX calls, and a fault-injecting wrapper that
// tests use to play a full disk or a removed drive.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brannock {

// Where a recording goes: `name` in the day folder `day` of the recording
// folder `root` (empty = the working folder). An empty `day` stands for no
// day folder.
struct RecordingPlace {
  std::string root;
  std::string day;
  std::string name;
};

// What an open failed on: the path, and whether it is the recording folder
// itself that is not there (a mount point, waited for and never made).
struct OpenFault {
  std::string path;
  bool folderMissing = false;
};

// An open .ts or .idx file, positioned at its end. Appends are collected in
// memory and handed to the system by Flush, which the recording loop calls at
// the end of every pass, so nothing waits in memory from one tick to the next.
class RecordingFile {
 public:
  virtual ~RecordingFile() = default;
  virtual void Append(const std::uint8_t* data, std::size_t size) = 0;
  // Length including appended bytes not yet flushed, as the file's index
  // counts offsets. Where opening completes later (a write queue) the length
  // the file had is not known yet: the length counts from this open, and the
  // queue adds the file's length at its open to the offsets of its index
  // (see IndexOf) before writing them.
  virtual std::uint64_t Length() const = 0;
  // Appended bytes not yet flushed.
  virtual std::size_t Pending() const = 0;
  // The bytes that did not reach the system, 0 when every one did: the
  // pending ones, and where writes complete later those of earlier flushes
  // that failed since. Lost bytes are dropped and the file is cut back to its
  // last whole length, so a later extension never starts in the middle of a
  // packet.
  virtual std::size_t Flush() = 0;
  // Forgets the pending bytes (an index whose packets could not be stored).
  virtual void DropPending() = 0;
  // Where writes complete later than Flush (a write queue): true once none of
  // this file waits any more and every failure was reported by a Flush.
  virtual bool Settled() const { return true; }
  // This file is the index of `recording`: where writes complete later, none
  // of its records is written once a write of the recording failed.
  virtual void IndexOf(RecordingFile& /*recording*/) {}
  // Where opening completes later: what the open failed on, once a Flush
  // failed because of it.
  virtual std::optional<OpenFault> OpenFailed() const { return std::nullopt; }
};

enum class EntryKind { File, Folder, Link, Other };

struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::File;  // as the entry itself is, links not followed; File = regular file
};

// An open folder of the retention sweep. Names are taken inside the folder
// itself, never as paths, and no link is followed: a folder swapped for a link
// between the listing and its use is never entered.
class RecordingFolder {
 public:
  virtual ~RecordingFolder() = default;
  // Entries other than "." and ".."; empty when the folder cannot be read.
  virtual std::vector<FolderEntry> List() = 0;
  // A sub-folder that is itself no link; null otherwise.
  virtual std::unique_ptr<RecordingFolder> OpenFolder(const std::string& name) = 0;
  virtual bool RemoveFile(const std::string& name) = 0;    // never a folder
  virtual bool RemoveFolder(const std::string& name) = 0;  // empty folders only
};

class RecordingFileSystem {
 public:
  virtual ~RecordingFileSystem() = default;
  virtual bool IsFolder(const std::string& path) = 0;
  virtual bool MakeFolder(const std::string& path) = 0;  // one level
  // Opens for reading and writing with other processes free to read and write,
  // creating the file when missing, positioned at its end; null on failure.
  virtual std::shared_ptr<RecordingFile> OpenShared(const std::string& path) = 0;
  // OpenShared of the recording at `place`, making its day folder when
  // missing; the recording folder is never made. Null on failure, `fault`
  // saying what failed; where opening completes later, see OpenFailed.
  virtual std::shared_ptr<RecordingFile> OpenRecording(const RecordingPlace& place, OpenFault& fault);
  // Runs `task` where this file system does its work: here at once; a write
  // queue runs it on its own thread, after everything asked of it before.
  virtual void Run(std::function<void()> task) { task(); }
  // The recording folder itself (empty = the working folder); the user chose
  // it, so a link to it is followed. Null when it cannot be opened.
  virtual std::unique_ptr<RecordingFolder> OpenFolder(const std::string& path) = 0;
};

class PosixFileSystem : public RecordingFileSystem {
 public:
  bool IsFolder(const std::string& path) override;
  bool MakeFolder(const std::string& path) override;
  std::shared_ptr<RecordingFile> OpenShared(const std::string& path) override;
  std::unique_ptr<RecordingFolder> OpenFolder(const std::string& path) override;
};

// Passes everything to an inner file system, except that opens can be made to
// fail and flushes to fail once a byte budget is used up (a full disk). A
// failing flush stores none of its bytes, as the real layer leaves it.
class FaultInjectingFileSystem : public RecordingFileSystem {
 public:
  explicit FaultInjectingFileSystem(RecordingFileSystem& inner) : inner_(inner) {}
  bool failOpen = false;
  bool failMakeFolder = false;
  std::int64_t writeBudget = -1;  // bytes still accepted; negative = unlimited

  bool IsFolder(const std::string& path) override { return inner_.IsFolder(path); }
  bool MakeFolder(const std::string& path) override { return !failMakeFolder && inner_.MakeFolder(path); }
  std::shared_ptr<RecordingFile> OpenShared(const std::string& path) override;
  std::unique_ptr<RecordingFolder> OpenFolder(const std::string& path) override { return inner_.OpenFolder(path); }

 private:
  RecordingFileSystem& inner_;
};

// Folder + "/" + name; an empty folder stands for the working folder.
std::string JoinPath(const std::string& folder, const std::string& name);
std::string FolderOf(const RecordingPlace& place);
std::string PathOf(const RecordingPlace& place);

}  // namespace brannock
