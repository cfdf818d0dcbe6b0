#include "watch/AdminPageFetcher.h"

#include "platform/Windows1252.h"

namespace kelvoran::watch {

QString AdminPageFetcher(platform::HttpClient &http, const QString &user, const QString &password,
                         const QString &address, const QString &port)
{
    // The fields go into the URL as typed; the login is handed over apart from it.
    const QString url = QStringLiteral("http://") + address + QLatin1Char(':') + port +
                        QStringLiteral("/ServerAdmin/current_players");

    QString page;
    const bool opened = http.get(url, user, password, [&page](QByteArrayView chunk) {
        page += platform::fromWindows1252(chunk);
    });
    if (!opened)
        return QString();
    return page;
}

} // namespace kelvoran::watch
