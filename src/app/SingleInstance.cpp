#include "app/SingleInstance.h"

#include "platform/Log.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace kelvoran::app {

namespace {

const QByteArray kShowWindow = "show\n";
const QByteArray kAreYouThere = "ping\n";
const QByteArray kDone = "done\n";
constexpr int kHandOverMs = 5000;
constexpr int kRetryMs = 50;
constexpr int kMaxLine = 64;

// False when the path does not fit a socket address.
bool socketAddress(const QString &path, sockaddr_un *address)
{
    const QByteArray encoded = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (encoded.isEmpty() || size_t(encoded.size()) >= sizeof address->sun_path)
        return false;
    std::memcpy(address->sun_path, encoded.constData(), size_t(encoded.size()));
    return true;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
}

// One later start talking to the running copy: it sends one short line and is answered.
class Connection : public QSocketNotifier
{
public:
    Connection(int fd, QObject *parent) : QSocketNotifier(fd, QSocketNotifier::Read, parent) {}
    ~Connection() override
    {
        setEnabled(false);
        ::close(int(socket()));
    }
    QByteArray received;
};

// The running copy's answer, read on the later start's side.
bool readAnswer(int fd, const QDeadlineTimer &deadline)
{
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() <= kMaxLine) {
        pollfd ready{fd, POLLIN, 0};
        const int n = ::poll(&ready, 1, int(deadline.remainingTime()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        char buffer[kMaxLine + 1];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        answer.append(buffer, got);
    }
    return answer == kDone;
}

} // namespace

SingleInstance::SingleInstance(const QString &id, QObject *parent) : QObject(parent)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!dir.isEmpty()) {
        m_lockPath = dir + QLatin1Char('/') + id + QStringLiteral(".lock");
        m_socketPath = dir + QLatin1Char('/') + id + QStringLiteral(".socket");
    }
    // Past its event loop this copy answers no more, and a later start takes over at once.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
            &SingleInstance::release);
}

SingleInstance::~SingleInstance()
{
    release();
}

void SingleInstance::release()
{
    // The socket goes while the lock is still held, so it never removes a later copy's socket.
    if (m_listenFd >= 0) {
        delete std::exchange(m_listener, nullptr);
        ::close(std::exchange(m_listenFd, -1));
        ::unlink(QFile::encodeName(m_socketPath).constData());
    }
    if (m_lockFd >= 0)
        ::close(std::exchange(m_lockFd, -1));
}

bool SingleInstance::claim()
{
    if (m_lockFd >= 0)
        return true;
    if (m_lockPath.isEmpty()) {
        qCWarning(lcKelvoran) << "no runtime folder: a running copy cannot be detected";
        return true;
    }
    m_lockFd =
        ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        qCWarning(lcKelvoran) << "cannot open" << m_lockPath << ":" << std::strerror(errno);
        return true;
    }
    int rc;
    do {
        rc = ::flock(m_lockFd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool held = errno == EWOULDBLOCK;
        if (!held)
            qCWarning(lcKelvoran) << "cannot lock" << m_lockPath << ":" << std::strerror(errno);
        ::close(m_lockFd);
        m_lockFd = -1;
        return !held;
    }
    listen();
    return true;
}

void SingleInstance::listen()
{
    sockaddr_un address;
    if (!socketAddress(m_socketPath, &address)) {
        qCWarning(lcKelvoran) << "socket path too long:" << m_socketPath;
        return;
    }
    // With the lock held, a socket file left there belongs to a copy that has ended.
    ::unlink(address.sun_path);
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0 ||
        ::bind(m_listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 8) != 0) {
        qCWarning(lcKelvoran) << "cannot listen on" << m_socketPath << ":" << std::strerror(errno);
        if (m_listenFd >= 0)
            ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    m_listener = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_listener, &QSocketNotifier::activated, this, &SingleInstance::acceptConnections);
}

void SingleInstance::acceptConnections()
{
    int fd;
    while ((fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
        auto *connection = new Connection(fd, this);
        // A caller that never finishes its line is not kept waiting for.
        QTimer::singleShot(kHandOverMs, connection, &QObject::deleteLater);
        connect(connection, &QSocketNotifier::activated, this, [this, connection] {
            char buffer[kMaxLine + 1];
            const ssize_t got = ::read(int(connection->socket()), buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                return;
            if (got > 0) {
                connection->received.append(buffer, got);
                if (!connection->received.contains('\n') && connection->received.size() <= kMaxLine)
                    return; // the rest of the line is on its way
            }
            // A whole line, the end of the stream, or more than a later start of ours would send.
            const bool show = connection->received == kShowWindow;
            if (show || connection->received == kAreYouThere) {
                if (show)
                    emit windowRequested();
                sendAll(int(connection->socket()), kDone);
            }
            connection->setEnabled(false);
            connection->deleteLater();
        });
    }
}

bool SingleInstance::handOver(bool showWindow)
{
    const QDeadlineTimer deadline(kHandOverMs);
    sockaddr_un address;
    if (socketAddress(m_socketPath, &address)) {
        // The running copy takes its lock a moment before it listens, and when it ends it stops
        // listening a moment before it lets go of the lock: try again until it answers or the
        // lock is free.
        for (;;) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0)
                break;
            const bool answered =
                ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
                sendAll(fd, showWindow ? kShowWindow : kAreYouThere) && readAnswer(fd, deadline);
            ::close(fd);
            if (answered)
                return true;
            if (claim() || deadline.hasExpired())
                break;
            QThread::msleep(kRetryMs);
        }
    }
    if (m_lockFd < 0)
        qCWarning(lcKelvoran) << "Kelvoran runs already but did not answer on" << m_socketPath;
    return false;
}

} // namespace kelvoran::app
