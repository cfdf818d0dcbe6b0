#include "FakeQueryServer.h"
#include <QString>
#include <algorithm>
#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
namespace kelvoran::test {
FakeQueryServer::FakeQueryServer(const Switches &switches) : m_switches(switches)
{
    for (int *fd : {&m_strayFd, &m_fd}) { // each on a free port of 127.0.0.1
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof address;
        const auto addr = reinterpret_cast<sockaddr *>(&address);
        *fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (::bind(*fd, addr, size) != 0 || ::getsockname(*fd, addr, &size) != 0)
            qFatal("FakeQueryServer: cannot bind on 127.0.0.1");
        m_port = ntohs(address.sin_port);
    }
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    m_thread = std::thread([this] { serve(); });
}

FakeQueryServer::~FakeQueryServer()
{
    if (const quint64 one = 1; ::write(m_stopFd, &one, sizeof one) == sizeof one)
        m_thread.join();
    for (int fd : {m_fd, m_strayFd, m_stopFd})
        ::close(fd);
}

void FakeQueryServer::serve()
{
    sockaddr_in client{};
    const auto peer = reinterpret_cast<sockaddr *>(&client);
    QList<QByteArray> impostor;
    const auto send = [peer](int fd, const QList<QByteArray> &datagrams) {
        for (const QByteArray &d : datagrams)
            ::sendto(fd, d.data(), d.size(), 0, peer, sizeof(sockaddr_in));
    };
    for (int strays = 0;;) {
        pollfd events[] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        const int ready = ::poll(events, 2, strays > 0 ? 10 : -1);
        if (events[1].revents != 0)
            return;
        if (ready == 0 && strays-- > 0)
            send(m_strayFd, impostor);
        char query[512];
        socklen_t size = sizeof client;
        const ssize_t n = ready <= 0 ? -1 : ::recvfrom(m_fd, query, sizeof query, 0, peer, &size);
        if (n < 0)
            continue;
        const Switches &s = m_switches;
        const int id = (++m_queries + 98) % 100 + 1; // 100, 1, 2, ...
        const QList<QByteArray> all = answer(id, {query, n}, kPlayers);
        QList<QByteArray> out;
        for (qsizetype k = 1; k <= all.size(); ++k)
            if (k != s.drop)
                out.append(QList<QByteArray>(s.duplicate ? 2 : 1, all[k - 1]));
        if (s.reverse)
            std::ranges::reverse(out);
        if (s.stray) // the same query ids: an impostor taken in would shadow the real answer
            impostor = answer(id, {query, n}, {"Impostor"}), strays = 300,
            send(m_strayFd, impostor);
        send(m_fd, s.garbage + (s.silent ? QList<QByteArray>() : out));
    }
}

QList<QByteArray> FakeQueryServer::answer(int queryId, QByteArrayView query,
                                          const QList<QByteArray> &players)
{
    const QString id = QString("\\queryid\\%1.").arg(queryId);
    if (query == "\\info\\")
        return {
            QString("\\hostname\\Amy's Arena\\hostport\\7777\\maptitle\\Facing Worlds\\mapname\\"
                    "CTF-Face\\gametype\\CTFGame\\numplayers\\%1\\maxplayers\\16\\gamemode\\"
                    "openplaying\\gamever\\451\\final\\%2")
                .arg(QString::number(players.size()), id + '1')
                .toLatin1()};
    QList<QByteArray> out; // bytes pass through Latin-1 unchanged
    for (qsizetype i = 0; query == "\\players\\" && i < players.size(); ++i)
        out << QString("\\player_%1\\%2\\frags_%1\\%3\\ping_%1\\40\\team_%1\\%4\\skin_%1\\"
                       "CommandoSkins.cmdo\\mesh_%1\\Male Commando%5%6%3")
                   .arg(QString::number(i), QLatin1String(players[i]), QString::number(i + 1),
                        QString::number(i % 2), i + 1 == players.size() ? "\\final\\" : "", id)
                   .toLatin1();
    if (query == "\\players\\" && players.isEmpty())
        out << (R"(\final\)" + id + '0').toLatin1();
    return out;
}
} // namespace kelvoran::test
