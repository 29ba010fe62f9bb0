#include "batch_driver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "analysis_state.h"
#include "output_file.h"
#include "read_loop.h"


namespace skerrow {

namespace {

bool ends_with_ts(const std::string& path) {
  return path.size() > 3 && path.compare(path.size() - 3, 3, ".ts") == 0;
}

std::string with_extension(const std::string& ts_path, const char* extension) {
  return ts_path.substr(0, ts_path.size() - 3) + extension;
}

// Opened without blocking: a FIFO or device in a recording folder must not
// stall the run.
bool can_open_for_reading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Directory entries are kept apart from symbolic links: a link to a directory
// is not walked, so links that point back up the tree cannot make the walk
// explode.
bool is_directory(const std::string& dir, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  struct stat info {};
  return ::lstat((dir + "/" + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

struct listed_entry {
  std::string name;
  bool directory;
};

// The whole listing is read before anything is walked, so that a deep tree
// never holds more than one directory open at a time.
bool list_directory(const std::string& dir, std::vector<listed_entry>& entries) {
  DIR* handle = ::opendir(dir.c_str());
  if (handle == nullptr) return false;
  while (const dirent* entry = ::readdir(handle)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries.push_back({name, is_directory(dir, entry)});
  }
  ::closedir(handle);
  return true;
}

bool stopping(const batch_environment& env) { return env.stop_requested && env.stop_requested(); }

// Ends the recording early when the run is asked to stop, so that a stop is
// noticed between two buffer fills.
class stoppable_source : public byte_source {
 public:
  stoppable_source(byte_source& inner, const batch_environment& env) : inner_(inner), env_(env) {}
  std::size_t read(std::uint8_t* destination, std::size_t n) override {
    return stopping(env_) ? 0 : inner_.read(destination, n);
  }

 private:
  byte_source& inner_;
  const batch_environment& env_;
};

void analyse_file(analysis_state& state, const batch_environment& env, std::FILE* recording) {
  std::setvbuf(recording, nullptr, _IOFBF, 1 << 20);
  reset_recording_state(state);
  file_source file(recording);
  stoppable_source source(file, env);
  read_loop(state, source);
  // The last event block stays whole even when the recording ends inside it.
  state.event_listing_open = false;
  state.event_written = false;
  state.event_listing = nullptr;
}

bool later(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The .eit carries the modification time its recording had when the analysis
// began: a recording modified since (it grew after it was analysed) is
// analysed again.
bool analysis_is_current(const std::string& ts_path, const std::string& eit_path) {
  struct stat recording {}, listing {};
  if (::stat(ts_path.c_str(), &recording) != 0 || ::stat(eit_path.c_str(), &listing) != 0) return true;
  return !later(recording.st_mtim, listing.st_mtim);
}

// A link under an output's name is neither written through nor replaced; it
// is named on the console, since the recording stays unanalysed because of it.
bool prepare_output(batch_environment& env, pending_output& output, const std::string& path) {
  remove_dead_temporaries(path);
  if (is_symbolic_link(path)) std::fprintf(env.console, "symbolic link in the way: %s\n", path.c_str());
  return output.create(path);
}

// Puts the outputs in place, the .eit last: it marks the recording as done.
int finish_outputs(analysis_state& state, batch_environment& env, pending_output& sub, pending_output& eit,
                   const timespec& recording_modified) {
  if (stopping(env)) return -6;  // the temporaries go with `sub` and `eit`
  if (state.captions.write_failed() || !sub.commit()) {
    std::fprintf(env.console, "unable to write a subtext file(%s).\n", sub.final_path().c_str());
    return -7;
  }
  if (state.listing.write_failed() || !eit.commit(&recording_modified)) {
    std::fprintf(env.console, "unable to write a eit file(%s).\n", eit.final_path().c_str());
    return -7;
  }
  return 0;
}

}  // namespace

// Only regular files count: anything else (FIFO, device, directory) is as
// good as unopenable, so it is never read.
std::int64_t recording_size(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  const int result = ::fstat(fd, &info);
  ::close(fd);
  return result == 0 && S_ISREG(info.st_mode) ? static_cast<std::int64_t>(info.st_size) : -1;
}

// Outputs are written under temporary names and renamed into place only when
// the whole recording was read, so an interrupted, failed or killed analysis
// never leaves a .eit that would mark the recording as done.
int process_recording(analysis_state& state, batch_environment& env, const std::string& path) {
  if (path.size() <= 3) return -1;
  if (!ends_with_ts(path)) {
    std::fprintf(env.console, "illegal file extension.\n");
    return -2;
  }
  const std::string eit_path = with_extension(path, ".eit");
  const std::string sub_path = with_extension(path, ".sub");
  if (can_open_for_reading(eit_path) && analysis_is_current(path, eit_path)) {
    std::fprintf(env.console, "skip %s (eit file exists.)\n", path.c_str());
    return -11;
  }
  const std::int64_t size = recording_size(path);
  if (size < minimum_recording_size) {
    std::fprintf(env.console, "skip %s (too small.)\n", path.c_str());
    return -12;
  }
  env.sleep(stability_wait_ms);
  if (stopping(env)) return -6;
  if (recording_size(path) != size) {
    std::fprintf(env.console, "file is busy.\n");
    return -13;
  }
  pending_output sub, eit;
  if (!prepare_output(env, sub, sub_path)) {
    std::fprintf(env.console, "unable to open a subtext file(%s).\n", sub_path.c_str());
    return -3;
  }
  if (!prepare_output(env, eit, eit_path)) {
    std::fprintf(env.console, "unable to open a eit file(%s).\n", eit_path.c_str());
    return -4;
  }
  std::FILE* recording = std::fopen(path.c_str(), "rb");
  struct stat opened {};
  if (recording == nullptr || ::fstat(::fileno(recording), &opened) != 0) {
    if (recording != nullptr) std::fclose(recording);
    std::fprintf(env.console, "unable to open a stream file(%s).\n", path.c_str());
    return -5;
  }
  std::fprintf(env.console, "now reading %s\n", path.c_str());
  state.captions.open_descriptor(sub.descriptor());
  state.listing.open_descriptor(eit.descriptor());
  analyse_file(state, env, recording);
  std::fclose(recording);
  state.listing.close();
  state.captions.close();
  return finish_outputs(state, env, sub, eit, opened.st_mtim);
}

int walk_directory(analysis_state& state, batch_environment& env, const std::string& dir) {
  if (dir.size() > longest_directory) return -1;
  std::vector<listed_entry> entries;
  if (!list_directory(dir, entries)) return -1;
  for (const listed_entry& entry : entries) {
    if (stopping(env)) break;
    const std::string path = dir + "/" + entry.name;
    if (entry.directory)
      walk_directory(state, env, path);
    else if (ends_with_ts(entry.name))
      process_recording(state, env, path);
  }
  return 0;
}

void handle_argument(analysis_state& state, batch_environment& env, const std::string& argument) {
  if (argument.size() >= 4 && ends_with_ts(argument))
    process_recording(state, env, argument);
  else
    walk_directory(state, env, argument);
}

int run_analyser(const std::vector<std::string>& args, batch_environment& env) {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  if (args.size() < 2) {
    std::fprintf(env.console, "Usage:%s directory or file...\n",
                 args.empty() ? "skerrow" : args[0].c_str());
    return -1;
  }
  analysis_state state;
  state.caption_handler = env.caption_handler;
  char log_name[64];
  std::snprintf(log_name, sizeof log_name, "%s/skerrow_%d.log", ".", std::rand() % 32768);
  const bool own_log = state.log.open_file(log_name);
  if (!own_log) state.log.open_descriptor(STDOUT_FILENO);
  for (std::size_t i = 1; i < args.size() && !stopping(env); ++i) handle_argument(state, env, args[i]);
  state.log.close();
  if (!stopping(env)) env.sleep(end_of_run_wait_ms);
  if (own_log) std::remove(log_name);  // whatever else stands under the name is not ours
  return 0;
}

}  // namespace skerrow
