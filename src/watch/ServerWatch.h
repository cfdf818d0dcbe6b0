#pragma once
// The timed poll of the game server: who is on line, who of them is on the watch list and not yet
// announced in this visit, and who has left.
#include "platform/HttpClient.h"
#include "platform/SoundPlayer.h"
#include "watch/PlayerTableParser.h"

#include <QString>
#include <QStringList>

namespace kelvoran::watch {

// The texts of the window's fields that a poll uses, read when the cycle starts. Nothing can
// change them while a cycle runs: the cycle holds the one GUI thread until it ends.
struct WatchFields
{
    QString adminName;
    QString password;
    QString ipAddress;
    QString portNumber;
    QString friendWav;
    QString enemyWav;
};

class ServerWatch
{
public:
    ServerWatch(platform::HttpClient &http, platform::SoundPlayer &sound);

    // One poll: fetch and scrape the page, announce each newly seen watched player, arm again
    // every entry whose player is no longer on line. A page without a player table (server down,
    // login refused, nobody there) arms every entry.
    void PollCycle(const WatchFields &fields);

    // Announces the first armed entry, in the store's order, whose identifier is the player's
    // name or address: its flag goes to "NO", then its sound plays to the end.
    void playAnnoucement(const QString &strName, const QString &strIP, const WatchFields &fields);

    // Reloads the watch list's subkey names from the store.
    void getALlKeyPlayers();

    // Arms every watch entry.
    void resetToYES();

    // The players on line now, for the current players view.
    PlayerTable currentPlayers(const WatchFields &fields);

    const QStringList &loadedWatchList() const { return m_loaded; }

    // The identifier of a watch entry: its subkey name after the four-character kind prefix.
    static QStringView identifierOf(const QString &subkeyName);

private:
    platform::HttpClient &m_http;
    platform::SoundPlayer &m_sound;
    QStringList m_loaded;
};

} // namespace kelvoran::watch
