#include "watch/ServerWatch.h"

#include "watch/AdminPageFetcher.h"
#include "watchlist/WatchList.h"

#include <QSet>

#include <algorithm>

namespace kelvoran::watch {

FetchedPage fetchCurrentPlayers(platform::HttpClient &http, const WatchFields &fields)
{
    FetchedPage fetched;
    fetched.table =
        PlayerTableParser(AdminPageFetcher(http, fields.adminName, fields.password,
                                           fields.ipAddress, fields.portNumber, &fetched.fetch));
    return fetched;
}

ServerWatch::ServerWatch(Module1 &registry, platform::SoundPlayer &sound,
                         platform::Notifier &notifier)
    : m_registry(registry), m_sound(sound), m_notifier(notifier)
{
}

bool ServerWatch::writeFlag(WatchEntryFlag &entry, const QString &flag)
{
    entry.flag = flag;
    return m_registry.setRegKeyValue(subPath(kChecklistKey, entry.subkey), kAnnounceValue, flag,
                                     Module1::REG_SZ);
}

PollReport ServerWatch::PollCycle(const PlayerTable &table, const WatchFields &fields)
{
    PollReport report;
    if (!table) {
        resetToYES();
        return report;
    }
    report.tableRead = true;
    report.playersOnLine = int(table->size());

    // Everyone on line by name or by address, and the entries that one of them matches.
    QSet<QStringView> onLine;
    onLine.reserve(table->size() * 2);
    for (const PlayerRow &row : *table) {
        onLine.insert(row.name);
        onLine.insert(row.ip);
    }
    getALlKeyPlayers();
    m_byIdentifier.clear();
    for (qsizetype i = 0; i < m_loaded.size(); ++i) {
        const QStringView id = identifierOf(m_loaded[i].subkey);
        // Names shorter than a prefix can only come from another program; they identify nobody.
        if (m_loaded[i].subkey.size() >= 4 && onLine.contains(id)) {
            m_byIdentifier[id].append(i);
            report.watchedOnLine.append(m_loaded[i].subkey);
        }
    }

    m_announced.clear();
    for (const PlayerRow &row : *table)
        playAnnoucement(row.name, row.ip, fields);
    report.announced = std::exchange(m_announced, {});

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
                                  const WatchFields &fields)
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
        m_announced.append({entry.subkey, isFriend, strName, strIP, m_muted});
        if (m_muted)
            return;
        m_sound.play(isFriend ? fields.friendWav : fields.enemyWav);
        // The identifier goes into the summary, which every notification service shows as plain
        // text: clan tags such as "<K>" or "&" in a name read as typed.
        m_notifier.notify(
            (isFriend ? QStringLiteral("Friend on line: ") : QStringLiteral("Foe on line: ")) +
                identifierOf(entry.subkey).toString(),
            QString());
        return;
    }
}

void ServerWatch::getALlKeyPlayers()
{
    m_loaded = m_registry.watchEntries();
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
