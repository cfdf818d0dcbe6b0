#include "watch/Watcher.h"

#include "watch/PollJob.h"

namespace kelvoran::watch {

Watcher::Watcher(const ServerConfig &server, Module1 &registry, Announcer &announcer,
                 VisitLog &visits, SourceFactory sources, QObject *parent)
    : QObject(parent), m_server(server), m_visits(visits), m_sources(std::move(sources)),
      m_cycle(registry, announcer, server.id)
{
    // Precise: a coarse timer may move a tick by 5% of the interval, which would bunch the
    // servers' polls together again however they are spread.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        // The first poll may come early, to spread the servers' polls over the interval.
        if (m_timer.interval() != m_interval)
            m_timer.setInterval(m_interval);
        poll();
    });
}

Watcher::~Watcher() = default; // a poll in flight is aborted with its job, a child

QString Watcher::name() const
{
    if (m_server.name.isEmpty() && !m_hostname.isEmpty())
        return m_hostname;
    return m_server.displayName();
}

QString Watcher::summary() const
{
    using Outcome = WatchState::Outcome;
    if (!m_watching)
        return QStringLiteral("not watching");
    switch (m_state.outcome()) {
    case Outcome::NotYet:
        return QStringLiteral("no answer yet");
    case Outcome::Players:
        return QStringLiteral("%1 on line").arg(m_state.playersOnLine());
    case Outcome::LoginRefused:
        return QStringLiteral("refused the login");
    default: // the outcome's own words: "nobody on line", "cannot reach the server (...)"
        return m_state.outcomeText();
    }
}

void Watcher::setServer(const ServerConfig &server)
{
    if (server == m_server)
        return;
    const bool another = !server.sameServer(m_server);
    const bool login =
        server.adminName != m_server.adminName || server.password != m_server.password;
    if (another && m_watching)
        m_visits.pollingStopped(m_server.id, m_clock());
    m_server = server;
    if (another || login) {
        ++m_generation;
        dropPoll();
    }
    if (another) {
        m_state.reset();
        m_readThisRun = false;
        m_hostname.clear();
        m_map.clear();
    }
    emit stateChanged();
}

void Watcher::start(int firstPollAfterMs)
{
    // A run begins clean: nothing was polled since stop() (or since the watcher was made), which
    // dropped the poll on its way and started the state afresh.
    m_watching = true;
    m_timer.start(firstPollAfterMs >= 0 ? firstPollAfterMs : m_interval);
    emit stateChanged();
}

void Watcher::stop()
{
    if (!m_watching)
        return;
    m_watching = false;
    m_timer.stop();
    ++m_generation;
    dropPoll();
    m_visits.pollingStopped(m_server.id, m_clock());
    m_state.reset();
    m_readThisRun = false;
    emit stateChanged();
}

void Watcher::dropPoll()
{
    if (m_job)
        std::exchange(m_job, nullptr)->drop();
}

void Watcher::poll()
{
    if (m_job || !m_watching)
        return;
    const quint64 generation = m_generation;
    m_job = new PollJob(
        m_sources(m_server),
        [this, generation](const FetchedPage &page) { pollDone(generation, page); }, this);
}

void Watcher::pollDone(quint64 generation, const FetchedPage &page)
{
    if (generation != m_generation)
        return; // the answer to a poll of another run or another server
    m_job = nullptr;
    const bool read = serverRead(page.fetch);
    const bool isPublic = m_server.kind == ServerConfig::Kind::Public;
    if (read && isPublic) {
        m_hostname = page.hostname;
        m_map = page.mapName;
    }
    // UDP loses datagrams: one public answer that did not come, or not in full, changes no flag
    // and no visit. From the second in a row the server counts as not read.
    const bool passOver = isPublic && !read && m_state.failuresInRow() == 0;
    PollReport report;
    if (!passOver)
        report = m_cycle.PollCycle(page.table, name());
    report.when = m_clock();
    report.fetch = page.fetch;
    report.firstReading = read && !m_readThisRun;
    m_readThisRun = m_readThisRun || read;
    if (const auto notice = m_state.record(report, name()))
        emit this->notice(notice->summary, notice->body);
    // Logged once the sounds are on their way: the store's work never delays them.
    if (!passOver)
        m_visits.record(m_server.id, name(), report);
    emit stateChanged();
}

} // namespace kelvoran::watch
