// Time to cut the players out of a current_players page: a full 32-player server, a page of
// 1 MiB in the server's format, and a malformed 1 MiB page whose rows all end at one long cell.
#include "FakeGameServer.h"
#include "platform/Windows1252.h"
#include "watch/PlayerTableParser.h"

#include <QElapsedTimer>
#include <QList>

#include <algorithm>
#include <cstdio>
#include <functional>

using kelvoran::platform::fromWindows1252;
using kelvoran::test::FakeGameServer;
using kelvoran::test::FakePlayer;
using kelvoran::watch::PlayerTableParser;

namespace {

QList<FakePlayer> players(int count)
{
    QList<FakePlayer> list;
    for (int i = 0; i < count; ++i) {
        FakePlayer p;
        p.name = QStringLiteral("Player_%1").arg(i);
        p.ip = QStringLiteral("10.%1.%2.%3").arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
        p.team = i % 2 ? QStringLiteral("Red") : QStringLiteral("Blue");
        p.ping = 20 + i % 180;
        p.score = i % 7 - 2;
        p.bot = i % 11 == 5;
        p.spectator = i % 13 == 7;
        list << p;
    }
    return list;
}

// Median of `runs` timings of `work`, in microseconds.
double medianMicros(int runs, const std::function<qsizetype()> &work, qsizetype &result)
{
    QList<qint64> times;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        result = work();
        times << clock.nsecsElapsed();
    }
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2) / 1000.0;
}

void report(const char *what, const QString &page, int runs)
{
    qsizetype rows = 0;
    const double micros = medianMicros(
        runs,
        [&page] {
            return PlayerTableParser(page).value_or(QList<kelvoran::watch::PlayerRow>{}).size();
        },
        rows);
    std::printf("%-44s %9lld chars %6lld rows  %10.1f us per page (median of %d)\n", what,
                static_cast<long long>(page.size()), static_cast<long long>(rows), micros, runs);
}

} // namespace

int main()
{
#ifdef __SANITIZE_ADDRESS__
    std::printf("(built with AddressSanitizer: figures are slower than a release build)\n");
#endif
    const QString small = fromWindows1252(FakeGameServer::playersPage(players(32)));
    report("scrape, 32 players", small, 2001);

    int count = 1000;
    QByteArray bytes = FakeGameServer::playersPage(players(count));
    while (bytes.size() < 1024 * 1024)
        bytes = FakeGameServer::playersPage(players(count += 10));
    const QString large = fromWindows1252(bytes);
    report("scrape, 1 MiB page in the server's format", large, 101);

    const QString marker = QStringLiteral(R"(value="ban"></div></td><td><div align="left">)");
    QString malformed =
        QStringLiteral("<tr><td>") + marker.repeated(12000) + QStringLiteral("</td>");
    for (const QString &text : {QStringLiteral("t"), QStringLiteral("p"), QStringLiteral("s")})
        malformed +=
            QStringLiteral(R"(<td><div align="center">)") + text + QStringLiteral("</div></td>");
    malformed += QStringLiteral(R"(<td><div align="center">)") +
                 QString(1024 * 1024 - malformed.size() - 40, QLatin1Char('y')) +
                 QStringLiteral("</div></td></tr></table>");
    report("scrape, malformed 1 MiB page", malformed, 21);

    qsizetype decoded = 0;
    const double decodeMicros = medianMicros(
        101, [&bytes] { return fromWindows1252(bytes).size(); }, decoded);
    std::printf("%-44s %9lld bytes              %10.1f us per page (median of 101)\n",
                "decode 1 MiB from Windows-1252", static_cast<long long>(decoded), decodeMicros);
    return 0;
}
