#pragma once
#include "platform/Notifier.h"

namespace kelvoran::platform {

// Notifications through the desktop's org.freedesktop.Notifications service on the session bus.
// The call is sent without waiting for an answer.
class DBusNotifier final : public Notifier
{
public:
    // `appIcon`: an icon name of the icon theme or a file:// URL; `desktopEntry`: the application
    // id, so the desktop can group the notifications with the program.
    DBusNotifier(const QString &appIcon, const QString &desktopEntry);
    void notify(const QString &summary, const QString &body) override;

private:
    QString m_appIcon;
    QString m_desktopEntry;
};

} // namespace kelvoran::platform
