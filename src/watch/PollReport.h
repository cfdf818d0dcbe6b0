#pragma once
// What one poll found and did, for the views of the watching: the tray's state and the visit log.
#include "platform/HttpClient.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

namespace kelvoran::watch {

// One announcement of a poll: the entry announced and the player who matched it.
struct Announcement
{
    QString subkey; // the entry's subkey name, kind prefix included, as the store spells it
    bool isFriend = false;
    QString name; // the matching player's name and address, as the page showed them
    QString ip;
    bool muted = false; // made while announcements were muted: no sound, no notification

    friend bool operator==(const Announcement &, const Announcement &) = default;
};

struct PollReport
{
    QDateTime when;                // when the page was in
    platform::FetchResult fetch;   // how its download ended
    bool tableRead = false;        // the page held a player table
    int playersOnLine = 0;         // the table's rows
    QList<Announcement> announced; // in the order they were made
    // The subkey names of the entries that someone on line matches, in the store's order.
    QStringList watchedOnLine;
};

} // namespace kelvoran::watch
