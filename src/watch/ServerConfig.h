#pragma once
// One watched server as the user set it up: the first is the one of the main window's fields and
// the game server's INI file, the others are kept in the store.
#include <QString>

namespace kelvoran::watch {

struct ServerConfig
{
    enum class Kind {
        WebAdmin, // the web admin's current players page: names and addresses, needs the login
        Public,   // the game's own status query over UDP: names only, no login
    };
    // Every member has an initialiser, so a designated initialiser may name only some.
    QString id{}; // the server's key under Software\Kelvoran\Servers; "" for the first server
    Kind kind = Kind::WebAdmin;
    QString name{}; // as the user gave it; "" shows the server as HOST:PORT
    QString address{};
    QString port{}; // the web admin's port, or a public server's game port
    QString adminName{};
    QString password{};
    QString queryPort{}; // a public server's query port when the user set one; "" is port + 1

    // "address:port"; "" while neither is set.
    QString hostPort() const
    {
        return address.isEmpty() && port.isEmpty() ? QString() : address + QLatin1Char(':') + port;
    }
    // The name the user gave, else HOST:PORT.
    QString displayName() const
    {
        return !name.isEmpty()         ? name
               : !hostPort().isEmpty() ? hostPort()
                                       : QStringLiteral("(no address yet)");
    }
    // Whether both name the same server, login aside: another server starts with a clean state.
    bool sameServer(const ServerConfig &other) const
    {
        return kind == other.kind && address == other.address && port == other.port &&
               queryPort == other.queryPort;
    }
    friend bool operator==(const ServerConfig &, const ServerConfig &) = default;
};

} // namespace kelvoran::watch
