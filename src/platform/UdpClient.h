#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>

namespace kelvoran::platform {

// One exchange of datagrams with a server: the requests go out, the answers are collected for a
// bounded time. Only datagrams from the very address and port that were asked are handed on.
class UdpClient
{
public:
    struct Result
    {
        enum class Failure {
            None,         // the requests went out; the sink stopped it or the time ran out
            HostNotFound, // the host name could not be resolved (or not within the time limit)
            Aborted,      // abort() ended it
            Other,        // no socket, no route, the port closed (an ICMP error), ...
        };
        Failure failure = Failure::None;
        QString detail; // the system's own words, for the log
    };
    // Returns false when the answer is whole: the exchange stops there.
    using DatagramSink = std::function<bool(QByteArrayView datagram)>;

    virtual ~UdpClient() = default;

    // Resolves `host`, sends each request as one datagram to host:port from a fresh socket, then
    // hands every datagram that comes back from exactly that address and port to `onDatagram`
    // until it returns false, `timeoutMs` has passed (counted from the start, the host-name
    // lookup included), or abort(). Blocking; bounded.
    virtual Result exchange(const QString &host, quint16 port, const QList<QByteArray> &requests,
                            const DatagramSink &onDatagram, int timeoutMs) = 0;

    // Ends the exchange in progress at once, from any thread, and every later one before it
    // starts.
    virtual void abort() = 0;
};

// The real client, on plain POSIX sockets (IPv4 and IPv6; a name's IPv4 addresses are tried
// first). It waits in poll() on its socket and on an event descriptor that abort() signals; a
// host-name lookup runs on a thread of its own so that abort() and the time limit end the
// exchange even while the name service does not answer.
class SocketUdpClient final : public UdpClient
{
public:
    static constexpr int kMaxDatagram = 65535; // more than any datagram IPv4 or IPv6 can carry

    SocketUdpClient();
    ~SocketUdpClient() override;
    SocketUdpClient(const SocketUdpClient &) = delete;
    SocketUdpClient &operator=(const SocketUdpClient &) = delete;

    Result exchange(const QString &host, quint16 port, const QList<QByteArray> &requests,
                    const DatagramSink &onDatagram, int timeoutMs) override;
    void abort() override;

private:
    std::atomic<bool> m_aborted{false};
    int m_abortFd = -1; // readable for good once abort() has been called
};

} // namespace kelvoran::platform
