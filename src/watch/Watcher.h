#pragma once
// The watching of one server: its poll timer, the reading in flight, the poll cycle over the
// server's flags, the state the tray shows and the server's part of the visit log.
#include "watch/Announcer.h"
#include "watch/PlayerSource.h"
#include "watch/ServerConfig.h"
#include "watch/ServerWatch.h"
#include "watch/VisitLog.h"
#include "watch/WatchState.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

namespace kelvoran::watch {

class PollJob;

class Watcher : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    static constexpr int kPollIntervalMs = 32768; // 65535 / 2, rounded half to even

    Watcher(const ServerConfig &server, Module1 &registry, Announcer &announcer, VisitLog &visits,
            SourceFactory sources, QObject *parent = nullptr);
    ~Watcher() override;

    const ServerConfig &server() const { return m_server; }
    // A change of the address, port or login drops the answer on its way; another server (a new
    // address or port) also starts with a clean state, and its visits logged so far end.
    void setServer(const ServerConfig &server);
    // The name shown for the server: the user's, else what a public server calls itself, else
    // HOST:PORT.
    QString name() const;
    QString mapName() const { return m_map; }
    // How watching it goes, in a few words for a list of servers: "not watching", "no answer
    // yet", "12 on line", "nobody on line", "refused the login", "cannot reach it (...)".
    QString summary() const;

    // Seams: the time between polls, and the clock that stamps them.
    void setInterval(int ms) { m_interval = ms; }
    int interval() const { return m_interval; }
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Polls every interval, the first time after `firstPollAfterMs` (one interval when
    // negative). Started afresh, watching has a clean state, and the first reading logs the
    // watched players already on line. Started again while watching, only the timer restarts.
    void start(int firstPollAfterMs = -1);
    // No more polls; an answer still on its way is dropped, the server's running visits end.
    void stop();
    bool watching() const { return m_watching; }
    bool pollInFlight() const { return m_job != nullptr; }
    // A poll now, unless one is on its way or watching is off (the timer's tick).
    void poll();

    const WatchState &state() const { return m_state; }
    // The poll cycle over this server's flags.
    ServerWatch &cycle() { return m_cycle; }

signals:
    // The state, the server or watching on or off changed.
    void stateChanged();
    // A change of the state the user should hear of: watching fails, or works again.
    void notice(const QString &summary, const QString &body);

private:
    void pollDone(quint64 generation, const FetchedPage &page);
    void dropPoll();
    void startAfresh();

    ServerConfig m_server;
    VisitLog &m_visits;
    SourceFactory m_sources;
    ServerWatch m_cycle;
    WatchState m_state;
    Clock m_clock = &QDateTime::currentDateTime;
    QTimer m_timer;
    int m_interval = kPollIntervalMs;
    bool m_watching = false;
    PollJob *m_job = nullptr;
    // Each poll carries the generation it was started in; a stop, a start or a change of the
    // server makes a new one, and an answer of an older one is dropped whole.
    quint64 m_generation = 0;
    bool m_readThisRun = false;
    QString m_hostname; // what a public server calls itself, and its map, from its last answer
    QString m_map;
};

} // namespace kelvoran::watch
