#include "growing_recordings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t read_size = 1 << 20;

}  // namespace

struct GrowingRecordings::Recording {
  RecordingOnDisk files;
  std::int64_t id = 0;
  int fd = -1;
  std::int64_t offset = 0;   // bytes read (and fed to the decoder)
  std::chrono::system_clock::time_point last_growth{};
  LiveDecoder decoder;
  // Decoded but not yet written (the database refused the last write).
  std::vector<CaptionRecord> lines;
  std::vector<ListingEntry> listing;

  Recording(const RecordingOnDisk& f, int descriptor) : files(f), fd(descriptor), decoder(f.id.start) {}
  ~Recording() { ::close(fd); }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;
};

GrowingRecordings::GrowingRecordings(ArchiveDb& db, const ArchiveRoot& root)
    : db_(db), root_(root.path), writer_(db, root) {}

GrowingRecordings::~GrowingRecordings() = default;

void GrowingRecordings::follow(const RecordingOnDisk& files)
{
  if (followed(files.id.name)) return;
  const fs::path ts = root_ / files.id.day / (files.id.name + ".ts");
  // Only the recording itself, never what a link in its place points at.
  const int fd = ::open(ts.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return;
  auto r = std::make_unique<Recording>(files, fd);
  r->files.ts.size = 0;
  r->id = writer_.start(r->files);
  recordings_.emplace(files.id.name, std::move(r));
}

void GrowingRecordings::forget(const std::string& name) { recordings_.erase(name); }

// Reads from where the last look stopped to the end the file has now.
bool GrowingRecordings::read_on(Recording& r, Look& look)
{
  struct stat info {};
  if (::fstat(r.fd, &info) != 0 || info.st_nlink == 0 || !S_ISREG(info.st_mode)) return false;  // deleted
  const auto size = static_cast<std::int64_t>(info.st_size);
  if (size < r.offset) return false;  // written again from its start: followed anew by the next scan
  if (size == r.offset) return true;
  std::vector<std::uint8_t> buffer(read_size);
  while (r.offset < size) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(size - r.offset, static_cast<std::int64_t>(read_size)));
    const ssize_t got = ::pread(r.fd, buffer.data(), want, r.offset);
    if (got <= 0) break;
    r.decoder.feed(buffer.data(), static_cast<std::size_t>(got));
    r.offset += got;
  }
  r.last_growth = as_system_time(mtime_ns(info));
  r.files.ts = {true, r.offset, mtime_ns(info)};
  for (CaptionRecord& line : r.decoder.take_captions()) r.lines.push_back(std::move(line));
  for (ListingEntry& entry : r.decoder.take_listing()) r.listing.push_back(std::move(entry));
  try {
    if (const auto window = writer_.append(r.id, r.files, r.lines, r.listing, r.decoder.health()))
      look.written.push_back(*window);
    r.lines.clear();
    r.listing.clear();
  } catch (const DbError& error) {
    look.errors.push_back(r.files.id.name + ": " + error.what());
  }
  return true;
}

GrowingRecordings::Look GrowingRecordings::look(std::chrono::system_clock::time_point quiet_since,
                                                std::chrono::system_clock::time_point given_up_before)
{
  Look look;
  for (auto it = recordings_.begin(); it != recordings_.end();) {
    Recording& r = *it->second;
    if (!read_on(r, look) || r.last_growth < given_up_before) {
      it = recordings_.erase(it);
      continue;
    }
    if (r.last_growth < quiet_since) look.unchanged.push_back(r.files.id.name);
    ++it;
  }
  return look;
}

}  // namespace oneseg::archive
