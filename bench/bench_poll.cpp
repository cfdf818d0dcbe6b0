// Figures for one poll cycle against the local game server with 32 players on line and watch
// lists of 100, 1,000 and 10,000 entries (sound layer silent): time per cycle, and what a
// steady-state cycle (nobody joins or leaves) writes to the store, which must be nothing.
//
//   bench_poll [cycles]
#include "FakeGameServer.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "platform/HttpClient.h"
#include "watch/ServerWatch.h"
#include "watchlist/Module1.h"
#include "watchlist/WatchList.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kelvoran;
using namespace kelvoran::Module1;

namespace {

struct FileState
{
    qint64 size = -1;
    qint64 mtimeNs = 0;
    bool operator==(const FileState &) const = default;
};

FileState stateOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch()};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(3, atoi(argv[1])) : 9;
    qunsetenv("http_proxy");
    qputenv("no_proxy", "127.0.0.1");

    test::FakeGameServer server;
    server.setCredentials(QStringLiteral("admin"), QStringLiteral("pw"));
    QList<test::FakePlayer> players;
    for (int i = 0; i < 32; ++i)
        players << test::FakePlayer{QStringLiteral("Player%1").arg(i, 2, 10, QLatin1Char('0')),
                                    QStringLiteral("10.0.%1.%2").arg(i / 8).arg(i % 8 + 1)};
    server.setPlayers(players);

    platform::CurlHttpClient http;
    test::RecordingSoundPlayer silent;
    const watch::WatchFields fields{QStringLiteral("admin"),       QStringLiteral("pw"),
                                    QStringLiteral("127.0.0.1"),   server.portText(),
                                    QStringLiteral("/friend.wav"), QStringLiteral("/foe.wav")};

    std::printf("poll cycle, 32 players on line, %d timed steady-state cycles per size\n", cycles);
    std::printf("%8s %12s %12s %12s %14s %12s %10s\n", "entries", "first ms", "median ms", "min ms",
                "ms/1000 ent.", "store writes", "files same");
    for (int entries : {100, 1000, 10000}) {
        test::TempStore store;
        if (!store.isValid()) {
            std::fprintf(stderr, "cannot make a store\n");
            return 1;
        }
        // Every 4th player of the page is watched by name, so the first cycle announces 8.
        for (int i = 0; i < entries; ++i) {
            const QString id = i < 32 && i % 4 == 0
                                   ? QStringLiteral("Player%1").arg(i, 2, 10, QLatin1Char('0'))
                                   : QStringLiteral("Watched%1").arg(i, 5, 10, QLatin1Char('0'));
            addWatchEntry(i % 2 ? kFoePrefix : kFriendPrefix, id);
        }
        watch::ServerWatch watcher(http, silent);

        silent.played.clear();
        QElapsedTimer first;
        first.start();
        watcher.PollCycle(fields);
        const double firstMs = double(first.nsecsElapsed()) / 1e6;
        const qsizetype announced = silent.played.size();

        const quint64 writesBefore = store->committedWrites();
        const FileState dbBefore = stateOf(store.filePath());
        const FileState walBefore = stateOf(store.filePath() + QStringLiteral("-wal"));
        std::vector<double> ms;
        for (int c = 0; c < cycles; ++c) {
            QElapsedTimer t;
            t.start();
            watcher.PollCycle(fields);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        const quint64 writes = store->committedWrites() - writesBefore;
        const bool filesSame = stateOf(store.filePath()) == dbBefore &&
                               stateOf(store.filePath() + QStringLiteral("-wal")) == walBefore;
        const double median = ms[ms.size() / 2];
        std::printf("%8d %12.2f %12.2f %12.2f %14.2f %12llu %10s   (announced %lld in the first)\n",
                    entries, firstMs, median, ms.front(), median / (entries / 1000.0),
                    static_cast<unsigned long long>(writes), filesSame ? "yes" : "NO",
                    static_cast<long long>(announced));
        if (silent.played.size() != announced)
            std::printf("         steady-state cycles played %lld sounds\n",
                        static_cast<long long>(silent.played.size() - announced));
    }
    return 0;
}
