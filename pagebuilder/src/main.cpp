#include <QApplication>
#include <cstring>
#include <iostream>

#include "batch_mode.h"
#include "main_window.h"
#include "system_env.h"

namespace {

// --help and --version need no display: answered before any window exists.
bool answered_without_window(const pellatt::BatchOptions& options) {
  if (options.help) std::cout << pellatt::batch_usage();
  if (options.version) std::cout << "pellatt " << ONESEG_VERSION << "\n";
  return options.help || options.version;
}

}  // namespace

int main(int argc, char** argv) {
  pellatt::SpawnStarter starter(pellatt::program_folder());
  pellatt::SystemClock clock;
  const bool batch = argc > 1 && std::strcmp(argv[1], "--batch") == 0;
  if (batch || (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--version") == 0))) {
    try {
      const auto options = pellatt::parse_batch_options(std::vector<std::string>(argv + (batch ? 2 : 1), argv + argc));
      if (answered_without_window(options)) return 0;
      return pellatt::run_batch(options, starter, clock, std::cout, std::cerr);
    } catch (const pellatt::JobError& e) {
      std::cerr << "pellatt: " << e.what() << "\n" << pellatt::batch_usage();
      return 2;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quenby");
  pellatt::Tf_main window(starter, clock);
  window.show();
  return app.exec();
}
