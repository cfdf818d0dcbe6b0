#include "watch/VisitLog.h"

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

void VisitLog::record(const PollReport &report)
{
    bool changes = false;
    // The ends come first, so a visit that begins in this poll is never ended by it.
    if (!m_running.isEmpty()) {
        const QSet<QString> onLine(report.watchedOnLine.cbegin(), report.watchedOnLine.cend());
        for (qsizetype i = 0; i < m_running.size();) {
            if (report.tableRead && onLine.contains(m_running[i].subkey)) {
                ++i;
                continue;
            }
            end(i, report.when, report.tableRead ? QString() : QStringLiteral("server not read"));
            changes = true;
        }
    }
    for (const Announcement &a : report.announced) {
        if (std::any_of(m_running.cbegin(), m_running.cend(),
                        [&](const Running &r) { return r.subkey == a.subkey; }))
            continue;
        VisitRow row{.came = report.when,
                     .isFriend = a.isFriend,
                     .watchedAs = identifierOf(a.subkey).toString(),
                     .name = a.name,
                     .ip = a.ip,
                     .muted = a.muted};
        row.id = m_store.addVisit(row);
        wrote(row.id != 0);
        m_running.append({a.subkey, row});
        changes = true;
    }
    if (changes)
        emit changed();
}

void VisitLog::pollingStopped(const QDateTime &when)
{
    if (m_running.isEmpty())
        return;
    while (!m_running.isEmpty())
        end(0, when, QStringLiteral("polling stopped"));
    emit changed();
}

QList<VisitRow> VisitLog::visits() const
{
    return m_store.visits();
}

bool VisitLog::clear()
{
    const bool ok = m_store.clearVisits();
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
