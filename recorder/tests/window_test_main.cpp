// The window tests need a real application object (offscreen in CI).
#include <QApplication>
#include <QTest>
#include <memory>

#include "window_tests.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  int failures = 0;
  for (auto make : {brannock::test::MakeDaysFormTest, brannock::test::MakeTrayIconTest,
                    brannock::test::MakeOneSegFormTest, brannock::test::MakeProcessTest,
                    brannock::test::MakeDesktopNoticeTest}) {
    std::unique_ptr<QObject> test(make());
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
