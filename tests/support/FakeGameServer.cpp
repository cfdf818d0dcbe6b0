#include "FakeGameServer.h"

#include "platform/Windows1252.h"

#include <QStringList>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kelvoran::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kConnectionLifetime = std::chrono::seconds(30);
constexpr qsizetype kWritePiece = 512;
constexpr qsizetype kMaxRequestHead = 64 * 1024;

const QByteArray kServerHeader = "Server: UnrealEngine UWeb Web Server Build 451\r\n";

QByteArray okHead()
{
    return "HTTP/1.1 200 OK\r\n" + kServerHeader +
           "Content-Type: text/html\r\n"
           "Connection: Close\r\n"
           "\r\n";
}

QByteArray unauthorizedResponse()
{
    return "HTTP/1.1 401 Unauthorized\r\n" + kServerHeader +
           "WWW-authenticate: basic realm=\"UT Remote Admin Server\"\r\n"
           "Content-Type: text/html\r\n"
           "Connection: Close\r\n"
           "\r\n"
           "<TITLE>401 Unauthorized</TITLE><H1>401 Unauthorized</H1>";
}

QByteArray notFoundResponse()
{
    return "HTTP/1.1 404 Not Found\r\n" + kServerHeader +
           "Content-Type: text/html\r\n"
           "Connection: Close\r\n"
           "\r\n"
           "<TITLE>404 File Not Found</TITLE><H1>404 File Not Found</H1>"
           "The URL you requested was not found.";
}

QString centreCell(const QString &text)
{
    return QStringLiteral("<td width=\"1%\"><div align=\"center\">") + text +
           QStringLiteral("</div></td>");
}

QString playerRow(const FakePlayer &player, int id)
{
    QString row = QStringLiteral("<tr>");
    QString name = player.name;
    if (player.bot) {
        row += QStringLiteral("<td width=\"1%\" colspan=2>&nbsp;</td>");
        name += QStringLiteral("&nbsp;(Bot)");
    } else {
        row += QStringLiteral("<td width=\"1%\"><div align=\"center\"><input type=\"checkbox\" "
                              "name=\"KickPlayer%1\" value=\"kick\"></div></td>")
                   .arg(id);
        row += QStringLiteral("<td width=\"1%\"><div align=\"center\"><input type=\"checkbox\" "
                              "name=\"BanPlayer%1\" value=\"ban\"></div></td>")
                   .arg(id);
        if (player.spectator)
            name += QStringLiteral("&nbsp;(Spectator)");
    }
    row += QStringLiteral("<td><div align=\"left\">") + name + QStringLiteral("</div></td>");
    row += centreCell(player.team + QStringLiteral("&nbsp;"));
    row += centreCell(QString::number(player.ping));
    row += centreCell(QString::number(player.score));
    row += centreCell(player.bot ? QString() : player.ip);
    row += QStringLiteral("</tr>");
    return row;
}

struct Config
{
    QString user;
    QString password;
    QList<FakePlayer> players;
    FakeGameServer::Mode mode = FakeGameServer::Mode::Normal;
    QByteArray rawBody;
};

struct Login
{
    QString user;
    QString password;
};

Login loginOf(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    for (const QByteArray &rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "authorization")
            continue;
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (!value.toLower().startsWith("basic "))
            continue;
        const QByteArray decoded = QByteArray::fromBase64(value.mid(6).trimmed());
        const qsizetype split = decoded.indexOf(':');
        if (split < 0)
            return {platform::fromWindows1252(decoded), QString()};
        return {platform::fromWindows1252(decoded.left(split)),
                platform::fromWindows1252(decoded.mid(split + 1))};
    }
    return {};
}

bool loginAccepted(const Config &config, const Login &login)
{
    const bool userOk =
        config.user.isEmpty() || config.user.compare(login.user, Qt::CaseInsensitive) == 0;
    const bool passwordOk = config.password.isEmpty() ||
                            config.password.compare(login.password, Qt::CaseInsensitive) == 0;
    return userOk && passwordOk;
}

QByteArray requestTarget(const QByteArray &head)
{
    const QByteArray requestLine = head.left(head.indexOf("\r\n"));
    const QList<QByteArray> parts = requestLine.split(' ');
    return parts.size() >= 2 ? parts.at(1) : QByteArray();
}

} // namespace

struct FakeGameServer::Impl
{
    int listenFd = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    quint16 port = 0;
    std::thread thread;

    mutable std::mutex mutex;
    Config config;
    int requests = 0;
    QByteArray lastRequest;

    enum class Wait { Ready, TimedOut, Stopping };

    // Waits for `events` on `fd`, for the end of the connection's life, or for the server to be
    // torn down, whichever comes first.
    Wait waitFor(int fd, short events, Clock::time_point deadline) const
    {
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return Wait::TimedOut;
            pollfd fds[2] = {{wakeRead, POLLIN, 0}, {fd, events, 0}};
            const int count = fd >= 0 ? 2 : 1;
            const int ready = ::poll(
                fds, count, static_cast<int>(std::min<long long>(left.count(), 1000LL * 60)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || fds[0].revents)
                return Wait::Stopping;
            if (ready > 0)
                return Wait::Ready;
        }
    }

