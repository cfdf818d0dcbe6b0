#pragma once
#include "platform/Notifier.h"

#include <QList>
#include <QObject>
#include <QPair>

namespace kelvoran::platform {

// Notifications through the desktop's org.freedesktop.Notifications service on the session bus.
// Nothing waits for the service: its capabilities are asked for once, and the notifications
// that come meanwhile are sent when the answer is in.
class DBusNotifier final : public QObject, public Notifier
{
    Q_OBJECT

public:
    // `appIcon`: an icon name of the icon theme or a file:// URL; `desktopEntry`: the application
    // id, so the desktop can group the notifications with the program.
    DBusNotifier(const QString &appIcon, const QString &desktopEntry);
    // The summary is plain text on every service. The body is escaped where the service reads it
    // as markup ("body-markup"); services that parse it without saying so exist, so text that
    // must read as typed goes into the summary.
    void notify(const QString &summary, const QString &body) override;

private:
    enum class Markup { Unknown, Asking, Plain, Parsed };
    void send(const QString &summary, const QString &body);

    QString m_appIcon;
    QString m_desktopEntry;
    Markup m_markup = Markup::Unknown;
    QList<QPair<QString, QString>> m_waiting;
};

} // namespace kelvoran::platform
