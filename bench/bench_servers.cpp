// Figures for watching many servers at once, through the real readings (libcurl, UDP):
//  - 50 web admin servers, half of them dead (a closed port, or a server that accepts and never
//    answers), and 10,000 watch entries: the GUI thread's longest busy stretch while a round of
//    polls comes in, the store's writes, and the store half of one server's poll;
//  - 50 public servers answering the game's status query on loopback: the wall time of one round
//    and the GUI thread's longest busy stretch.
//
//   bench_servers [interval ms, default 20000]
#include "FakeGameServer.h"
#include "FakeQueryServer.h"
#include "GuiStall.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "watch/WatchGroup.h"
#include "watchlist/WatchList.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace kelvoran;

namespace {

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

struct Round
{
    double stall = 0, wall = 0;
    int answered = 0;
    quint64 writes = 0;
};

// Starts watching and waits until every server has had its first answer (or `limitMs`).
Round oneRound(test::TempStore &store, watch::WatchGroup &group, int limitMs)
{
    Round r;
    QElapsedTimer clock;
    const quint64 before = store.store().committedWrites();
    const auto answered = [&] {
        return int(std::count_if(group.watchers().cbegin(), group.watchers().cend(), [](auto *w) {
            return w->state().outcome() != watch::WatchState::Outcome::NotYet;
        }));
    };
    QObject::connect(&group, &watch::WatchGroup::changed, &group, [&] {
        if (answered() == group.watchers().size() && r.wall == 0)
            r.wall = msSince(clock);
    });
    r.stall = longestStall(limitMs, [&] {
        clock.start();
        group.start();
    });
    r.answered = answered();
    r.writes = store.store().committedWrites() - before;
    group.stop();
    QObject::disconnect(&group, &watch::WatchGroup::changed, &group, nullptr);
    return r;
}

QString player(int i)
{
    return QStringLiteral("Player%1").arg(i, 2, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int interval = argc > 1 ? std::max(1000, atoi(argv[1])) : 20000;
    qunsetenv("http_proxy");
    qputenv("no_proxy", "127.0.0.1");

    test::TempStore store;
    for (int i = 0; i < 10000; ++i) // every 4th player of a page is watched by name
        store.registry().addEntry((i % 2 ? kFoePrefix : kFriendPrefix) +
                                  (i < 32 && i % 4 == 0
                                       ? player(i)
                                       : QStringLiteral("Watched%1").arg(i, 5, 10, QChar('0'))));
    test::RecordingSoundPlayer silent;
    test::RecordingNotifier notifier;
    watch::Announcer announcer(silent, notifier);
    watch::VisitLog visits(store.store());

    {
        QList<test::FakePlayer> players;
        for (int i = 0; i < 32; ++i)
            players << test::FakePlayer{player(i), QStringLiteral("10.0.%1.%2").arg(i / 8).arg(i)};
        std::vector<std::unique_ptr<test::FakeGameServer>> servers;
        watch::WatchGroup group(store.registry(), announcer, visits, watch::makePlayerSource);
        group.setInterval(interval);
        for (int i = 0; i < 50; ++i) {
            auto &s = servers.emplace_back(std::make_unique<test::FakeGameServer>());
            // Half dead: a closed port, or a server that accepts and never answers (20 s).
            s->setPlayers(players);
            s->setMode(i % 4 == 1   ? test::FakeGameServer::Mode::Refusing
                       : i % 4 == 3 ? test::FakeGameServer::Mode::NeverAnswer
                                    : test::FakeGameServer::Mode::Normal);
            const watch::ServerConfig server{.address = "127.0.0.1", .port = s->portText()};
            i == 0 ? group.setFirstServer(server) : void(group.saveServer(server));
        }
        std::printf("50 web admin servers (25 answer with 32 players, 13 refuse, 12 never answer), "
                    "10000 entries, polls spread over %d ms\n",
                    interval);
        for (const char *which : {"first round (8 arrive on each server)", "steady round"}) {
            const Round r = oneRound(store, group, interval + 22000);
            std::printf("  %s: %d of 50 answered in %.0f ms, GUI thread busy at most %.1f ms, "
                        "%llu store writes\n",
                        which, r.answered, r.wall, r.stall,
                        static_cast<unsigned long long>(r.writes));
        }
        // The store half of one server's poll, as each watcher runs it on the GUI thread.
        std::vector<double> ms;
        QList<watch::PlayerRow> table;
        for (const auto &p : players)
            table.append({p.name, p.ip});
        for (watch::Watcher *w : group.watchers()) {
            QElapsedTimer t;
            t.start();
            w->cycle().PollCycle(table, w->name());
            ms.push_back(msSince(t));
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  store half of one server's steady poll: median %.2f ms, max %.2f ms\n",
                    ms[ms.size() / 2], ms.back());
    }
    {
        std::vector<std::unique_ptr<test::FakeQueryServer>> servers;
        watch::WatchGroup group(store.registry(), announcer, visits, watch::makePlayerSource);
        const int spread = std::min(interval, 2000);
        group.setInterval(spread);
        for (int i = 0; i < 50; ++i) {
            auto &s = servers.emplace_back(std::make_unique<test::FakeQueryServer>());
            const watch::ServerConfig server{.kind = watch::ServerConfig::Kind::Public,
                                             .address = "127.0.0.1",
                                             .port = "7777",
                                             .queryPort = QString::number(s->port())};
            group.saveServer(server);
        }
        // The first server (the main window's, a web admin one) has no address here: it fails
        // at once and is counted with the others.
        for (const char *which : {"first round", "steady round"}) {
            const Round r = oneRound(store, group, spread + 6000);
            std::printf("50 public servers on loopback, polls spread over %d ms, %s: %d of %lld "
                        "answered, the last %.0f ms after the start, GUI thread busy at most %.1f "
                        "ms\n",
                        spread, which, r.answered, static_cast<long long>(group.watchers().size()),
                        r.wall, r.stall);
        }
    }
    return 0;
}
