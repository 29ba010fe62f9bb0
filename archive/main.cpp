// oneseg-archive: the caption archive over a recording folder.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "serve.h"

namespace {

struct Subcommand {
  const char* name;
  int (*run)(int argc, char** argv);
};

// The web server adds its "serve" entry here.
constexpr Subcommand subcommands[] = {
    {"index", oneseg::archive::run_index},
    {"follow", oneseg::archive::run_follow},
    {"search", oneseg::archive::run_search},
    {"stats", oneseg::archive::run_stats},
    {"watch", oneseg::archive::run_watch},
    {"timeline", oneseg::archive::run_timeline},
    {"trends", oneseg::archive::run_trends},
    {"serve", run_serve},
};

int usage()
{
  std::fputs("usage: oneseg-archive index|follow|search|stats|watch|timeline|trends|serve --root DIR [--db FILE] ...\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv)
{
  if (argc < 2) return usage();
  for (const Subcommand& s : subcommands)
    if (std::strcmp(argv[1], s.name) == 0) return s.run(argc - 1, argv + 1);
  return usage();
}
