#include "window_main.h"

#include <QApplication>

#include "engine.h"
#include "oneseg_form.h"
#include "screenshot.h"
#include "stop_signals.h"

namespace brannock {

int RunWindow(int argc, char** argv, RecorderEngine& engine, const std::string& settingsFolder) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("brannock"));
  QApplication::setDesktopFileName(QStringLiteral("brannock"));
  // The window leaves the screen for the notification area and dialogs close
  // while it is away: only the menu's exit and the close box end the program.
  QApplication::setQuitOnLastWindowClosed(false);
  // Logging out or `kill` closes the window the same way its exit menu does.
  const StopSignals stopSignals;

  TOneSegForm form(engine, RealDesktop());
  QApplication::setWindowIcon(form.windowIcon());
  form.FormCreate(settingsFolder);
  form.show();
  ScheduleScreenshots(form);
  return QApplication::exec();
}

}  // namespace brannock
