#pragma once
#include <ctime>
#include <string>

namespace skerrow {

// An output file that appears under its final name only once it is complete.
// It is written under a temporary name beside the final one and unique to the
// run ("<final>.<pid>.<n>.tmp", so two analysers can meet on one recording),
// holds an exclusive lock while the run owns it, and is renamed into place at
// the end. A run that dies leaves at most its temporary, which no longer
// holds a lock and is removed by the next analysis of the recording.
class pending_output {
 public:
  pending_output() = default;
  ~pending_output() { discard(); }
  pending_output(const pending_output&) = delete;
  pending_output& operator=(const pending_output&) = delete;

  // false when something other than a regular file stands under the final
  // name (it is never written through or replaced) or the temporary cannot
  // be created.
  bool create(const std::string& final_path);
  int descriptor() const { return fd_; }
  const std::string& final_path() const { return final_path_; }
  const std::string& temporary_path() const { return temporary_path_; }  // empty unless created

  // Makes the content durable, gives the file the modification time
  // `modified` (unless null) and renames it into place. On failure the
  // temporary is removed and false returned.
  bool commit(const timespec* modified = nullptr);
  void discard();

 private:
  void close_descriptor();

  std::string final_path_, temporary_path_;
  int fd_ = -1;
};

// True when a symbolic link stands under `path` (dangling or not).
bool is_symbolic_link(const std::string& path);

// Whether `name` is the name of a temporary of the output named `final_name`.
bool is_temporary_of(const std::string& name, const std::string& final_name);

// Removes the temporaries of `final_path` that no live run holds locked.
void remove_dead_temporaries(const std::string& final_path);

}  // namespace skerrow
