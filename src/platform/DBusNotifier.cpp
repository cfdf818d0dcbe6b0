#include "platform/DBusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>

namespace kelvoran::platform {

DBusNotifier::DBusNotifier(const QString &appIcon, const QString &desktopEntry)
    : m_appIcon(appIcon), m_desktopEntry(desktopEntry)
{
}

void DBusNotifier::notify(const QString &summary, const QString &body)
{
    // Without a session bus address libdbus would try to launch a bus of its own.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/bus"))))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), m_desktopEntry}};
    call << QStringLiteral("Kelvoran") << uint(0) << m_appIcon << summary << body << QStringList()
         << hints << int(-1);
    // No service running: the bus answers with an error that nobody waits for.
    bus.send(call);
}

} // namespace kelvoran::platform
