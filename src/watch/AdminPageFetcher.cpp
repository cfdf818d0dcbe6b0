#include "watch/AdminPageFetcher.h"

#include "platform/Windows1252.h"

namespace kelvoran::watch {

QString AdminPageFetcher(platform::HttpClient &http, const QString &user, const QString &password,
                         const QString &address, const QString &port, platform::FetchResult *result)
{
    // The fields go into the URL as typed; the login is handed over apart from it.
    const QString url = QStringLiteral("http://") + address + QLatin1Char(':') + port +
                        QStringLiteral("/ServerAdmin/current_players");

    QString page;
    const platform::FetchResult fetched =
        http.get(url, user, password,
                 [&page](QByteArrayView chunk) { page += platform::fromWindows1252(chunk); });
    if (result)
        *result = fetched;
    if (!fetched.opened)
        return QString();
    return page;
}

} // namespace kelvoran::watch
