#include "watch/ServerWatch.h"

#include "watchlist/WatchList.h"

#include <algorithm>

namespace kelvoran::watch {

ServerWatch::ServerWatch(Module1 &registry, Announcer &announcer, const QString &serverId)
    : m_registry(registry), m_announcer(announcer), m_flagValue(flagValueFor(serverId))
{
}

bool ServerWatch::writeFlag(WatchEntryFlag &entry, const QString &flag)
{
    entry.flag = flag;
    return m_registry.setRegKeyValue(subPath(kChecklistKey, entry.subkey), m_flagValue, flag,
                                     Module1::REG_SZ);
}

PollReport ServerWatch::PollCycle(const PlayerTable &table, const QString &server)
{
    PollReport report;
    if (!table) {
        resetToYES();
        return report;
    }
    report.tableRead = true;
    report.playersOnLine = int(table->size());

    // Everyone on line by name or by address, with the first row that shows each. An empty cell
    // (a bot's address, a public server's players) is nobody's identifier.
    QHash<QStringView, qsizetype> onLine;
    onLine.reserve(table->size() * 2);
    for (qsizetype r = 0; r < table->size(); ++r) {
        for (const QString &id : {table->at(r).name, table->at(r).ip}) {
            if (!id.isEmpty())
                onLine.insert(id, r); // a later row does not replace the first
        }
    }
    getALlKeyPlayers();
    m_byIdentifier.clear();
    QList<qsizetype> matched;
    for (qsizetype i = 0; i < m_loaded.size(); ++i) {
        const QStringView id = identifierOf(m_loaded[i].subkey);
        if (!id.isEmpty() && onLine.contains(id)) {
            m_byIdentifier[id].append(i);
            matched.append(i);
        }
    }

    m_announced.clear();
    for (const PlayerRow &row : *table)
        playAnnoucement(row.name, row.ip, server);
    report.announced = std::exchange(m_announced, {});
    for (qsizetype i : std::as_const(matched)) {
        const WatchEntryFlag &entry = m_loaded[i];
        const PlayerRow &row = table->at(onLine.value(identifierOf(entry.subkey)));
        report.watchedOnLine.append(
            {entry.subkey, row.name, row.ip,
             entry.flag == kAnnounced || m_announcedUnstored.contains(entry.subkey)});
    }

    // An entry that nobody on line matches is armed again. (An armed entry needs no look-up,
    // unless some visit's "NO" lives only in memory.)
    for (WatchEntryFlag &entry : m_loaded) {
        if ((entry.flag == kArmed && m_announcedUnstored.isEmpty()) ||
            onLine.contains(identifierOf(entry.subkey)))
            continue;
        m_announcedUnstored.remove(entry.subkey);
        if (entry.flag != kArmed)
            writeFlag(entry, kArmed);
    }
    return report;
}

void ServerWatch::playAnnoucement(const QString &strName, const QString &strIP,
                                  const QString &server)
{
    // The entries whose identifier is the address or the name, in the store's order.
    QList<qsizetype> candidates = m_byIdentifier.value(strIP);
    if (strName != strIP)
        candidates += m_byIdentifier.value(strName);
    std::sort(candidates.begin(), candidates.end());
    for (qsizetype i : std::as_const(candidates)) {
        WatchEntryFlag &entry = m_loaded[i];
        const QStringView prefix = QStringView(entry.subkey).left(4);
        const bool isFriend = prefix == kFriendPrefix;
        if (entry.flag != kArmed || (!isFriend && prefix != kFoePrefix) ||
            m_announcedUnstored.contains(entry.subkey))
            continue;
        // The flag goes first: a sound that cannot be played must not announce him again.
        if (!writeFlag(entry, kAnnounced))
            m_announcedUnstored.insert(entry.subkey);
        m_announced.append({entry.subkey, isFriend, strName, strIP, m_announcer.muted()});
        m_announcer.announce(isFriend, identifierOf(entry.subkey).toString(), server);
        return;
    }
}

void ServerWatch::getALlKeyPlayers()
{
    m_loaded = m_registry.watchEntries(m_flagValue);
    // Another server's flag is written only once he has been announced there: until then the
    // entry is armed on that server.
    if (m_flagValue != kAnnounceValue) {
        for (WatchEntryFlag &entry : m_loaded) {
            if (entry.flag.isEmpty())
                entry.flag = kArmed;
        }
    }
}

void ServerWatch::resetToYES()
{
    m_announcedUnstored.clear();
    getALlKeyPlayers();
    for (WatchEntryFlag &entry : m_loaded) {
        if (entry.flag != kArmed)
            writeFlag(entry, kArmed);
    }
}

} // namespace kelvoran::watch
