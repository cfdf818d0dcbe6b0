#pragma once
// The timed poll of a game server, once its answer is in: who is on line, who of them is on the
// watch list and not yet announced in this visit, and who has left.
#include "watch/Announcer.h"
#include "watch/PlayerTableParser.h"
#include "watch/PollReport.h"
#include "watchlist/Module1.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

namespace kelvoran::watch {

// The store half of a poll. The watch list is read once per cycle (names and flags), matched in
// memory, and only flags that change are written. Each server keeps its own flag in every entry:
// the first server the "Annouce" value, another server "Annouce:<id>", which an entry added
// before that server existed does not hold yet (it counts as armed).
class ServerWatch
{
public:
    ServerWatch(Module1 &registry, Announcer &announcer, const QString &serverId = QString());

    // One poll, once its answer is in: announce each newly seen watched player, arm again every
    // entry whose player is no longer on line. An answer without a player table (server down,
    // login refused, nobody there) arms every entry. `server` names the server in the
    // notifications. Returns what the poll found and did; its time and reading are the caller's
    // to fill in.
    PollReport PollCycle(const PlayerTable &table, const QString &server);

    // Announces the first armed entry of the loaded watch list, in the store's order, whose
    // identifier is the player's name or address (among those PollCycle found on line): its flag
    // goes to "NO", then its sound plays and a notification names it (unless muted).
    void playAnnoucement(const QString &strName, const QString &strIP, const QString &server);

    // Loads the watch list (subkey names and this server's flags) from the store.
    void getALlKeyPlayers();

    // Arms every watch entry.
    void resetToYES();

    const QList<WatchEntryFlag> &loadedWatchList() const { return m_loaded; }

private:
    bool writeFlag(WatchEntryFlag &entry, const QString &flag);

    Module1 &m_registry;
    Announcer &m_announcer;
    QString m_flagValue;
    QList<WatchEntryFlag> m_loaded;
    // Positions in m_loaded, in the store's order, of the entries that someone on line matches,
    // by identifier: a player is matched without walking the whole list.
    QHash<QStringView, QList<qsizetype>> m_byIdentifier;
    // Entries announced in a visit whose "NO" the store refused: they count as announced until
    // their player leaves, so a store that cannot be written does not repeat the sound at every
    // poll.
    QSet<QString> m_announcedUnstored;
    QList<Announcement> m_announced; // of the poll running now
};

} // namespace kelvoran::watch
