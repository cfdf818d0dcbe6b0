#pragma once
// The timed poll of the game server: who is on line, who of them is on the watch list and not yet
// announced in this visit, and who has left.
#include "platform/HttpClient.h"
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"
#include "watch/PlayerTableParser.h"
#include "watch/PollReport.h"
#include "watchlist/Module1.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

namespace kelvoran::watch {

// The texts of the window's fields that a poll uses.
struct WatchFields
{
    QString adminName;
    QString password;
    QString ipAddress;
    QString portNumber;
    QString friendWav;
    QString enemyWav;
};

// The page of a poll cut into rows, and how its download ended.
struct FetchedPage
{
    PlayerTable table;
    platform::FetchResult fetch;
};

// The page half of a poll: downloads the current players page with the fields' login and cuts it
// into rows. Blocking; the window runs it off its own thread.
FetchedPage fetchCurrentPlayers(platform::HttpClient &http, const WatchFields &fields);

// The store half of a poll. The watch list is read once per cycle (names and flags), matched in
// memory, and only flags that change are written.
class ServerWatch
{
public:
    ServerWatch(Module1 &registry, platform::SoundPlayer &sound, platform::Notifier &notifier);

    // One poll, once its page is in: announce each newly seen watched player, arm again every
    // entry whose player is no longer on line. A page without a player table (server down, login
    // refused, nobody there) arms every entry. Returns what the poll found and did; its time and
    // download are the caller's to fill in.
    PollReport PollCycle(const PlayerTable &table, const WatchFields &fields);

    // Announces the first armed entry of the loaded watch list, in the store's order, whose
    // identifier is the player's name or address (among those PollCycle found on line): its flag
    // goes to "NO", then its sound plays and a notification names it (unless muted).
    void playAnnoucement(const QString &strName, const QString &strIP, const WatchFields &fields);

    // Muted, announcements are made (flags written, visits kept) without sound or notification.
    void setMuted(bool muted) { m_muted = muted; }
    bool muted() const { return m_muted; }

    // Loads the watch list (subkey names and flags) from the store.
    void getALlKeyPlayers();

    // Arms every watch entry.
    void resetToYES();

    const QList<WatchEntryFlag> &loadedWatchList() const { return m_loaded; }

private:
    bool writeFlag(WatchEntryFlag &entry, const QString &flag);

    Module1 &m_registry;
    platform::SoundPlayer &m_sound;
    platform::Notifier &m_notifier;
    QList<WatchEntryFlag> m_loaded;
    // Positions in m_loaded, in the store's order, of the entries that someone on line matches,
    // by identifier: a player is matched without walking the whole list.
    QHash<QStringView, QList<qsizetype>> m_byIdentifier;
    // Entries announced in a visit whose "NO" the store refused: they count as announced until
    // their player leaves, so a store that cannot be written does not repeat the sound at every
    // poll.
    QSet<QString> m_announcedUnstored;
    QList<Announcement> m_announced; // of the poll running now
    bool m_muted = false;
};

} // namespace kelvoran::watch
