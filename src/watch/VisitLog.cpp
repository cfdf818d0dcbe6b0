#include "watch/VisitLog.h"

#include "watch/PlayerSource.h"
#include "watchlist/WatchList.h"

#include <QSet>

#include <algorithm>

namespace kelvoran::watch {

VisitLog::VisitLog(platform::RegistryStore &store, QObject *parent)
    : QObject(parent), m_store(store)
{
}

void VisitLog::wrote(bool ok)
{
    if (ok || m_failureSaid || !m_failure.isEmpty())
        return;
    m_failure =
        m_store.problem().isEmpty() ? QStringLiteral("could not be written") : m_store.problem();
}

void VisitLog::end(qsizetype index, const QDateTime &when, const QString &note)
{
    Running gone = m_running.takeAt(index);
    gone.row.left = when;
    gone.row.endNote = note;
    if (gone.row.id != 0)
        wrote(m_store.endVisit(gone.row.id, when, note));
    m_lastEnded = gone.row;
}

bool VisitLog::isRunning(qint64 id) const
{
    return id != 0 && std::any_of(m_running.cbegin(), m_running.cend(),
                                  [id](const Running &r) { return r.row.id == id; });
}

bool VisitLog::runs(const QString &serverId, const QString &subkey) const
{
    return std::any_of(m_running.cbegin(), m_running.cend(), [&](const Running &r) {
        return r.serverId == serverId && r.subkey == subkey;
    });
}

void VisitLog::begin(const QString &serverId, const QString &subkey, const VisitRow &row)
{
    Running visit{serverId, subkey, row};
    visit.row.id = m_store.addVisit(row);
    wrote(visit.row.id != 0);
    m_running.append(visit);
}

void VisitLog::record(const QString &serverId, const QString &server, const PollReport &report)
{
    bool changes = false;
    // The ends come first, so a visit that begins in this poll is never ended by it.
    QSet<QString> onLine;
    for (const Sighting &seen : report.watchedOnLine)
        onLine.insert(seen.subkey);
    const QString note = serverRead(report.fetch) ? QString() : QStringLiteral("server not read");
    for (qsizetype i = 0; i < m_running.size();) {
        if (m_running[i].serverId != serverId || onLine.contains(m_running[i].subkey)) {
            ++i;
            continue;
        }
        end(i, report.when, note);
        changes = true;
    }
    for (const Announcement &a : report.announced) {
        if (runs(serverId, a.subkey))
            continue;
        begin(serverId, a.subkey,
              {.came = report.when,
               .isFriend = a.isFriend,
               .watchedAs = identifierOf(a.subkey).toString(),
               .name = a.name,
               .ip = a.ip,
               .muted = a.muted,
               .server = server});
        changes = true;
    }
    // Announced before watching began and still there: his visit is logged from now on.
    for (const Sighting &seen : report.watchedOnLine) {
        const bool isFriend = seen.subkey.startsWith(kFriendPrefix);
        if (!report.firstReading || !seen.announced || runs(serverId, seen.subkey) ||
            (!isFriend && !seen.subkey.startsWith(kFoePrefix)))
            continue;
        begin(serverId, seen.subkey,
              {.came = report.when,
               .isFriend = isFriend,
               .watchedAs = identifierOf(seen.subkey).toString(),
               .name = seen.name,
               .ip = seen.ip,
               .server = server,
               .cameNote = QStringLiteral("already on line when watching began")});
        changes = true;
    }
    if (changes)
        emit changed();
}

void VisitLog::pollingStopped(const QString &serverId, const QDateTime &when)
{
    bool changes = false;
    for (qsizetype i = 0; i < m_running.size();) {
        if (m_running[i].serverId != serverId) {
            ++i;
            continue;
        }
        end(i, when, QStringLiteral("polling stopped"));
        changes = true;
    }
    if (changes)
        emit changed();
}

QList<VisitRow> VisitLog::visits() const
{
    return m_store.visits();
}

bool VisitLog::clear()
{
    // The visits that run stay, so the log still shows who is on line.
    QList<qint64> running;
    for (const Running &r : std::as_const(m_running))
        running.append(r.row.id);
    const bool ok = m_store.clearVisits(running);
    wrote(ok);
    emit changed();
    return ok;
}

QString VisitLog::takeWriteFailure()
{
    if (m_failure.isEmpty())
        return {};
    m_failureSaid = true;
    return std::exchange(m_failure, {});
}

} // namespace kelvoran::watch
