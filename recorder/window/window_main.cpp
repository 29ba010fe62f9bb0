#include "window_main.h"

#include <QApplication>
#include <QIcon>

#include "engine.h"
#include "oneseg_form.h"
#include "screenshot.h"

namespace brannock {

namespace {

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 32, 48, 64}) icon.addFile(QStringLiteral(":/brannock/brannock-%1.png").arg(size));
  icon.addFile(QStringLiteral(":/brannock/brannock.svg"));
  return icon;
}

}  // namespace

int RunWindow(int argc, char** argv, RecorderEngine& engine, const std::string& settingsFolder) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("brannock"));
  QApplication::setDesktopFileName(QStringLiteral("brannock"));
  QApplication::setWindowIcon(ProgramIcon());
  // The window leaves the screen for the notification area and dialogs close
  // while it is away: only the menu's exit and the close box end the program.
  QApplication::setQuitOnLastWindowClosed(false);

  TOneSegForm form(engine, RealDesktop());
  form.FormCreate(settingsFolder);
  form.show();
  ScheduleScreenshots(form);
  return QApplication::exec();
}

}  // namespace brannock
