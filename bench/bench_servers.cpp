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
#include <QHash>

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

// Starts watching and measures two rounds of polls: the first, and a steady one (nobody comes or
// goes), each until every server has answered once more (or `limitMs`).
QList<Round> twoRounds(test::TempStore &store, watch::WatchGroup &group, int limitMs)
{
    QList<Round> rounds(2);
    QElapsedTimer clock;
    QHash<const watch::Watcher *, int> answers;
    for (const watch::Watcher *w : group.watchers())
        QObject::connect(w, &watch::Watcher::stateChanged, &group, [&, w] {
            if (!w->pollInFlight() && w->state().outcome() != watch::WatchState::Outcome::NotYet)
                ++answers[w];
        });
    const auto answered = [&](int round) {
        return int(
            std::count_if(answers.cbegin(), answers.cend(), [&](int n) { return n > round; }));
    };
    for (int round = 0; round < 2; ++round) {
        Round &r = rounds[round];
        const quint64 before = store.store().committedWrites();
        r.stall = longestStall(limitMs, [&] {
            clock.start();
            if (round == 0)
                group.start();
        });
        r.answered = answered(round);
        r.wall = msSince(clock);
        r.writes = store.store().committedWrites() - before;
    }
    group.stop();
    return rounds;
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
        const QList<Round> rounds = twoRounds(store, group, interval + 22000);
        for (int i = 0; i < 2; ++i)
            std::printf(
                "  %s: %d of 50 answered in a %.0f ms window, GUI thread busy at most %.1f ms, "
                "%llu store writes\n",
                i ? "steady round" : "first round (8 arrive on each server)", rounds[i].answered,
                rounds[i].wall, rounds[i].stall, static_cast<unsigned long long>(rounds[i].writes));
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
        QElapsedTimer last;
        int all = 0;
        QObject::connect(&group, &watch::WatchGroup::changed, &group, [&] {
            const bool done = std::all_of(
                group.watchers().cbegin(), group.watchers().cend(), [](const watch::Watcher *w) {
                    return w->state().outcome() != watch::WatchState::Outcome::NotYet;
                });
            if (done && !all++)
                std::printf("50 public servers on loopback: one round of polls over %.0f ms after "
                            "the start (polls spread over %d ms)\n",
                            msSince(last), spread);
        });
        const double stall = longestStall(spread + 6000, [&] {
            last.start();
            group.start();
        });
        std::printf("  GUI thread busy at most %.1f ms\n", stall);
    }
    return 0;
}
