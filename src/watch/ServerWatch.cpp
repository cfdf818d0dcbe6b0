#include "watch/ServerWatch.h"

#include "watch/AdminPageFetcher.h"
#include "watchlist/Module1.h"
#include "watchlist/WatchList.h"

#include <QSet>

namespace kelvoran::watch {

using namespace kelvoran::Module1;

ServerWatch::ServerWatch(platform::HttpClient &http, platform::SoundPlayer &sound)
    : m_http(http), m_sound(sound)
{
}

QStringView ServerWatch::identifierOf(const QString &subkeyName)
{
    // Names shorter than a prefix can only come from another program; they identify nobody.
    if (subkeyName.size() < 4)
        return {};
    return QStringView(subkeyName).mid(4);
}

PlayerTable ServerWatch::currentPlayers(const WatchFields &fields)
{
    const QString page = AdminPageFetcher(m_http, fields.adminName, fields.password,
                                          fields.ipAddress, fields.portNumber);
    return PlayerTableParser(page);
}

void ServerWatch::PollCycle(const WatchFields &fields)
{
    const PlayerTable table = currentPlayers(fields);
    if (!table) {
        resetToYES();
        return;
    }

    for (const PlayerRow &row : *table)
        playAnnoucement(row.name, row.ip, fields);

    getALlKeyPlayers();

    // Everyone on line by name or by address; an entry that none of them matches is armed again.
    QSet<QString> onLine;
    onLine.reserve(table->size() * 2);
    for (const PlayerRow &row : *table) {
        onLine.insert(row.name);
        onLine.insert(row.ip);
    }
    const qsizetype n = m_loaded.size();
    for (qsizetype j = 0; j < n; ++j) {
        const QString &subkey = m_loaded.at(j);
        if (!onLine.contains(identifierOf(subkey).toString()))
            setRegKeyValue(subPath(kChecklistKey, subkey), kAnnounceValue, kArmed, REG_SZ);
    }
}

void ServerWatch::playAnnoucement(const QString &strName, const QString &strIP,
                                  const WatchFields &fields)
{
    QString announced;
    bool isFriend = false;
    walkEntries(kChecklistWalkKey, [&](const QString &subkey) {
        const QStringView id = identifierOf(subkey);
        if (subkey.size() < 4 || (id != strIP && id != strName))
            return true;
        const QString flag = queryRegText(subPath(kChecklistWalkKey, subkey), kAnnounceValue);
        const QStringView prefix = QStringView(subkey).left(4);
        if (flag == kArmed && (prefix == kFriendPrefix || prefix == kFoePrefix)) {
            announced = subkey;
            isFriend = prefix == kFriendPrefix;
            return false;
        }
        return true;
    });
    if (announced.isNull())
        return;

    // The flag goes first: a sound that cannot be played must not announce him again.
    setRegKeyValue(subPath(kChecklistKey, announced), kAnnounceValue, kAnnounced, REG_SZ);
    m_sound.playSync(isFriend ? fields.friendWav : fields.enemyWav);
}

void ServerWatch::getALlKeyPlayers()
{
    m_loaded = entryNames(kChecklistWalkKey);
}

void ServerWatch::resetToYES()
{
    walkEntries(kChecklistWalkKey, [](const QString &subkey) {
        setRegKeyValue(subPath(kChecklistKey, subkey), kAnnounceValue, kArmed, REG_SZ);
        return true;
    });
}

} // namespace kelvoran::watch
