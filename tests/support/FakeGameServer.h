#pragma once
#include <QList>
#include <QString>
#include <mutex>
#include <thread>
namespace kelvoran::test {
struct FakePlayer
{
    QString name{}, ip{}, team{}; // no team in deathmatch
    int ping = 40, score = 0;
    bool bot = false;       // no kick/ban cells, "&nbsp;(Bot)" after the name, empty IP cell
    bool spectator = false; // "&nbsp;(Spectator)" after the name
};
// The game server's web administration, as it behaves: Basic login compared without regard to case;
// the body in pieces of at most 512 bytes, no Content-Length, ended by closing the connection.
class FakeGameServer
{
public:
    enum class Mode {
        Normal,      // the players page (or 401 with wrong credentials)
        NeverAnswer, // accepts the connection and never sends anything
        Endless,     // 200 OK, then the raw body (setRawBody) until the client goes away
        CutMidPage,  // sends the first half of the players page, then resets the connection
        Refusing,    // listens no more: connections are refused
    };
    FakeGameServer(); // listens on a free loopback port
    ~FakeGameServer();
    quint16 port() const { return m_port; }
    QString portText() const { return QString::number(m_port); }
    QString url() const { return "http://127.0.0.1:" + portText() + "/"; }
    // Empty user or password switches that half of the check off, as on the real server.
    void setCredentials(const QString &user, const QString &pw) { lock(), m_login = {user, pw}; }
    void setPlayers(const QList<FakePlayer> &players) { lock(), m_players = players; }
    void setMode(Mode mode);
    void setRawBody(const QByteArray &body) { lock(), m_rawBody = body; }
    int requestCount() const { return lock(), m_requests; }
    QByteArray lastRequest() const { return lock(), m_lastRequest; } // request line and headers
    static QByteArray playersPage(const QList<FakePlayer> &players); // as sent: Windows-1252
private:
    // Held until the end of the statement that takes it.
    std::unique_lock<std::mutex> lock() const { return std::unique_lock(m_mutex); }
    void serve(int fd);
    mutable std::mutex m_mutex;
    int m_listenFd = -1, m_requests = 0;
    quint16 m_port = 0;
    Mode m_mode = Mode::Normal;
    QStringList m_login{QString(), QString()};
    QList<FakePlayer> m_players;
    QByteArray m_rawBody, m_lastRequest;
    std::thread m_thread;
};
} // namespace kelvoran::test
