// oneseg-archive watch: saved searches from the command line.
#include <algorithm>
#include <iostream>

#include "alerts.h"
#include "cli.h"

namespace oneseg::archive {

namespace {

constexpr const char* synopsis =
    "add QUERY [--station NAME] [--name LABEL] | list [--json] | remove ID, with --db FILE or --root DIR";

// --db, else the database of --root.
std::filesystem::path database_of(std::vector<std::string>& args)
{
  const auto db = take_value(args, "--db");
  if (db) return *db;
  if (std::find(args.begin(), args.end(), "--root") == args.end()) throw UsageError("--db FILE or --root DIR is needed");
  return take_root_options(args).db;
}

void no_option_left(const std::vector<std::string>& args)
{
  for (const std::string& a : args)
    if (a.starts_with("--")) throw UsageError("unknown option " + a);
}

int add(std::vector<std::string>& args)
{
  const std::string station = take_value(args, "--station").value_or("");
  const std::string label = take_value(args, "--name").value_or("");
  const std::filesystem::path db_file = database_of(args);
  const auto words = std::find(args.begin(), args.end(), "--");
  std::vector<std::string> query_words(args.begin(), words);
  no_option_left(query_words);
  if (words != args.end()) query_words.insert(query_words.end(), words + 1, args.end());
  if (query_words.empty()) throw UsageError("QUERY is missing");
  std::string query;
  for (const std::string& w : query_words) query += (query.empty() ? "" : " ") + w;
  ArchiveDb db = ArchiveDb::open(db_file);
  std::cout << add_watch(db, query, station, label) << '\n';
  return 0;
}

int list(std::vector<std::string>& args)
{
  const bool json = take_flag(args, "--json");
  const std::filesystem::path db_file = database_of(args);
  no_option_left(args);
  if (!args.empty()) throw UsageError("unknown argument \"" + args.front() + "\"");
  ArchiveDb db = ArchiveDb::open(db_file);
  const std::vector<Watch> watches = list_watches(db);
  if (json) {
    std::cout << watches_json(watches) << '\n';
    return 0;
  }
  for (const Watch& w : watches) std::cout << w.id << '\t' << w.label << '\t' << w.station << '\t' << w.query << '\n';
  return 0;
}

int remove(std::vector<std::string>& args)
{
  const std::filesystem::path db_file = database_of(args);
  if (args.size() != 1 || args[0].empty() || args[0].find_first_not_of("0123456789") != std::string::npos ||
      args[0].size() > 18)
    throw UsageError("remove takes the id of one watch");
  ArchiveDb db = ArchiveDb::open(db_file);
  if (remove_watch(db, std::stoll(args[0]))) return 0;
  std::cerr << "oneseg-archive watch: there is no watch " << args[0] << '\n';
  return 1;
}

}  // namespace

int run_watch(int argc, char** argv)
{
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) throw UsageError("add, list or remove?");
    const std::string action = args.front();
    args.erase(args.begin());
    if (action == "add") return add(args);
    if (action == "list") return list(args);
    if (action == "remove") return remove(args);
    throw UsageError("unknown action \"" + action + "\"");
  } catch (const UsageError& e) {
    std::cerr << "oneseg-archive watch: " << e.what() << "\nusage: oneseg-archive watch " << synopsis << '\n';
    return 2;
  } catch (const QueryError& e) {
    std::cerr << "oneseg-archive watch: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "oneseg-archive watch: " << e.what() << '\n';
    return 3;
  }
}

}  // namespace oneseg::archive
