// Notifications through the desktop's notification service, on a private
// message bus with a stand-in for the service.
#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "desktop_notice.h"
#include "window_tests.h"

namespace brannock::test {

// Takes notifications as the desktop's service would.
class NoticeService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  QStringList received;
 public slots:
  uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int timeout) {
    received << QStringList{app, QString::number(replaces), icon, summary, body, QString::number(actions.size()),
                            QString::number(hints.size()), QString::number(timeout)}
                    .join(QLatin1Char('|'));
    return 1;
  }
};

class DesktopNoticeTest : public QObject {
  Q_OBJECT
 private slots:
  void reachesTheNotificationService() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty()) QSKIP("dbus-daemon is not installed");
    QProcess bus;
    bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();

    NoticeService service;
    {
      QDBusConnection serviceSide = QDBusConnection::connectToBus(address, QStringLiteral("notice-service"));
      QVERIFY(serviceSide.registerService(QStringLiteral("org.freedesktop.Notifications")));
      QVERIFY(serviceSide.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                         QDBusConnection::ExportAllSlots));
      QDBusConnection recorderSide = QDBusConnection::connectToBus(address, QStringLiteral("notice-recorder"));
      SendDesktopNotice(recorderSide, QStringLiteral("Tollgarth"), QStringLiteral("A：Error:Bootup(02)"));
      QTRY_COMPARE(service.received,
                   QStringList{QStringLiteral("brannock|0|brannock|Tollgarth|A：Error:Bootup(02)|0|0|-1")});
      // A bus that is not there takes nothing and holds nothing up.
      SendDesktopNotice(QDBusConnection(QStringLiteral("no-such-bus")), QStringLiteral("T"), QStringLiteral("x"));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("notice-service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("notice-recorder"));
    bus.terminate();
    QVERIFY(bus.waitForFinished(10000));
    QCOMPARE(service.received.size(), 1);
  }
};

QObject* MakeDesktopNoticeTest() { return new DesktopNoticeTest; }

}  // namespace brannock::test

#include "window_notice_test.moc"
