#pragma once
#include <QByteArray>
#include <QList>
#include <atomic>
#include <thread>
namespace kelvoran::test {
// The game's UDP query port on 127.0.0.1, as it answers: "\players\" with one datagram per
// player, "\info\" with one; each query its own id, counting to 100 and wrapping to 1 (here from
// 100 on, so every exchange sees the wrap).
class FakeQueryServer
{
public:
    struct Switches
    {
        bool reverse = false;   // each answer's datagrams in reverse order: the final one first
        int drop = 0;           // the datagram with this packet number is lost, in every answer
        bool duplicate = false; // every datagram comes twice
        bool silent = false;    // no answer at all
        bool stray = false; // impostor answers from another port first, then every 10 ms for 3 s
        QList<QByteArray> garbage{}; // raw datagrams from the query port before each answer
    };
    explicit FakeQueryServer(const Switches &switches);
    FakeQueryServer() : FakeQueryServer(Switches()) {}
    ~FakeQueryServer();
    quint16 port() const { return m_port; }
    int queries() const { return m_queries; }
    // The game's answer to one query, datagram by datagram as it sends them.
    static QList<QByteArray> answer(int queryId, QByteArrayView query,
                                    const QList<QByteArray> &players);
    static inline const QList<QByteArray> kPlayers{"Amy", "[DS]Bob", "Zo\xe9_\x80"}; // on line
private:
    void serve();
    const Switches m_switches;
    int m_fd = -1, m_strayFd = -1, m_stopFd = -1;
    std::atomic<int> m_queries = 0;
    quint16 m_port = 0;
    std::thread m_thread;
};
} // namespace kelvoran::test
