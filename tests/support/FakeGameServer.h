#pragma once
// A local stand-in for the game server's web administration, behaving as the real one does:
// Basic authentication compared without regard to case, a 401 page, no Content-Length, the body
// written in pieces of at most 512 bytes and then the connection closed, player rows in the real
// format (bots, spectators, team games) and the "No Players Connected" page.
#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>

namespace kelvoran::test {

struct FakePlayer
{
    QString name{};
    QString ip{};
    QString team{}; // empty in deathmatch
    int ping = 40;
    int score = 0;
    bool bot = false;       // no kick/ban cells, "&nbsp;(Bot)" after the name, empty IP cell
    bool spectator = false; // "&nbsp;(Spectator)" after the name
};

class FakeGameServer
{
public:
    enum class Mode {
        Normal,      // the players page (or 401 with wrong credentials)
        NeverAnswer, // accepts the connection and never sends anything
        Endless,     // 200 OK, then body bytes without end until the client goes away
        CutMidPage,  // sends the first half of the players page, then resets the connection
        RawBody,     // 200 OK with the body set by setRawBody()
    };

    // Starts listening on a free loopback port and serves on its own thread.
    FakeGameServer();
    ~FakeGameServer();
    FakeGameServer(const FakeGameServer &) = delete;
    FakeGameServer &operator=(const FakeGameServer &) = delete;

    quint16 port() const;
    QString portText() const;

    // Empty user or password switches that half of the check off, as on the real server.
    void setCredentials(const QString &user, const QString &password);
    void setPlayers(const QList<FakePlayer> &players);
    void setMode(Mode mode);
    void setRawBody(const QByteArray &body);

    int requestCount() const;
    // Request line and headers of the latest request, as received.
    QByteArray lastRequest() const;

    // The page the server sends for these players, as bytes (Windows-1252).
    static QByteArray playersPage(const QList<FakePlayer> &players);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kelvoran::test
