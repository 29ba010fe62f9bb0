#include <QApplication>
#include <cstring>
#include <iostream>

#include "batch_mode.h"
#include "main_window.h"
#include "system_env.h"

int main(int argc, char** argv) {
  pellatt::SpawnStarter starter(pellatt::program_folder());
  pellatt::SystemClock clock;
  if (argc > 1 && std::strcmp(argv[1], "--batch") == 0) {
    try {
      const auto options = pellatt::parse_batch_options(std::vector<std::string>(argv + 2, argv + argc));
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
