#include "platform/DBusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QVariantMap>

namespace kelvoran::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kService, method);
}

} // namespace

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
    if (m_markup == Markup::Plain || m_markup == Markup::Parsed) {
        send(summary, body);
        return;
    }
    m_waiting.append({summary, body});
    if (m_markup == Markup::Asking)
        return;
    // A service started later is asked again at the next notification.
    m_markup = Markup::Asking;
    auto *watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            // No service running: what waited is dropped, as it would have been unseen.
            m_markup = Markup::Unknown;
            m_waiting.clear();
            return;
        }
        m_markup =
            reply.value().contains(QStringLiteral("body-markup")) ? Markup::Parsed : Markup::Plain;
        for (const auto &[summary, body] : std::exchange(m_waiting, {}))
            send(summary, body);
    });
}

void DBusNotifier::send(const QString &summary, const QString &body)
{
    QDBusMessage message = call(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), m_desktopEntry}};
    message << QStringLiteral("Kelvoran") << uint(0) << m_appIcon << summary
            << (m_markup == Markup::Parsed ? body.toHtmlEscaped() : body) << QStringList() << hints
            << int(-1);
    QDBusConnection::sessionBus().send(message);
}

} // namespace kelvoran::platform