    bool pause(std::chrono::milliseconds span) const
    {
        return waitFor(-1, 0, Clock::now() + span) == Wait::TimedOut;
    }

    // Writes `data` in pieces of at most kWritePiece bytes, as the game server does.
    bool writeAll(int fd, const char *data, qsizetype size, Clock::time_point deadline) const
    {
        qsizetype sent = 0;
        while (sent < size) {
            if (waitFor(fd, POLLOUT, deadline) != Wait::Ready)
                return false;
            const qsizetype piece = std::min(kWritePiece, size - sent);
            const ssize_t n =
                ::send(fd, data + sent, static_cast<size_t>(piece), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return false;
            }
            sent += n;
        }
        return true;
    }

    bool writeAll(int fd, const QByteArray &data, Clock::time_point deadline) const
    {
        return writeAll(fd, data.constData(), data.size(), deadline);
    }

    // Reads request line and headers; false when the client went away before sending them.
    bool readHead(int fd, QByteArray &head, Clock::time_point deadline) const
    {
        QByteArray buffer;
        char chunk[4096];
        for (;;) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end >= 0) {
                head = buffer.left(end);
                return true;
            }
            if (buffer.size() > kMaxRequestHead)
                return false;
            if (waitFor(fd, POLLIN, deadline) != Wait::Ready)
                return false;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return false;
            buffer.append(chunk, n);
        }
    }

    // Reads and drops whatever the client sends until it closes its side.
    void drainUntilClosed(int fd, Clock::time_point deadline) const
    {
        char chunk[4096];
        while (waitFor(fd, POLLIN, deadline) == Wait::Ready) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return;
        }
    }

    static void resetConnection(int fd)
    {
        const linger abort = {1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }

    void serve(int fd)
    {
        const auto deadline = Clock::now() + kConnectionLifetime;
        QByteArray head;
        if (!readHead(fd, head, deadline))
            return;

        Config snapshot;
        {
            std::lock_guard lock(mutex);
            ++requests;
            lastRequest = head;
            snapshot = config;
        }

        if (snapshot.mode == Mode::NeverAnswer) {
            drainUntilClosed(fd, deadline);
            return;
        }

        if (!loginAccepted(snapshot, loginOf(head))) {
            writeAll(fd, unauthorizedResponse(), deadline);
        } else if (requestTarget(head) != "/ServerAdmin/current_players") {
            writeAll(fd, notFoundResponse(), deadline);
        } else {
            switch (snapshot.mode) {
            case Mode::Normal:
                writeAll(fd, okHead() + playersPage(snapshot.players), deadline);
                break;
            case Mode::RawBody:
                writeAll(fd, okHead() + snapshot.rawBody, deadline);
                break;
            case Mode::CutMidPage: {
                const QByteArray page = playersPage(snapshot.players);
                if (writeAll(fd, okHead() + page.left(page.size() / 2), deadline)) {
                    // Give the client time to take in the half page before the reset.
                    if (pause(std::chrono::milliseconds(300)))
                        resetConnection(fd);
                }
                return;
            }
            case Mode::Endless: {
                if (!writeAll(fd, okHead(), deadline))
                    return;
                const QByteArray line = "<p>The page goes on and on.</p>\r\n";
                QByteArray block;
                while (block.size() < 64 * 1024)
                    block += line;
                while (writeAll(fd, block, deadline)) {
                }
                return;
            }
            case Mode::NeverAnswer:
                break;
            }
        }
        // The body ends where the connection ends: close our side, then wait for the client.
        ::shutdown(fd, SHUT_WR);
        drainUntilClosed(fd, std::min(deadline, Clock::now() + std::chrono::seconds(5)));
    }

    void run()
    {
        for (;;) {
            if (waitFor(listenFd, POLLIN, Clock::now() + std::chrono::hours(24)) != Wait::Ready)
                return;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == ECONNABORTED)
                    continue;
                return;
            }
            serve(fd);
            ::close(fd);
        }
    }
};

FakeGameServer::FakeGameServer() : d(std::make_unique<Impl>())
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        qFatal("FakeGameServer: pipe2 failed");
    d->wakeRead = pipeFds[0];
    d->wakeWrite = pipeFds[1];

    d->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (d->listenFd < 0)
        qFatal("FakeGameServer: socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(d->listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(d->listenFd, 16) != 0)
        qFatal("FakeGameServer: cannot listen on 127.0.0.1");
    socklen_t length = sizeof address;
    ::getsockname(d->listenFd, reinterpret_cast<sockaddr *>(&address), &length);
    d->port = ntohs(address.sin_port);

    d->thread = std::thread([impl = d.get()] { impl->run(); });
}

FakeGameServer::~FakeGameServer()
{
    const char wake = 1;
    [[maybe_unused]] const ssize_t written = ::write(d->wakeWrite, &wake, 1);
    d->thread.join();
    ::close(d->listenFd);
    ::close(d->wakeRead);
    ::close(d->wakeWrite);
}

