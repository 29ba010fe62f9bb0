// The notification-area icon: shown only while the window is minimised, the
// window off the taskbar meanwhile, and the ways back.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <memory>

#include "tray_icon.h"
#include "window_tests.h"

namespace brannock::test {

class TrayIconTest : public QObject {
  Q_OBJECT

  struct Fixture {
    bool trayAvailable = true;
    QWidget window;
    QMenu popup;
    TTrayIcon* tray;

    Fixture() {
      QPixmap pixmap(16, 16);
      pixmap.fill(Qt::red);
      window.setWindowIcon(QIcon(pixmap));
      popup.addAction(QStringLiteral("ウインドウ表示(&V)"));
      tray = new TTrayIcon(&window, &popup, [this] { return trayAvailable; });
      tray->TipHelp = QStringLiteral("Tollgarth");
      window.show();
    }
    void Minimise() {
      window.showMinimized();
      QApplication::processEvents();
    }
    void Restore() {
      window.showNormal();
      QApplication::processEvents();
    }
  };

 private slots:
  void minimiseShowsIconAndLeavesTaskbar() {
    Fixture f;
    QVERIFY(!f.tray->Icon().isVisible());
    f.Minimise();
    QVERIFY(f.tray->Icon().isVisible());
    QCOMPARE(f.tray->Icon().toolTip(), QStringLiteral("Tollgarth"));
    QVERIFY(!f.tray->Icon().icon().isNull());
    QVERIFY(f.window.isHidden());
    f.Restore();
    QVERIFY(!f.tray->Icon().isVisible());
    QVERIFY(f.window.isVisible());
  }

  void everyMinimiseShowsTheIconAgain() {
    Fixture f;
    for (int round = 0; round < 3; ++round) {
      f.Minimise();
      QVERIFY(f.tray->Icon().isVisible());
      f.Restore();
      QVERIFY(!f.tray->Icon().isVisible());
    }
  }

  void withoutNotificationAreaTheTaskbarEntryStays() {
    Fixture f;
    f.trayAvailable = false;
    f.Minimise();
    QVERIFY(!f.tray->Icon().isVisible());
    QVERIFY(f.window.isVisible());
    QVERIFY(f.window.isMinimized());
  }

  void notificationAreaGoingAndComing() {
    Fixture f;
    f.Minimise();
    QVERIFY(f.window.isHidden());
    f.trayAvailable = false;  // the panel went away ...
    f.tray->CheckTray();
    // ... so the window is back on the taskbar, still minimised.
    QVERIFY(f.window.isVisible());
    QVERIFY(f.window.isMinimized());
    QVERIFY(!f.tray->Icon().isVisible());
    f.trayAvailable = true;  // the panel is back
    f.tray->CheckTray();
    QVERIFY(f.tray->Icon().isVisible());
    QApplication::processEvents();
    QVERIFY(f.window.isHidden());
    // While the window is shown, a returning panel brings no icon.
    f.Restore();
    f.trayAvailable = false;
    f.tray->CheckTray();
    f.trayAvailable = true;
    f.tray->CheckTray();
    QVERIFY(!f.tray->Icon().isVisible());
    QVERIFY(f.window.isVisible());
  }

  void doubleClickRestoresWithoutMenu() {
    Fixture f;
    QSignalSpy restore(f.tray, &TTrayIcon::DblClick);
    f.Minimise();
    f.tray->Activate(QSystemTrayIcon::Trigger);  // first press of the double-click
    f.tray->Activate(QSystemTrayIcon::DoubleClick);
    QCOMPARE(restore.count(), 1);
    QTest::qWait(QApplication::doubleClickInterval() + 100);
    QVERIFY(!f.popup.isVisible());
  }

  void pressOpensTheMenu() {
    Fixture f;
    f.Minimise();
    f.tray->Activate(QSystemTrayIcon::Trigger);
    QTRY_VERIFY_WITH_TIMEOUT(f.popup.isVisible(), 2000);
    f.popup.hide();
    // The right press opens the icon's own context menu, the same menu.
    QCOMPARE(f.tray->Icon().contextMenu(), &f.popup);
  }
};

QObject* MakeTrayIconTest() { return new TrayIconTest; }

}  // namespace brannock::test

#include "window_tray_test.moc"
