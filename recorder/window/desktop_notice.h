#pragma once
// Notifications through the desktop's notification service
// (org.freedesktop.Notifications), for desktops without a notification area
// or while the recorder's tray icon is not shown.
#include <QDBusConnection>
#include <QString>

namespace brannock {

// Sends on `bus` without waiting for an answer, so a slow or missing service
// never holds up recording. Nothing happens on a bus that is not connected.
void SendDesktopNotice(QDBusConnection bus, const QString& title, const QString& text);

}  // namespace brannock
