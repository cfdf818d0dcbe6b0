#pragma once
// What one poll found and did, for the views of the watching: the tray's state and the visit log.
#include "platform/HttpClient.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace kelvoran::watch {

// One announcement of a poll: the entry announced and the player who matched it.
struct Announcement
{
    QString subkey; // the entry's subkey name, kind prefix included, as the store spells it
    bool isFriend = false;
    QString name; // the matching player's name and address, as the server gave them
    QString ip;
    bool muted = false; // made while announcements were muted: no sound, no notification

    friend bool operator==(const Announcement &, const Announcement &) = default;
};

// A watch entry that someone on line matches, and the first player who does.
struct Sighting
{
    QString subkey{};
    QString name{};
    QString ip{};
    bool announced = false; // the entry counts as announced in this visit (its flag is "NO")

    friend bool operator==(const Sighting &, const Sighting &) = default;
};

struct PollReport
{
    QDateTime when;                // when the answer was in
    platform::FetchResult fetch;   // how the reading ended
    bool tableRead = false;        // the answer held a player table
    int playersOnLine = 0;         // the table's rows
    QList<Announcement> announced; // in the order they were made
    QList<Sighting> watchedOnLine; // in the store's order
    // The first poll of this run of watching that read the server: who is on line then and was
    // announced before watching began is logged as already there.
    bool firstReading = false;
};

} // namespace kelvoran::watch
