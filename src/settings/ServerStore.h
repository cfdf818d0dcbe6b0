#pragma once
// The watched servers beside the first: one key each under Software\Kelvoran\Servers, named by a
// number that is never that of another server still kept, holding the server's values.
#include "watch/ServerConfig.h"
#include "watchlist/Module1.h"

#include <QList>
#include <QString>

namespace kelvoran::settings {

inline const RegPath kServersKey{QStringLiteral("Software"), QStringLiteral("Kelvoran"),
                                 QStringLiteral("Servers")};

// The servers kept, in the order they were added.
QList<watch::ServerConfig> storedServers(Module1 &registry);

// Keeps the server's values; a new server (no id yet) gets the next number as its id. False
// when the store refused a write (Module1::writeFailure() says why).
bool storeServer(Module1 &registry, watch::ServerConfig &server);

// Removes the server's key and its announce flags from every watch entry.
bool removeStoredServer(Module1 &registry, const QString &id);

// What is wrong with the fields of a server the user entered, in words for a message box; ""
// when nothing is. The fields a Save needs must hold something ("Please enter all fields!"),
// and a port is a number from 1 to 65535.
QString serverFieldsProblem(const watch::ServerConfig &server);

} // namespace kelvoran::settings
