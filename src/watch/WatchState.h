#pragma once
// The state of watching one server, as the tray shows it: the last poll's outcome and since when a
// failure has lasted, and who of the watch list is on line. It only watches the polls; what is
// announced, and when, is the poll cycle's.
#include "platform/RegistryStore.h"
#include "watch/PollReport.h"

#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <optional>

namespace kelvoran::watch {

class WatchState
{
public:
    enum class Outcome {
        NotYet,       // no poll has ended yet
        Players,      // the page was read and lists players
        Nobody,       // the page was read: no table, or a table without rows
        LoginRefused, // HTTP 401
        HttpStatus,   // another HTTP status than 200
        Unreachable,  // no answer, or the transfer stopped short
    };

    // A desktop notification that a change of the state calls for.
    struct Notice
    {
        QString summary;
        QString body;
        friend bool operator==(const Notice &, const Notice &) = default;
    };

    // Starts afresh for a new run of watching or another server: no outcome yet, no failures.
    void reset() { *this = WatchState(); }

    // Takes one poll's report; `server` names the server its reading went to. After the second
    // failed poll in a row it calls for one notice that watching fails, and at the first poll
    // that reads the server after that, for one that it works again; nothing while the state
    // stays as it is.
    std::optional<Notice> record(const PollReport &report, const QString &server);

    Outcome outcome() const { return m_outcome; }
    bool failing() const { return m_outcome > Outcome::Nobody; }
    int failuresInRow() const { return m_failuresInRow; }
    int playersOnLine() const { return m_players; }
    // The last outcome in words: "12 players on line", "the server refused the login (...)".
    QString outcomeText() const;
    // The last outcome with its time ("20:14: 12 players on line"), or since when it fails
    // ("Since 20:10: cannot reach the server (...)"); "" before the first poll.
    QString statusLine(const QLocale &locale) const;
    // The identifiers of the watched friends and foes the last reading found on line.
    const QStringList &friendsOnLine() const { return m_friendsOnLine; }
    const QStringList &foesOnLine() const { return m_foesOnLine; }

private:
    Outcome m_outcome = Outcome::NotYet;
    platform::FetchResult m_fetch;
    int m_players = 0;
    QDateTime m_lastPoll;
    QDateTime m_failingSince;
    int m_failuresInRow = 0;
    bool m_failureNoticed = false;
    QStringList m_friendsOnLine;
    QStringList m_foesOnLine;
};

// "Bob, alice" with at most five names, then "and N more".
QString someOf(const QStringList &names);

// "Last visit: Bob (friend) 20:14 to 20:52", for the tooltip.
QString lastVisitLine(const platform::VisitRow &visit, const QLocale &locale);

} // namespace kelvoran::watch