quint16 FakeGameServer::port() const
{
    return d->port;
}

QString FakeGameServer::portText() const
{
    return QString::number(d->port);
}

void FakeGameServer::setCredentials(const QString &user, const QString &password)
{
    std::lock_guard lock(d->mutex);
    d->config.user = user;
    d->config.password = password;
}

void FakeGameServer::setPlayers(const QList<FakePlayer> &players)
{
    std::lock_guard lock(d->mutex);
    d->config.players = players;
}

void FakeGameServer::setMode(Mode mode)
{
    std::lock_guard lock(d->mutex);
    d->config.mode = mode;
}

void FakeGameServer::setRawBody(const QByteArray &body)
{
    std::lock_guard lock(d->mutex);
    d->config.rawBody = body;
}

int FakeGameServer::requestCount() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

QByteArray FakeGameServer::lastRequest() const
{
    std::lock_guard lock(d->mutex);
    return d->lastRequest;
}

QByteArray FakeGameServer::playersPage(const QList<FakePlayer> &players)
{
    // Rows are listed by name without regard to case; the number in the kick and ban fields is
    // the player's place in the game, not in the list.
    QList<qsizetype> order;
    for (qsizetype i = 0; i < players.size(); ++i)
        order.append(i);
    std::stable_sort(order.begin(), order.end(), [&players](qsizetype a, qsizetype b) {
        return players.at(a).name.compare(players.at(b).name, Qt::CaseInsensitive) < 0;
    });

    QString rows;
    for (const qsizetype i : std::as_const(order))
        rows += playerRow(players.at(i), static_cast<int>(i));
    if (players.isEmpty()) {
        rows = QStringLiteral(
            "<tr align=\"center\"><td colspan=\"5\">** No Players Connected **</td></tr>");
    }

    QString page = QStringLiteral(
        "<html>\r\n"
        "<head>\r\n"
        "<title>Unreal Tournament Remote Administration</title>\r\n"
        "<meta http-equiv=\"Content-Type\" content=\"text/html\">\r\n"
        "<link rel=\"stylesheet\" href=\"/images/admin.css\" type=\"text/css\">\r\n"
        "</head>\r\n"
        "<body bgcolor=\"#000000\" text=\"#FFFFFF\" link=\"#FFFF00\" vlink=\"#FFFF00\">\r\n"
        "<table width=\"100%\" border=\"0\" cellspacing=\"0\" cellpadding=\"0\">\r\n"
        "  <tr>\r\n"
        "    <td width=\"1%\"><a href=\"current_menu\" target=\"_top\"><img "
        "src=\"/images/ut_logo.gif\" border=\"0\"></a></td>\r\n"
        "    <td class=\"heading\"><div align=\"center\">Current Players</div></td>\r\n"
        "  </tr>\r\n"
        "</table>\r\n"
        "<table width=\"100%\" border=\"0\" cellspacing=\"2\" cellpadding=\"2\">\r\n"
        "  <tr>\r\n"
        "    <td><a href=\"current_game\">Current Game</a> | <a "
        "href=\"current_players\">Players</a> | <a href=\"current_console\">Console</a> | <a "
        "href=\"current_mutators\">Mutators</a> | <a "
        "href=\"current_restart\">Restart Map</a></td>\r\n"
        "  </tr>\r\n"
        "</table>\r\n"
        "<form method=\"post\" action=\"current_players\">\r\n"
        "<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"2\">\r\n"
        "<tr>\r\n"
        "<td width=\"1%\"><div align=\"center\"><b>Kick</b></div></td>\r\n"
        "<td width=\"1%\"><div align=\"center\"><b>Ban</b></div></td>\r\n"
        "<td><div align=\"left\"><b><a href=\"current_players?sortby=Name\">Name</a></b></div>"
        "</td>\r\n"
        "<td width=\"1%\"><div align=\"center\"><b><a "
        "href=\"current_players?sortby=Team\">Team</a></b></div></td>\r\n"
        "<td width=\"1%\"><div align=\"center\"><b><a "
        "href=\"current_players?sortby=Ping\">Ping</a></b></div></td>\r\n"
        "<td width=\"1%\"><div align=\"center\"><b><a "
        "href=\"current_players?sortby=Score\">Score</a></b></div></td>\r\n"
        "<td width=\"1%\"><div align=\"center\"><b>IP</b></div></td>\r\n"
        "</tr>\r\n");
    page += rows;
    page += QStringLiteral(
        "\r\n</table>\r\n"
        "<p><div align=\"center\"><input type=\"submit\" name=\"Kick\" value=\"Kick\">&nbsp;"
        "<input type=\"submit\" name=\"Ban\" value=\"Ban\"></div></p>\r\n"
        "</form>\r\n"
        "<p><div align=\"center\"><a href=\"current_players\">Refresh</a></div></p>\r\n"
        "</body>\r\n"
        "</html>\r\n");
    return platform::toWindows1252(page);
}

} // namespace kelvoran::test
