#pragma once
// The subcommands of oneseg-archive. Each gets the arguments after the
// program name: argv[0] is the subcommand itself. They return the exit
// status: 0 done (search: hits found), 1 failed (search: no hits), 2 usage
// or no database to read (search, stats), 3 the database cannot be read.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "roots.h"

namespace oneseg::archive {

int run_index(int argc, char** argv);
int run_follow(int argc, char** argv);
int run_search(int argc, char** argv);
int run_stats(int argc, char** argv);
int run_timeline(int argc, char** argv);
int run_trends(int argc, char** argv);

// The options every subcommand shares, taken out of args (the rest stays):
// --root [NAME=]DIR, repeated for several recording folders, and --db.
struct RootOptions {
  std::vector<RootSpec> roots;
  std::filesystem::path db;   // default_db_path(first root) unless --db is given
};
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Throws UsageError when --root is missing or malformed, two roots share a
// name or folder, or an option lacks its value.
RootOptions take_root_options(std::vector<std::string>& args);

// Takes "--name VALUE" (or the flag) out of args; nullopt (false) when
// absent. Throws UsageError when the value is missing or the option repeated.
std::optional<std::string> take_value(std::vector<std::string>& args, const std::string& name);
bool take_flag(std::vector<std::string>& args, const std::string& name);

// oneseg-archive watch add|list|remove: saved searches (alerts.h).
int run_watch(int argc, char** argv);

}  // namespace oneseg::archive
