#pragma once
#include "platform/HttpClient.h"

#include <QString>

namespace kelvoran::watch {

// Downloads http://address:port/ServerAdmin/current_players with the admin login and returns the
// body decoded from Windows-1252, or "" when the page could not be opened. The HTTP status is not
// looked at: an error page is returned like any other page. How the download ended goes to
// `result` when one is given.
QString AdminPageFetcher(platform::HttpClient &http, const QString &user, const QString &password,
                         const QString &address, const QString &port,
                         platform::FetchResult *result = nullptr);

} // namespace kelvoran::watch
