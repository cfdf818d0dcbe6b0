#include "platform/UdpClient.h"

#include <QDeadlineTimer>
#include <QUrl>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kelvoran::platform {

namespace {

using Result = UdpClient::Result;
using Failure = Result::Failure;

// A descriptor closed when it goes out of scope.
struct Descriptor
{
    int fd;
    explicit Descriptor(int descriptor = -1) : fd(descriptor) {}
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
};

struct AddressListDeleter
{
    void operator()(addrinfo *list) const { ::freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListDeleter>;

Result failure(Failure kind, const QString &detail = {})
{
    return Result{kind, detail};
}

Result systemFailure(int error)
{
    return failure(Failure::Other, qt_error_string(error));
}

Result lookupFailure(int code, int error)
{
    return failure(Failure::HostNotFound, code == EAI_SYSTEM
                                              ? qt_error_string(error)
                                              : QString::fromLocal8Bit(::gai_strerror(code)));
}

// The poll() time-out for what is left of the time limit.
int pollTimeout(const QDeadlineTimer &deadline)
{
    return int(std::min<qint64>(deadline.remainingTime(), INT_MAX));
}

addrinfo lookupHints(int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    hints.ai_flags = AI_NUMERICSERV | flags;
    return hints;
}

// One host-name lookup on a thread of its own. getaddrinfo() cannot be interrupted, and a name
// service that does not answer holds it for 30 s or more: an exchange that gives up first
// (abort(), the time limit) leaves the lookup to end on its own, and whichever side lets go last
// frees what it holds.
struct Lookup
{
    std::mutex mutex;
    int code = 0;
    int error = 0; // errno, for EAI_SYSTEM
    addrinfo *list = nullptr;
    Descriptor done{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)}; // readable once finished

    ~Lookup()
    {
        if (list)
            ::freeaddrinfo(list);
    }
};

bool samePeer(const sockaddr_storage &from, const addrinfo &peer)
{
    if (from.ss_family != peer.ai_family)
        return false;
    if (from.ss_family == AF_INET) {
        const auto &a = reinterpret_cast<const sockaddr_in &>(from);
        const auto &b = *reinterpret_cast<const sockaddr_in *>(peer.ai_addr);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    if (from.ss_family == AF_INET6) {
        const auto &a = reinterpret_cast<const sockaddr_in6 &>(from);
        const auto &b = *reinterpret_cast<const sockaddr_in6 *>(peer.ai_addr);
        return a.sin6_port == b.sin6_port &&
               std::memcmp(&a.sin6_addr, &b.sin6_addr, sizeof a.sin6_addr) == 0;
    }
    return false;
}

// Waits until `fd` is readable. False when abort() came first (`*result` says so) or the time
// ran out (`*result` untouched).
bool waitFor(int fd, int abortFd, const std::atomic<bool> &aborted, const QDeadlineTimer &deadline,
             Result *result)
{
    for (;;) {
        if (aborted) {
            *result = failure(Failure::Aborted);
            return false;
        }
        if (deadline.hasExpired())
            return false;
        pollfd events[] = {{fd, POLLIN, 0}, {abortFd, POLLIN, 0}};
        if (::poll(events, 2, pollTimeout(deadline)) < 0 && errno != EINTR) {
            *result = systemFailure(errno);
            return false;
        }
        if (events[1].revents != 0) {
            *result = failure(Failure::Aborted);
            return false;
        }
        if (events[0].revents != 0)
            return true;
    }
}

// The addresses of `host`, numeric ones at once, names through a lookup that abort() and the
// time limit can walk away from.
Result resolve(const QString &host, quint16 port, int abortFd, const std::atomic<bool> &aborted,
               const QDeadlineTimer &deadline, AddressList *addresses)
{
    QString name = host.trimmed();
    if (name.startsWith(u'[') && name.endsWith(u']')) // an IPv6 address as a URL writes it
        name = name.mid(1, name.size() - 2);
    if (name.isEmpty() || name.contains(QChar(0)))
        return failure(Failure::HostNotFound, QStringLiteral("no valid host name"));
    const QByteArray service = QByteArray::number(port);

    bool ascii = true;
    for (QChar c : name)
        ascii = ascii && c.unicode() < 0x80;
    addrinfo *list = nullptr;
    if (ascii) {
        const addrinfo hints = lookupHints(AI_NUMERICHOST);
        if (::getaddrinfo(name.toLatin1().constData(), service.constData(), &hints, &list) == 0) {
            addresses->reset(list);
            return {};
        }
    }
    // An internationalised name goes to the name service in its ASCII form.
    const QByteArray query = ascii ? name.toLatin1() : QUrl::toAce(name);
    if (query.isEmpty())
        return failure(Failure::HostNotFound, QStringLiteral("no valid host name"));

    const auto lookup = std::make_shared<Lookup>();
    if (lookup->done.fd < 0)
        return systemFailure(errno);
    try {
        std::thread([lookup, query, service] {
            const addrinfo hints = lookupHints(0);
            addrinfo *found = nullptr;
            const int code = ::getaddrinfo(query.constData(), service.constData(), &hints, &found);
            const int error = errno;
            {
                std::lock_guard lock(lookup->mutex);
                lookup->code = code;
                lookup->error = error;
                lookup->list = found;
            }
            const quint64 one = 1;
            [[maybe_unused]] const ssize_t written = ::write(lookup->done.fd, &one, sizeof one);
        }).detach();
    } catch (const std::system_error &error) {
        return failure(Failure::Other, QString::fromLocal8Bit(error.what()));
    }

    Result result;
    if (!waitFor(lookup->done.fd, abortFd, aborted, deadline, &result)) {
        if (result.failure == Failure::None)
            result = failure(Failure::HostNotFound,
                             QStringLiteral("the host-name lookup did not end within the time"));
        return result;
    }
    std::lock_guard lock(lookup->mutex);
    if (lookup->code != 0)
        return lookupFailure(lookup->code, lookup->error);
    addresses->reset(std::exchange(lookup->list, nullptr));
    return {};
}

} // namespace

SocketUdpClient::SocketUdpClient() : m_abortFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SocketUdpClient::~SocketUdpClient()
{
    if (m_abortFd >= 0)
        ::close(m_abortFd);
}

void SocketUdpClient::abort()
{
    m_aborted = true;
    // The counter is never read back, so the descriptor stays readable and every later wait on
    // it ends at once.
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_abortFd, &one, sizeof one);
}

Result SocketUdpClient::exchange(const QString &host, quint16 port,
                                 const QList<QByteArray> &requests, const DatagramSink &onDatagram,
                                 int timeoutMs)
{
    if (m_aborted)
        return failure(Failure::Aborted);
    if (m_abortFd < 0)
        return failure(Failure::Other, QStringLiteral("no event descriptor for abort()"));
    if (port == 0)
        return failure(Failure::Other, QStringLiteral("no port"));
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));

    AddressList addresses;
    Result result = resolve(host, port, m_abortFd, m_aborted, deadline, &addresses);
    if (result.failure != Failure::None)
        return result;

    // The first address there is a route to, IPv4 ones first: the game's servers commonly listen
    // on IPv4 only, so a name with addresses of both kinds is asked on IPv4. A connected socket
    // takes datagrams from that address and port only, and the kernel reports an ICMP error (the
    // port closed) on it.
    Descriptor socket;
    const addrinfo *peer = nullptr;
    int error = EADDRNOTAVAIL;
    for (const bool ipv4 : {true, false}) {
        for (const addrinfo *a = addresses.get(); a && !peer; a = a->ai_next) {
            if ((a->ai_family == AF_INET) != ipv4)
                continue;
            Descriptor candidate(::socket(
                a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
            if (candidate.fd >= 0 && ::connect(candidate.fd, a->ai_addr, a->ai_addrlen) == 0) {
                std::swap(socket.fd, candidate.fd);
                peer = a;
            } else {
                error = errno;
            }
        }
    }
    if (!peer)
        return systemFailure(error);

    for (const QByteArray &request : requests) {
        if (::send(socket.fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) < 0)
            return systemFailure(errno);
    }

    std::vector<char> buffer(kMaxDatagram);
    while (waitFor(socket.fd, m_abortFd, m_aborted, deadline, &result)) {
        sockaddr_storage from{};
        socklen_t fromSize = sizeof from;
        // MSG_TRUNC: the datagram's real length, so one cut short by the buffer is known.
        const ssize_t size = ::recvfrom(socket.fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                        reinterpret_cast<sockaddr *>(&from), &fromSize);
        if (size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return systemFailure(errno);
        }
        // Checked here too: a datagram can slip in between the socket's binding and its connect.
        if (size_t(size) > buffer.size() || !samePeer(from, *peer))
            continue;
        if (!onDatagram(QByteArrayView(buffer.data(), qsizetype(size))))
            break;
    }
    return result;
}

} // namespace kelvoran::platform
