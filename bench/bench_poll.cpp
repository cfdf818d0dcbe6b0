// Figures for the poll cycle with 32 players on line and watch lists of 100, 1,000 and 10,000
// entries (sound layer silent): the page download and scrape against the local game server, and
// the store half of a steady-state cycle (nobody joins or leaves), which must write nothing.
//
//   bench_poll [cycles]
#include "FakeGameServer.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "watch/PlayerSource.h"
#include "watch/ServerWatch.h"
#include "watchlist/WatchList.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace kelvoran;

namespace {

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// CPU time of this thread: what the cycle costs, whatever else the machine is doing.
double cpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

QString fileState(const QString &path)
{
    const QFileInfo info(path);
    return QString::number(info.size()) + info.lastModified().toString(Qt::ISODateWithMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(3, atoi(argv[1])) : 21;
    qunsetenv("http_proxy");

    test::FakeGameServer server;
    server.setCredentials(QStringLiteral("admin"), QStringLiteral("pw"));
    QList<test::FakePlayer> players;
    for (int i = 0; i < 32; ++i)
        players << test::FakePlayer{QStringLiteral("Player%1").arg(i, 2, 10, QLatin1Char('0')),
                                    QStringLiteral("10.0.%1.%2").arg(i / 8).arg(i % 8 + 1)};
    server.setPlayers(players);
    platform::CurlHttpClient http;
    const watch::ServerConfig fields{.address = QStringLiteral("127.0.0.1"),
                                     .port = server.portText(),
                                     .adminName = QStringLiteral("admin"),
                                     .password = QStringLiteral("pw")};
    QElapsedTimer fetch;
    fetch.start();
    const watch::PlayerTable table = watch::fetchCurrentPlayers(http, fields).table;
    std::printf("page download and scrape: %.2f ms, %lld rows\n", msSince(fetch),
                static_cast<long long>(table ? table->size() : -1));

    std::printf("store half of a steady-state cycle, median of %d\n", cycles);
    std::printf("%8s %10s %10s %10s %12s %12s %10s\n", "entries", "first ms", "median ms", "max ms",
                "median CPU", "store writes", "files same");
    for (int entries : {100, 1000, 10000}) {
        test::TempStore store;
        test::RecordingSoundPlayer silent;
        test::RecordingNotifier notifier;
        // Every 4th player of the page is watched by name, so the first cycle announces 8.
        for (int i = 0; i < entries; ++i) {
            const QString id = i < 32 && i % 4 == 0
                                   ? QStringLiteral("Player%1").arg(i, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("Watched%1").arg(i, 5, 10, QLatin1Char('0'));
            store.registry().addEntry((i % 2 ? kFoePrefix : kFriendPrefix) + id);
        }
        watch::Announcer announcer(silent, notifier);
        watch::ServerWatch watcher(store.registry(), announcer);
        QElapsedTimer first;
        first.start();
        watcher.PollCycle(table, fields.displayName());
        const double firstMs = msSince(first);

        const quint64 writesBefore = store.store().committedWrites();
        const QString before = fileState(store.filePath()) + fileState(store.filePath() + "-wal");
        std::vector<double> ms, cpu;
        for (int c = 0; c < cycles; ++c) {
            QElapsedTimer t;
            const double cpuBefore = cpuMs();
            t.start();
            watcher.PollCycle(table, fields.displayName());
            ms.push_back(msSince(t));
            cpu.push_back(cpuMs() - cpuBefore);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(cpu.begin(), cpu.end());
        const bool same =
            before == fileState(store.filePath()) + fileState(store.filePath() + "-wal");
        std::printf("%8d %10.2f %10.2f %10.2f %12.2f %12llu %10s   (%lld announced in the first)\n",
                    entries, firstMs, ms[ms.size() / 2], ms.back(), cpu[cpu.size() / 2],
                    static_cast<unsigned long long>(store.store().committedWrites() - writesBefore),
                    same ? "yes" : "NO", static_cast<long long>(silent.played.size()));
    }
    return 0;
}
