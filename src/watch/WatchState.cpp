#include "watch/WatchState.h"

#include "watchlist/WatchList.h"

namespace kelvoran::watch {

namespace {

using Failure = platform::FetchResult::Failure;

WatchState::Outcome outcomeOf(const PollReport &report)
{
    const platform::FetchResult &fetch = report.fetch;
    // A transfer that stopped short is no reading of the page, even when part of it came.
    if (!fetch.opened || fetch.failure != Failure::None)
        return WatchState::Outcome::Unreachable;
    if (fetch.httpStatus == 401)
        return WatchState::Outcome::LoginRefused;
    if (fetch.httpStatus != 200)
        return WatchState::Outcome::HttpStatus;
    return report.tableRead && report.playersOnLine > 0 ? WatchState::Outcome::Players
                                                        : WatchState::Outcome::Nobody;
}

QString unreachableWhy(const platform::FetchResult &fetch)
{
    switch (fetch.failure) {
    case Failure::Refused:
        return QStringLiteral("connection refused");
    case Failure::HostNotFound:
        return QStringLiteral("host not found");
    case Failure::TimedOut:
        return QStringLiteral("no answer within %1 s")
            .arg(platform::CurlHttpClient::kDefaultTimeouts.transferMs / 1000);
    case Failure::BrokeOff:
        return QStringLiteral("the transfer broke off");
    default:
        return fetch.detail.isEmpty() ? QStringLiteral("no answer") : fetch.detail;
    }
}

} // namespace

QString someOf(const QStringList &names)
{
    constexpr int kShown = 5;
    QString text = names.first(std::min<qsizetype>(names.size(), kShown)).join(u", ");
    if (names.size() > kShown)
        text += QStringLiteral(" and %1 more").arg(names.size() - kShown);
    return text;
}

std::optional<WatchState::Notice> WatchState::record(const PollReport &report,
                                                     const QString &server)
{
    // A download ended by the program's own shutdown says nothing about the server.
    if (report.fetch.failure == Failure::Aborted)
        return std::nullopt;
    m_outcome = outcomeOf(report);
    m_fetch = report.fetch;
    m_players = report.playersOnLine;
    m_lastPoll = report.when;
    m_friendsOnLine.clear();
    m_foesOnLine.clear();
    if (failing()) {
        if (m_failuresInRow++ == 0)
            m_failingSince = report.when;
        // One failed poll may be a map change; the second in a row is said, once.
        if (m_failuresInRow >= 2 && !m_failureNoticed) {
            m_failureNoticed = true;
            return Notice{QStringLiteral("Kelvoran cannot watch ") + server, outcomeText()};
        }
        return std::nullopt;
    }
    for (const Sighting &seen : report.watchedOnLine) {
        if (seen.subkey.startsWith(kFriendPrefix))
            m_friendsOnLine << identifierOf(seen.subkey).toString();
        else if (seen.subkey.startsWith(kFoePrefix))
            m_foesOnLine << identifierOf(seen.subkey).toString();
    }
    m_failuresInRow = 0;
    if (!std::exchange(m_failureNoticed, false))
        return std::nullopt;
    return Notice{QStringLiteral("Kelvoran is watching %1 again").arg(server), outcomeText()};
}

QString WatchState::outcomeText() const
{
    switch (m_outcome) {
    case Outcome::NotYet:
        return QString();
    case Outcome::Players:
        return m_players == 1 ? QStringLiteral("1 player on line")
                              : QStringLiteral("%1 players on line").arg(m_players);
    case Outcome::Nobody:
        return QStringLiteral("nobody on line");
    case Outcome::LoginRefused:
        return QStringLiteral("the server refused the login (check Admin Name and Password)");
    case Outcome::HttpStatus:
        return QStringLiteral("the server answered with HTTP status %1").arg(m_fetch.httpStatus);
    case Outcome::Unreachable:
        return QStringLiteral("cannot reach the server (%1)").arg(unreachableWhy(m_fetch));
    }
    return QString();
}

QString WatchState::statusLine(const QLocale &locale) const
{
    if (m_outcome == Outcome::NotYet)
        return QString();
    if (failing())
        return QStringLiteral("Since %1: %2")
            .arg(locale.toString(m_failingSince.time(), QLocale::ShortFormat), outcomeText());
    return QStringLiteral("%1: %2").arg(locale.toString(m_lastPoll.time(), QLocale::ShortFormat),
                                        outcomeText());
}

QString lastVisitLine(const platform::VisitRow &visit, const QLocale &locale)
{
    return QStringLiteral("Last visit: %1 (%2) %3 to %4")
        .arg(visit.watchedAs, visit.isFriend ? QStringLiteral("friend") : QStringLiteral("foe"),
             locale.toString(visit.came.time(), QLocale::ShortFormat),
             locale.toString(visit.left.time(), QLocale::ShortFormat));
}

} // namespace kelvoran::watch
