#include "screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

#include "days_form.h"
#include "oneseg_form.h"

namespace brannock {

void ScheduleScreenshots(TOneSegForm& form) {
  const QString folder = qEnvironmentVariable("BRANNOCK_SCREENSHOT_DIR");
  if (folder.isEmpty()) return;
  bool ok = false;
  int afterMs = qEnvironmentVariableIntValue("BRANNOCK_SCREENSHOT_AFTER_MS", &ok);
  if (!ok) afterMs = 5000;
  QTimer::singleShot(afterMs, &form, [&form, folder] {
    form.grab().save(QDir(folder).filePath(QStringLiteral("main.png")));
    // Grabbed from inside the dialog's own event loop, as the user sees it.
    QTimer::singleShot(500, form.DaysForm, [&form, folder] {
      form.DaysForm->grab().save(QDir(folder).filePath(QStringLiteral("days.png")));
      form.DaysForm->reject();
      form.X1Click();
    });
    form.D1Click();
  });
}

}  // namespace brannock
