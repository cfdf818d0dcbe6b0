#pragma once
// One running copy per user. The first copy holds a lock on a file in the user's runtime folder
// ($XDG_RUNTIME_DIR) and listens on a Unix socket beside it; a later start finds the lock taken
// and asks the first copy, through the socket, to bring its window back.
//
// The lock is an flock(2) lock: the kernel drops it when its holder ends in any way, a crash or a
// kill included, so no stale lock can block a start and no process id has to be trusted. The
// socket file a crashed copy leaves behind is replaced by the next copy that holds the lock.
// The socket is served with QtCore's socket notifier: QtNetwork's local sockets would load
// QtNetwork and its Kerberos and proxy libraries at every start.
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace kelvoran::app {

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The lock and the socket are named by the application id.
    explicit SingleInstance(const QString &id, QObject *parent = nullptr);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this is the first running copy; it then holds the lock and listens for later
    // starts until the event loop ends. Also true when the runtime folder cannot be used (reported
    // on standard error): better a second copy than none.
    bool claim();

    // For a later start: asks the running copy to bring its window back, or with `showWindow`
    // false only whether it runs. False when it did not answer within a few seconds. A copy that
    // is ending answers no more and lets go of its lock: this copy then claims it.
    bool handOver(bool showWindow);

signals:
    // A later start asked for the window.
    void windowRequested();

private:
    void listen();
    void release();
    void acceptConnections();

    QString m_lockPath;
    QString m_socketPath;
    int m_lockFd = -1;
    int m_listenFd = -1;
    QSocketNotifier *m_listener = nullptr;
};

} // namespace kelvoran::app
