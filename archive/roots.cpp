#include "roots.h"

#include <algorithm>
#include <stdexcept>

#include "indexer.h"
#include "recording_files.h"

namespace oneseg::archive {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t longest_root_name = 64;

void check_name(const std::string& name)
{
  if (!is_root_name(name))
    throw std::invalid_argument("\"" + name + "\" cannot name a root (at most 64 bytes, no \"/\", not yymmdd)");
}

}  // namespace

bool is_root_name(std::string_view name)
{
  const bool has_control =
      std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  return !name.empty() && name.size() <= longest_root_name && name.find('/') == std::string_view::npos &&
         !has_control && name != "." && name != ".." && !is_day_folder_name(name);
}

RootSpec parse_root_spec(const std::string& argument)
{
  const std::size_t equals = argument.find('=');
  RootSpec spec;
  if (equals != std::string::npos && equals > 0 && argument.substr(0, equals).find('/') == std::string::npos) {
    spec = {argument.substr(0, equals), argument.substr(equals + 1)};
  } else {
    std::error_code ec;
    fs::path folder = fs::weakly_canonical(argument, ec);
    if (ec) folder = fs::absolute(argument);
    spec = {folder.filename().string(), argument};
  }
  check_name(spec.name);
  if (spec.path.empty()) throw std::invalid_argument("--root " + argument + " names no folder");
  return spec;
}

void check_distinct(const std::vector<RootSpec>& roots)
{
  for (std::size_t i = 0; i < roots.size(); ++i)
    for (std::size_t k = i + 1; k < roots.size(); ++k) {
      std::error_code ec;
      if (roots[i].name == roots[k].name)
        throw std::invalid_argument("two roots are named \"" + roots[i].name + "\": name them, NAME=DIR");
      if (fs::equivalent(roots[i].path, roots[k].path, ec))
        throw std::invalid_argument(roots[i].path.string() + " is given twice");
    }
}

std::vector<ArchiveRoot> register_roots(ArchiveDb& db, const std::vector<RootSpec>& roots, bool forget_others)
{
  std::vector<ArchiveRoot> out;
  ArchiveDb::Transaction transaction(db);
  Statement find = db.prepare("SELECT id, path FROM roots WHERE name = ?1");
  Statement add = db.prepare("INSERT INTO roots(name, path, available) VALUES (?1, ?2, 1)");
  Statement move = db.prepare("UPDATE roots SET path = ?2 WHERE id = ?1");
  for (const RootSpec& spec : roots) {
    std::error_code ec;
    fs::path path = fs::absolute(spec.path, ec);
    if (ec) path = spec.path;
    ArchiveRoot root{0, spec.name, path};
    find.bind(1, spec.name);
    if (find.step()) {
      root.id = find.integer(0);
      const bool moved = find.text(1) != path.string();
      find.reset();
      if (moved) move.bind(1, root.id).bind(2, path.string()).run();
    } else {
      find.reset();
      add.bind(1, spec.name).bind(2, path.string()).run();
      root.id = db.last_insert_id();
    }
    out.push_back(std::move(root));
  }
  if (forget_others)
    for (const ArchiveRoot& known : known_roots(db))
      if (std::none_of(out.begin(), out.end(), [&](const ArchiveRoot& r) { return r.id == known.id; }))
        forget_root(db, known.id);
  transaction.commit();
  return out;
}

ArchiveRoot register_root(ArchiveDb& db, const fs::path& folder)
{
  return register_roots(db, {parse_root_spec(folder.string())}, false).front();
}

std::vector<ArchiveRoot> known_roots(ArchiveDb& db)
{
  std::vector<ArchiveRoot> roots;
  Statement s = db.prepare("SELECT id, name, path FROM roots ORDER BY id");
  while (s.step()) roots.push_back({s.integer(0), s.text(1), fs::path(s.text(2))});
  return roots;
}

}  // namespace oneseg::archive
