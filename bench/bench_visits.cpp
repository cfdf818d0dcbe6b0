// Figures for the visit log with 1,000 visits logged and a watch list of 10,000 entries, 32
// players on line and 8 of them watched: the store work of a poll (the cycle's own and the
// log's) when a watched player arrives, when one leaves and when nobody comes or goes; and how
// long the window's thread is busy opening the visits window and refreshing it as a visit begins.
//
//   bench_visits [polls]
#include "GuiStall.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "WindowDoubles.h"
#include "app/VisitsWindow.h"
#include "watch/ServerWatch.h"
#include "watchlist/WatchList.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

using namespace kelvoran;

namespace {

double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

QString player(int i)
{
    return QStringLiteral("Player%1").arg(i, 2, 10, QLatin1Char('0'));
}

// One poll as a watcher makes it: the cycle (timed into `cycleMs`), then its report for the
// visit log.
watch::PollReport cycle(watch::ServerWatch &watcher, const watch::PlayerTable &table,
                        const QDateTime &when, double *cycleMs)
{
    QElapsedTimer t;
    t.start();
    watch::PollReport report = watcher.PollCycle(table, "ut");
    *cycleMs = msSince(t);
    report.when = when;
    report.fetch = {platform::FetchResult::Failure::None, 200, true, {}};
    return report;
}

struct Poll
{
    double cycleMs = 0, logMs = 0;
};

Poll poll(watch::ServerWatch &watcher, watch::VisitLog &log, const watch::PlayerTable &table,
          const QDateTime &when)
{
    Poll p;
    const watch::PollReport report = cycle(watcher, table, when, &p.cycleMs);
    QElapsedTimer t;
    t.start();
    log.record("", "ut", report);
    p.logMs = msSince(t);
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(3, atoi(argv[1])) : 21;

    test::TempStore store;
    test::RecordingSoundPlayer silent;
    test::RecordingNotifier notifier;
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < 10000; ++i) // every 4th player of the page is watched by name
        store.registry().addEntry((i % 2 ? kFoePrefix : kFriendPrefix) +
                                  (i < 32 && i % 4 == 0
                                       ? player(i)
                                       : QStringLiteral("Watched%1").arg(i, 5, 10, QChar('0'))));
    QDateTime when = QDateTime::currentDateTime().addDays(-1);
    for (int i = 0; i < platform::RegistryStore::kMaxVisits; ++i) {
        const qint64 id = store.store().addVisit(
            {.came = when, .watchedAs = player(i % 32), .name = player(i % 32), .ip = "10.0.0.1"});
        store.store().endVisit(id, when.addSecs(600), {});
        when = when.addSecs(60);
    }
    std::printf("store filled in %.0f ms: %lld visits, 10000 entries\n", msSince(fill),
                static_cast<long long>(store.store().visits().size()));

    QList<watch::PlayerRow> all, without00;
    for (int i = 0; i < 32; ++i) {
        all.append({player(i), QStringLiteral("10.0.%1.%2").arg(i / 8).arg(i % 8 + 1)});
        if (i > 0)
            without00.append(all.last());
    }
    watch::Announcer announcer(silent, notifier);
    watch::ServerWatch watcher(store.registry(), announcer);
    watch::VisitLog log(store.store());
    const Poll first = poll(watcher, log, all, when);
    std::printf("first poll, 8 watched players arrive: cycle %.2f ms, log %.2f ms\n", first.cycleMs,
                first.logMs);

    // Player00 (watched) leaves and comes back, with a poll between in which nobody moves.
    std::map<std::string, std::vector<Poll>> byKind;
    for (int i = 0; i < polls * 4; ++i) {
        const char *kind[] = {"leaves", "nobody moves", "arrives", "nobody moves"};
        when = when.addSecs(33);
        byKind[kind[i % 4]].push_back(poll(watcher, log, i % 4 < 2 ? without00 : all, when));
    }
    std::printf("store work of a poll, median / max of %d (ms)\n", polls);
    std::printf("%14s %18s %18s %18s\n", "", "cycle", "visit log", "together");
    for (auto &[kind, list] : byKind) {
        std::vector<double> cycle, logged, total;
        for (const Poll &p : list)
            cycle.push_back(p.cycleMs), logged.push_back(p.logMs),
                total.push_back(p.cycleMs + p.logMs);
        for (auto *v : {&cycle, &logged, &total})
            std::sort(v->begin(), v->end());
        const size_t mid = cycle.size() / 2;
        std::printf("%14s %8.2f / %7.2f %8.2f / %7.2f %8.2f / %7.2f\n", kind.c_str(), cycle[mid],
                    cycle.back(), logged[mid], logged.back(), total[mid], total.back());
    }

    test::ScriptedDialogs dialogs;
    app::VisitsWindow window(log, dialogs);
    QElapsedTimer open;
    const double opening = longestStall(1000, [&] {
        open.start();
        window.show();
        window.repaint();
        std::printf("visits window shown and painted in %.1f ms (%d rows)\n", msSince(open),
                    window.tblVisits->rowCount());
    });
    std::printf("opening the visits window: GUI thread busy at most %.1f ms\n", opening);
    // The cycles run first; only the log's part (its writes and the window's refresh) is timed.
    double ignored = 0;
    const watch::PollReport leaving = cycle(watcher, without00, when.addSecs(33), &ignored);
    const watch::PollReport arriving = cycle(watcher, all, when.addSecs(66), &ignored);
    const double leave = longestStall(600, [&] { log.record("", "ut", leaving); });
    const double arrive = longestStall(600, [&] { log.record("", "ut", arriving); });
    std::printf("the log's part of a poll, window open: GUI thread busy at most %.1f ms as a "
                "visit ends, %.1f ms as one begins\n",
                leave, arrive);
    return 0;
}
