#include "watch/ServerWatch.h"

#include "watch/AdminPageFetcher.h"
#include "watchlist/WatchList.h"

#include <QSet>

#include <algorithm>

namespace kelvoran::watch {

PlayerTable fetchCurrentPlayers(platform::HttpClient &http, const WatchFields &fields)
{
    return PlayerTableParser(AdminPageFetcher(http, fields.adminName, fields.password,
                                              fields.ipAddress, fields.portNumber));
}

ServerWatch::ServerWatch(Module1 &registry, platform::SoundPlayer &sound,
                         platform::Notifier &notifier)
    : m_registry(registry), m_sound(sound), m_notifier(notifier)
{
}

void ServerWatch::writeFlag(WatchEntryFlag &entry, const QString &flag)
{
    m_registry.setRegKeyValue(subPath(kChecklistKey, entry.subkey), kAnnounceValue, flag,
                              Module1::REG_SZ);
    entry.flag = flag;
}

void ServerWatch::PollCycle(const PlayerTable &table, const WatchFields &fields)
{
    if (!table) {
        resetToYES();
        return;
    }

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
        if (m_loaded[i].subkey.size() >= 4 && onLine.contains(id))
            m_byIdentifier[id].append(i);
    }

    for (const PlayerRow &row : *table)
        playAnnoucement(row.name, row.ip, fields);

    // An entry that nobody on line matches is armed again.
    for (WatchEntryFlag &entry : m_loaded) {
        if (entry.flag != kArmed && !onLine.contains(identifierOf(entry.subkey)))
            writeFlag(entry, kArmed);
    }
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
        if (entry.flag != kArmed || (!isFriend && prefix != kFoePrefix))
            continue;
        // The flag goes first: a sound that cannot be played must not announce him again.
        writeFlag(entry, kAnnounced);
        m_sound.play(isFriend ? fields.friendWav : fields.enemyWav);
        m_notifier.notify(isFriend ? QStringLiteral("Friend on line")
                                   : QStringLiteral("Foe on line"),
                          identifierOf(entry.subkey).toString());
        return;
    }
}

void ServerWatch::getALlKeyPlayers()
{
    m_loaded = m_registry.watchEntries();
}

void ServerWatch::resetToYES()
{
    getALlKeyPlayers();
    for (WatchEntryFlag &entry : m_loaded) {
        if (entry.flag != kArmed)
            writeFlag(entry, kArmed);
    }
}

} // namespace kelvoran::watch
