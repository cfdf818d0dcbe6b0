#include "FakeGameServer.h"
#include "platform/Windows1252.h"
#include <QFile>
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
namespace kelvoran::test {
static QByteArray load(const char *name) // the server's answers and page templates
{
    QFile file(QStringLiteral(KELVORAN_SOURCE_DIR "/tests/data/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : "(missing from tests/data)";
}

FakeGameServer::FakeGameServer()
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    const auto addr = reinterpret_cast<sockaddr *>(&address);
    const int piece = 512; // the body arrives in pieces of at most 512 bytes, as from the server
    if (::setsockopt(m_listenFd, IPPROTO_TCP, TCP_MAXSEG, &piece, sizeof piece) != 0 ||
        ::bind(m_listenFd, addr, size) != 0 || ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, addr, &size) != 0)
        qFatal("FakeGameServer: cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    // One connection at a time, until the destructor shuts the listening socket down.
    m_thread = std::thread([this] {
        for (int fd; (fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0; ::close(fd))
            serve(fd);
    });
}

FakeGameServer::~FakeGameServer()
{
    ::shutdown(m_listenFd, SHUT_RDWR); // also ends the wait of a connection that gets no answer
    m_thread.join();
    ::close(m_listenFd);
}

void FakeGameServer::setMode(Mode mode)
{
    lock(), m_mode = mode;
    if (mode == Mode::Refusing) // still bound: no other program can open the port meanwhile
        ::shutdown(m_listenFd, SHUT_RDWR);
}

void FakeGameServer::serve(int fd)
{
    static const QByteArray okHead = load("ok_head.http"), refusal = load("unauthorized.http");
    auto send = [fd](QByteArrayView d) { return ::send(fd, d.data(), d.size(), MSG_NOSIGNAL) > 0; };
    QByteArray head;
    char buf[4096];
    for (ssize_t n = 0; !head.contains("\r\n\r\n"); head.append(buf, n))
        if ((n = ::recv(fd, buf, sizeof buf, 0)) <= 0 || head.size() > 65536)
            return;
    auto held = lock();
    ++m_requests;
    m_lastRequest = head.first(head.indexOf("\r\n\r\n"));
    const Mode mode = m_mode;
    const QStringList need = m_login;
    const bool players = mode == Mode::Normal || mode == Mode::CutMidPage;
    const QByteArray page = players ? playersPage(m_players) : m_rawBody;
    held.unlock();
    QString login; // "user:password" as the client sent it
    for (const QByteArray &line : head.split('\n'))
        if (line.toLower().startsWith("authorization: basic "))
            login = platform::fromWindows1252(QByteArray::fromBase64(line.mid(21).trimmed()));
    const QStringList given{login.section(':', 0, 0), login.section(':', 1)};
    const auto differs = [&](int i) { return need[i].compare(given[i], Qt::CaseInsensitive) != 0; };
    if (mode == Mode::NeverAnswer) { // until the client goes away or the server is torn down
        pollfd events[] = {{fd, POLLIN, 0}, {m_listenFd, 0, 0}};
        ::poll(events, 2, 30000); // the game server closes every connection after 30 s
    } else if ((!need[0].isEmpty() && differs(0)) || (!need[1].isEmpty() && differs(1))) {
        send(refusal);
    } else if (mode == Mode::Endless) {
        for (bool sent = send(okHead); sent;)
            sent = send(page);
    } else if (mode != Mode::CutMidPage) {
        send(okHead + page);
    } else if (send(okHead + page.first(page.size() / 2))) {
        // Reset once the client's side holds the half page: a reset drops what is still unsent.
        for (int unsent = 1; ::ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0;)
            std::this_thread::yield();
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
}

QByteArray FakeGameServer::playersPage(const QList<FakePlayer> &players)
{
    static const QString page = platform::fromWindows1252(load("current_players.html")),
                         row = load("player_row.html"), kickBan = load("kick_ban_cells.html");
    QList<FakePlayer> sorted = players; // as the server lists them
    std::ranges::stable_sort(sorted, {}, [](const FakePlayer &p) { return p.name.toLower(); });
    QString rows = players.isEmpty() ? load("no_players_row.html") : "";
    for (qsizetype i = 0; i < sorted.size(); ++i) {
        const FakePlayer &p = sorted[i];
        const QString tag = p.bot ? "&nbsp;(Bot)" : p.spectator ? "&nbsp;(Spectator)" : "";
        rows += row.arg(p.bot ? R"(<td width="1%" colspan=2>&nbsp;</td>)" : kickBan.arg(i),
                        p.name + tag, p.team, QString::number(p.ping), QString::number(p.score),
                        p.bot ? QString() : p.ip);
    }
    return platform::toWindows1252(QString(page).replace("<!--ROWS-->", rows));
}
} // namespace kelvoran::test
