#pragma once
// Every watched server, each with its own watcher: started and stopped together, their polls
// spread over the interval, and their states put together for the tray.
#include "watch/Announcer.h"
#include "watch/PlayerSource.h"
#include "watch/VisitLog.h"
#include "watch/Watcher.h"

#include <QList>
#include <QLocale>
#include <QObject>
#include <QStringList>

namespace kelvoran::watch {

class WatchGroup : public QObject
{
    Q_OBJECT

public:
    WatchGroup(Module1 &registry, Announcer &announcer, VisitLog &visits, SourceFactory sources,
               QObject *parent = nullptr);

    // The server of the main window's fields, and the others in the order they were added.
    const QList<Watcher *> &watchers() const { return m_watchers; }
    Watcher &first() const { return *m_watchers.first(); }
    Watcher *watcher(const QString &serverId) const;
    const SourceFactory &sources() const { return m_sources; }

    // The first server, as the main window's fields give it now.
    void setFirstServer(const ServerConfig &server) { first().setServer(server); }

    // The other servers, as the store keeps them; read once, at start.
    void load();
    // Keeps a new server (no id yet) or the new values of one in the store, then watches it as
    // it is now, at once: a server added while watching is polled from the next interval on, an
    // edited one drops the answer on its way. False when the store refused the write; the
    // server is then watched as before (a new one not at all).
    bool saveServer(const ServerConfig &server);
    // Stops watching the server (an answer on its way is dropped, its visits end) and removes it
    // and its flags from the store. False when the store refused; it is then still watched.
    bool removeServer(const QString &serverId);

    // Seams for tests.
    void setInterval(int ms);
    void setClock(const Watcher::Clock &clock);

    // Watching every server, each polled once an interval, their first polls spread over it so
    // they do not all go out at once (the first server's after one interval).
    void start();
    void stop();
    bool watching() const { return first().watching(); }
    // Every server fails (the tray's icon is grey only then).
    bool failing() const;

    // "Kelvoran", then a line each: watching or not, each server's last outcome, the watched
    // players on line by kind, mute, and the caller's `extra` lines.
    QString toolTip(const QLocale &locale, const QStringList &extra = {}) const;

signals:
    // A server's state, the servers, or watching on or off changed.
    void changed();
    // A server was added or removed.
    void serversChanged();
    void notice(const QString &summary, const QString &body);

private:
    Watcher *add(const ServerConfig &server);

    Module1 &m_registry;
    Announcer &m_announcer;
    VisitLog &m_visits;
    SourceFactory m_sources;
    QList<Watcher *> m_watchers;
    int m_interval = Watcher::kPollIntervalMs;
    Watcher::Clock m_clock = &QDateTime::currentDateTime;
};

} // namespace kelvoran::watch
