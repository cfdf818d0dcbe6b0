#include "watch/WatchGroup.h"

#include "settings/ServerStore.h"
#include "watchlist/WatchList.h"

namespace kelvoran::watch {

WatchGroup::WatchGroup(Module1 &registry, Announcer &announcer, VisitLog &visits,
                       SourceFactory sources, QObject *parent)
    : QObject(parent), m_registry(registry), m_announcer(announcer), m_visits(visits),
      m_sources(std::move(sources))
{
    add(ServerConfig{});
}

Watcher *WatchGroup::add(const ServerConfig &server)
{
    auto *w = new Watcher(server, m_registry, m_announcer, m_visits, m_sources, this);
    w->setInterval(m_interval);
    w->setClock(m_clock);
    connect(w, &Watcher::stateChanged, this, &WatchGroup::changed);
    connect(w, &Watcher::notice, this, &WatchGroup::notice);
    m_watchers.append(w);
    return w;
}

void WatchGroup::load()
{
    for (const ServerConfig &server : settings::storedServers(m_registry))
        add(server);
    emit serversChanged();
}

bool WatchGroup::saveServer(const ServerConfig &server)
{
    ServerConfig kept = server;
    if (!settings::storeServer(m_registry, kept))
        return false;
    if (Watcher *w = watcher(kept.id); w && !kept.id.isEmpty()) {
        w->setServer(kept);
        return true;
    }
    Watcher *added = add(kept);
    if (watching())
        added->start();
    emit serversChanged();
    emit changed();
    return true;
}

bool WatchGroup::removeServer(const QString &serverId)
{
    Watcher *w = watcher(serverId);
    if (!w || serverId.isEmpty() || !settings::removeStoredServer(m_registry, serverId))
        return false;
    w->stop();
    m_watchers.removeOne(w);
    delete w; // aborts its reading on the way
    emit serversChanged();
    emit changed();
    return true;
}

Watcher *WatchGroup::watcher(const QString &serverId) const
{
    for (Watcher *w : m_watchers) {
        if (w->server().id == serverId)
            return w;
    }
    return nullptr;
}

void WatchGroup::setInterval(int ms)
{
    m_interval = ms;
    for (Watcher *w : std::as_const(m_watchers))
        w->setInterval(ms);
}

void WatchGroup::setClock(const Watcher::Clock &clock)
{
    m_clock = clock;
    for (Watcher *w : std::as_const(m_watchers))
        w->setClock(clock);
}

void WatchGroup::start()
{
    // The first server polls after one interval, the others at even steps before it.
    const qsizetype n = m_watchers.size();
    for (qsizetype i = 0; i < n; ++i)
        m_watchers[i]->start(int(qint64(m_interval) * (n - i) / n));
}

void WatchGroup::stop()
{
    for (Watcher *w : std::as_const(m_watchers))
        w->stop();
}

bool WatchGroup::failing() const
{
    return watching() && std::all_of(m_watchers.cbegin(), m_watchers.cend(),
                                     [](Watcher *w) { return w->state().failing(); });
}

QString WatchGroup::toolTip(const QLocale &locale, const QStringList &extra) const
{
    QStringList lines{QStringLiteral("Kelvoran")};
    const bool several = m_watchers.size() > 1;
    const auto title = [](const Watcher *w) {
        return w->server().kind == ServerConfig::Kind::Public ? w->name() + " (names only)"
                                                              : w->name();
    };
    QStringList friends, foes;
    if (!watching()) {
        lines << QStringLiteral("Not watching: minimise the window to start");
    } else if (!several) {
        lines << QStringLiteral("Watching ") + title(&first());
        if (const QString status = first().state().statusLine(locale); !status.isEmpty())
            lines << status;
    } else {
        lines << QStringLiteral("Watching %1 servers").arg(m_watchers.size());
    }
    // While watching is off there is nothing of a run to tell.
    for (const Watcher *w : watching() ? m_watchers : QList<Watcher *>()) {
        const QString status = w->state().statusLine(locale);
        if (several)
            lines << title(w) + QStringLiteral(": ") +
                         (status.isEmpty() ? QStringLiteral("no answer yet") : status);
        const QString where = several ? QStringLiteral(" (%1)").arg(w->name()) : QString();
        for (const QString &name : w->state().friendsOnLine())
            friends << name + where;
        for (const QString &name : w->state().foesOnLine())
            foes << name + where;
    }
    if (!friends.isEmpty())
        lines << QStringLiteral("Friends on line: ") + someOf(friends);
    if (!foes.isEmpty())
        lines << QStringLiteral("Foes on line: ") + someOf(foes);
    if (m_announcer.muted())
        lines << QStringLiteral("Announcements muted");
    return (lines + extra).join(QLatin1Char('\n'));
}

} // namespace kelvoran::watch
