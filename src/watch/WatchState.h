#pragma once
// The state of watching, as the tray shows it: whether polling runs, the last poll's outcome and
// since when a failure has lasted, who of the watch list is on line, and whether announcements
// are muted. It only watches the polls; what is announced, and when, is the poll cycle's.
#include "platform/RegistryStore.h"
#include "watch/PollReport.h"

#include <QDateTime>
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

    // The server the polls go to, as "address:port".
    void setServer(const QString &address, const QString &port);
    void setPolling(bool on) { m_polling = on; }
    void setMuted(bool muted) { m_muted = muted; }

    // Takes one poll's report. After the second failed poll in a row it calls for one notice that
    // watching fails, and at the first poll that reads the page after that, for one that it works
    // again; nothing while the state stays as it is.
    std::optional<Notice> record(const PollReport &report);

    bool polling() const { return m_polling; }
    bool muted() const { return m_muted; }
    Outcome outcome() const { return m_outcome; }
    bool failing() const { return m_outcome > Outcome::Nobody; }
    // The last outcome in words: "12 players on line", "the server refused the login (...)".
    QString outcomeText() const;
    // "Kelvoran", then a line each: watching or not, the last outcome with its time, the watched
    // players on line by kind, mute, and the caller's `extra` lines.
    QString toolTip(const QLocale &locale, const QStringList &extra = {}) const;

private:
    QString m_server;
    bool m_polling = false;
    bool m_muted = false;
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

// "Last visit: Bob (friend) 20:14 to 20:52", for the tooltip.
QString lastVisitLine(const platform::VisitRow &visit, const QLocale &locale);

} // namespace kelvoran::watch
