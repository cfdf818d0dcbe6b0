#include "watch/ServerWatch.h"

#include "watch/AdminPageFetcher.h"
#include "watchlist/WatchList.h"

#include <QSet>

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

    getALlKeyPlayers();
    for (const PlayerRow &row : *table)
        playAnnoucement(row.name, row.ip, fields);

    // Everyone on line by name or by address; an entry that none of them matches is armed again.
    QSet<QStringView> onLine;
    onLine.reserve(table->size() * 2);
    for (const PlayerRow &row : *table) {
        onLine.insert(row.name);
        onLine.insert(row.ip);
    }
    for (WatchEntryFlag &entry : m_loaded) {
        if (entry.flag != kArmed && !onLine.contains(identifierOf(entry.subkey)))
            writeFlag(entry, kArmed);
    }
}

void ServerWatch::playAnnoucement(const QString &strName, const QString &strIP,
                                  const WatchFields &fields)
{
    for (WatchEntryFlag &entry : m_loaded) {
        const QStringView id = identifierOf(entry.subkey);
        if (entry.subkey.size() < 4 || (id != strIP && id != strName))
            continue;
        const QStringView prefix = QStringView(entry.subkey).left(4);
        const bool isFriend = prefix == kFriendPrefix;
        if (entry.flag != kArmed || (!isFriend && prefix != kFoePrefix))
            continue;
        // The flag goes first: a sound that cannot be played must not announce him again.
        writeFlag(entry, kAnnounced);
        m_sound.play(isFriend ? fields.friendWav : fields.enemyWav);
        m_notifier.notify(isFriend ? QStringLiteral("Friend on line")
                                   : QStringLiteral("Foe on line"),
                          id.toString());
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
