#include "desktop_notice.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace brannock {

void SendDesktopNotice(QDBusConnection bus, const QString& title, const QString& text) {
  if (!bus.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                     QStringLiteral("/org/freedesktop/Notifications"),
                                     QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the server's default)
  call << QStringLiteral("brannock") << 0u << QStringLiteral("brannock") << title << text << QStringList()
       << QVariantMap() << -1;
  bus.send(call);
}

}  // namespace brannock
