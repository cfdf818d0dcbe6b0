// The watching of servers as the user lives it: runs of watching started and stopped, answers
// that come late, servers changed, failures, the visit log cleared: what is heard, said and
// logged, on a real store with readings answered by the test and a clock it sets.
#include "FakeSources.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "watch/PollJob.h"
#include "watch/WatchGroup.h"
#include <QtTest>
using namespace kelvoran;
namespace {
const QDateTime kStart(QDate(2026, 12, 7), QTime(20, 0));
// "Frd_Bob Bob/10.1 1-4 polling stopped (already on line ...)": a visit with the minutes it came
// and left at ("on" while it runs).
QString text(const platform::VisitRow &v)
{
    const auto minute = [](const QDateTime &t) {
        return t.isValid() ? QString::number(kStart.secsTo(t) / 60) : u"on"_qs;
    };
    return QStringList{(v.isFriend ? "Frd_" : "Foe_") + v.watchedAs, v.name + '/' + v.ip,
                       minute(v.came) + '-' + minute(v.left), v.endNote,
                       v.cameNote.isEmpty() ? QString() : '(' + v.cameNote + ')'}
        .join(' ')
        .simplified();
}
// A store with a few watch entries and the watching over it; each step of a sequence is a minute.
struct Rig
{
    test::TempStore t;
    test::RecordingSoundPlayer sound;
    test::RecordingNotifier notifier;
    watch::Announcer announcer{sound, notifier};
    test::FakeSources sources;
    std::optional<watch::VisitLog> visits;
    std::optional<watch::WatchGroup> group;
    int minute = 0;
    Rig()
    {
        for (const char *entry : {"Frd_Bob", "Frd_Ann", "Foe_10.9"})
            t.registry().addEntry(entry);
        announcer.setSounds("f", "o");
        startProgram();
    }
    // As at a start of the program: a new log and new watchers over the same store.
    void startProgram()
    {
        group.reset();
        visits.emplace(t.store());
        group.emplace(t.registry(), announcer, *visits, sources.factory());
        group->setInterval(3'600'000); // the test polls
        group->setClock([this] { return kStart.addSecs(60 * minute); });
        group->setFirstServer({.address = "ut", .port = "7777", .adminName = "admin"});
        QObject::connect(&*group, &watch::WatchGroup::notice,
                         [this](auto summary, auto body) { notifier.notify(summary, body); });
    }
    ~Rig() { sources.setAbortEnds(true); }
    // Every reading that ended has been handled: the jobs left wait for an answer.
    bool settled()
    {
        qsizetype jobs = 0;
        for (watch::Watcher *w : group->watchers())
            jobs += w->findChildren<watch::PollJob *>().size();
        return jobs == sources.waiting();
    }
    // One step: "start", "stop", "exit" (and the program starts again), "clear" (the visit log),
    // "addr X" or "login X" (the first server's fields edited), "poll" (a poll goes out), an
    // answer (FakeSources' texts) to the oldest poll on its way, or "poll " and an answer.
    // "late" makes an abort leave the reading to end with its answer, as one on its way already.
    // Returns what the user heard and saw: "f"/"o" a friend's or foe's sound, "!" watching
    // fails, "+" it works again, "g" the tray's icon grey; "." nothing.
    QString step(QString what)
    {
        const int polls = sources.waiting();
        if (what.startsWith("poll")) {
            for (watch::Watcher *w : group->watchers())
                w->poll();
            what = what.mid(5);
            if (!QTest::qWaitFor([&] { return sources.waiting() > polls; }, 10000))
                return "no poll went out";
        }
        if (what == "start" || what == "stop")
            what == "start" ? group->start() : group->stop();
        else if (what == "exit")
            group->stop(), startProgram();
        else if (what == "late")
            sources.setAbortEnds(false);
        else if (what == "clear")
            visits->clear();
        else if (what.startsWith("addr ") || what.startsWith("login ")) {
            watch::ServerConfig server = group->first().server();
            (what.startsWith("addr") ? server.address : server.adminName) = what.section(' ', 1);
            group->setFirstServer(server);
        } else if (!what.isEmpty() && !sources.answer(what))
            return "no poll to answer";
        if (!QTest::qWaitFor([&] { return settled(); }, 10000))
            return "not settled";
        ++minute;
        QString seen;
        for (const QString &s : std::exchange(sound.played, {}))
            seen += s;
        for (const QString &n : std::exchange(notifier.shown, {}))
            seen += n.startsWith("Kelvoran cannot watch") ? "!" : n.contains(" again/") ? "+" : "";
        seen += group->failing() ? "g" : "";
        return seen.isEmpty() ? "." : seen;
    }
    QString log()
    {
        QStringList rows;
        for (const platform::VisitRow &v : visits->visits())
            rows << text(v);
        return rows.join(", ");
    }
};

} // namespace

class WatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data()
    {
        QTest::addColumn<QString>("steps"); // split by ";"
        QTest::addColumn<QString>("seen");  // a token a step
        QTest::addColumn<QString>("log");   // the visit log, newest first
        // Bob is 10.1, Ann 10.2; Zed (10.9) is watched by address as a foe.
        for (const auto &[tag, steps, seen, log] : {
                 std::tuple{"announced once a visit; a full page without him ends it",
                            "start; poll Bob/10.1; poll Bob/10.1; poll -; poll Zed/10.9,Bob/10.1",
                            ". f . . of",
                            "Frd_Bob Bob/10.1 4-on, Foe_10.9 Zed/10.9 4-on, "
                            "Frd_Bob Bob/10.1 1-3"},
                 {"still on line when watching starts again: logged from the first reading",
                  "start; poll Bob/10.1; stop; start; poll Bob/10.1; stop", ". f . . . .",
                  "Frd_Bob Bob/10.1 4-5 polling stopped (already on line when watching began), "
                  "Frd_Bob Bob/10.1 1-2 polling stopped"},
                 {"... and after Exit", "start; poll Bob/10.1; exit; start; poll Bob/10.1",
                  ". f . . .",
                  "Frd_Bob Bob/10.1 4-on (already on line when watching began), "
                  "Frd_Bob Bob/10.1 1-2 polling stopped"},
                 {"an answer after Restore, a restart or a change of server is dropped",
                  "late; start; poll; stop; Bob/10.1; start; poll; stop; start; Bob/10.1; poll; "
                  "addr other; Bob/10.1; poll; login boss; Bob/10.1; poll Bob/10.1",
                  ". . . . . . . . . . . . . . . . f", "Frd_Bob Bob/10.1 16-on"},
                 {"a failed download ends visits as not read, a broken one too",
                  "start; poll Bob/10.1,Ann/10.2; poll broke:Bob/10.1; poll refused; poll Ann/10.2",
                  ". ff g !g f+",
                  "Frd_Ann Ann/10.2 4-on, Frd_Ann Ann/10.2 1-2 server not read, "
                  "Frd_Bob Bob/10.1 1-3 server not read"},
                 {"each run and each server start with a clean state",
                  "start; poll 401; stop; start; poll refused; poll refused; poll -; "
                  "poll refused; poll refused; addr other; poll Bob/10.1; stop",
                  ". g . . g !g + g !g . f .", "Frd_Bob Bob/10.1 10-11 polling stopped"},
                 {"the log cleared while he plays keeps his visit",
                  "start; poll Bob/10.1; poll -; clear; poll Bob/10.1; clear; poll Bob/10.1",
                  ". f . . f . .", "Frd_Bob Bob/10.1 4-on"},
             })
            QTest::newRow(tag) << QString(steps) << QString(seen) << QString(log);
    }
    void sequences()
    {
        QFETCH(QString, steps);
        QFETCH(QString, seen);
        QFETCH(QString, log);
        Rig rig;
        QStringList got;
        for (const QString &step : steps.split(';'))
            got << rig.step(step.trimmed());
        QCOMPARE(got.join(' '), seen);
        QCOMPARE(rig.log(), log);
    }
};

QTEST_GUILESS_MAIN(WatcherTest)
#include "tst_watcher.moc"
