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
// "Frd_Bob Bob/10.1 CTF 1-4 polling stopped (already on line ...)": a visit, its server (unless
// the first), the minutes it came and left at ("on" while it runs).
QString text(const platform::VisitRow &v)
{
    const auto minute = [](const QDateTime &t) {
        return t.isValid() ? QString::number(kStart.secsTo(t) / 60) : u"on"_qs;
    };
    return QStringList{(v.isFriend ? "Frd_" : "Foe_") + v.watchedAs,
                       v.name + '/' + v.ip,
                       v.server == "ut:7777" ? QString() : v.server,
                       minute(v.came) + '-' + minute(v.left),
                       v.endNote,
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
        group->load();
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
    watch::Watcher *at(const QString &address) // a server the step names
    {
        const auto &all = group->watchers();
        return *std::find_if(all.cbegin(), all.cend(),
                             [&](auto *w) { return w->server().address == address; });
    }
    // One step: "start", "stop", "exit" (and the program starts again), "clear" (the visit log),
    // "addr X", "login X" or "pass X" (the first server's fields edited), "rearm ENTRY" (added
    // again), "add ADDRESS NAME [public]" (a server added, "-" for no name), "edit ADDRESS
    // NEW-ADDRESS", "remove ADDRESS", "poll" (each server watched polls), an answer (FakeSources'
    // texts) to the oldest poll on its way, or to the server at ADDRESS as "ADDRESS=answer", or
    // "poll " and an answer. "late" makes an abort leave the reading to end with its answer, as one
    // on its way already. Returns what the user heard and saw: "f"/"o" a friend's or foe's sound,
    // "!" watching fails, "+" it works again, "g" the tray's icon grey; "." nothing.
    QString step(QString what)
    {
        if (what.startsWith("poll")) {
            int polls = 0;
            for (watch::Watcher *w : group->watchers())
                w->poll(), polls += w->pollInFlight();
            what = what.mid(5);
            if (!QTest::qWaitFor([&] { return sources.waiting() == polls; }, 10000))
                return "no poll went out";
        }
        const QStringList words = what.split(' ');
        if (what == "start" || what == "stop")
            what == "start" ? group->start() : group->stop();
        else if (what == "exit")
            group->stop(), startProgram();
        else if (what == "late")
            sources.setAbortEnds(false);
        else if (what == "clear")
            visits->clear();
        else if (words[0] == "rearm") // the entry added again
            t.registry().addEntry(words[1]);
        else if (words[0] == "addr" || words[0] == "login" || words[0] == "pass") {
            watch::ServerConfig server = group->first().server();
            (words[0] == "addr"    ? server.address
             : words[0] == "login" ? server.adminName
                                   : server.password) = words[1];
            group->setFirstServer(server);
        } else if (words[0] == "add" || words[0] == "edit") {
            watch::ServerConfig server{.address = words[1], .port = "7777", .adminName = "a"};
            if (words[0] == "edit")
                server = at(words[1])->server(), server.address = words[2];
            else if (words[2] != "-")
                server.name = words[2];
            if (words.value(3) == "public")
                server.kind = watch::ServerConfig::Kind::Public;
            if (!group->saveServer(server))
                return "not saved";
        } else if (words[0] == "remove") {
            if (!group->removeServer(at(words[1])->server().id))
                return "not removed";
        } else if (!what.isEmpty()) {
            const bool to = what.contains('=') && !what.startsWith("host=");
            if (!sources.answer(to ? what.section('=', 1) : what,
                                to ? what.section('=', 0, 0) : ""))
                return "no poll to answer";
        }
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
    // The steps split by ";", and what each did.
    QString run(const QString &steps)
    {
        QStringList seen;
        for (const QString &what : steps.split(';'))
            seen << step(what.trimmed());
        return seen.join(' ');
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
                  "start; poll Bob/10.1; stop; start; poll broke:Bob/10.1; poll Bob/10.1; stop",
                  ". f . . g . .",
                  "Frd_Bob Bob/10.1 5-6 polling stopped (already on line when watching began), "
                  "Frd_Bob Bob/10.1 1-2 polling stopped"},
                 {"... and after Exit", "start; poll Bob/10.1; exit; start; poll Bob/10.1",
                  ". f . . .",
                  "Frd_Bob Bob/10.1 4-on (already on line when watching began), "
                  "Frd_Bob Bob/10.1 1-2 polling stopped"},
                 {"an answer after Restore, a restart or a change of server is dropped",
                  "late; start; poll; stop; Bob/10.1; start; poll; stop; start; Bob/10.1; poll; "
                  "addr other; Bob/10.1; poll; login boss; Bob/10.1; poll; pass x; Bob/10.1; "
                  "poll Bob/10.1",
                  ". . . . . . . . . . . . . . . . . . . f", "Frd_Bob Bob/10.1 other:7777 19-on"},
                 {"a failed download ends visits as not read, a broken one too",
                  "start; poll Bob/10.1,Ann/10.2; poll broke:Bob/10.1; poll refused; poll Ann/10.2",
                  ". ff g !g f+",
                  "Frd_Ann Ann/10.2 4-on, Frd_Ann Ann/10.2 1-2 server not read, "
                  "Frd_Bob Bob/10.1 1-3 server not read"},
                 {"each run and each server start with a clean state",
                  "start; poll 401; stop; start; poll refused; poll refused; poll -; "
                  "poll refused; poll refused; addr other; poll Bob/10.1; stop",
                  ". g . . g !g + g !g . f .", "Frd_Bob Bob/10.1 other:7777 10-11 polling stopped"},
                 {"watched by address and by name: a visit for each, one a poll",
                  "start; poll Bob/10.9; poll Bob/10.9; poll -", ". o f .",
                  "Frd_Bob Bob/10.9 2-3, Foe_10.9 Bob/10.9 1-3"},
                 {"the log cleared while he plays keeps his visit",
                  "start; poll Bob/10.1; poll -; clear; poll Bob/10.1; clear; poll Bob/10.1",
                  ". f . . f . .", "Frd_Bob Bob/10.1 4-on"},
             })
            QTest::newRow(tag) << QString(steps) << QString(seen) << QString(log);
    }
    void sequences()
    {
        QFETCH(QString, steps);
        Rig rig;
        QTEST(rig.run(steps), "seen");
        QTEST(rig.log(), "log");
    }
    // Bob on several servers: each server announces him once a visit, keeps its own flags in the
    // store, and logs its own visits.
    void servers_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("flags"); // each server's flags of Foe_10.9 Frd_Ann Frd_Bob
        const QString two = "add ctf CTF; start; poll; ";
        for (const auto &[tag, steps, seen, log, flags] : {
                 std::tuple{"moving from one server to another, and on two at once",
                            two + "ut=Bob/10.1; ctf=-; poll; ut=-; ctf=Bob/10.1; poll; "
                                  "ut=Bob/10.1; ctf=Bob/10.1",
                            ". . . f . . . f . f .",
                            "Frd_Bob Bob/10.1 9-on, Frd_Bob Bob/10.1 CTF 7-on, "
                            "Frd_Bob Bob/10.1 3-6",
                            "ut:7777 YES YES NO|CTF   NO"},
                 {"leaving one of two", two + "ut=Bob/10.1; ctf=Bob/10.1; poll; ctf=; ut=Bob/10.1",
                  ". . . f f . . .", "Frd_Bob Bob/10.1 CTF 4-6, Frd_Bob Bob/10.1 3-on",
                  "ut:7777 YES YES NO|CTF   YES"},
                 {"one fails while another reads: said for it alone, the icon not grey",
                  two + "ctf=refused; ut=Bob/10.1; poll; ctf=refused; ut=Bob/10.1; stop",
                  ". . . . f . ! . .", "Frd_Bob Bob/10.1 4-8 polling stopped",
                  "ut:7777 YES YES NO|CTF   "},
                 {"every server failing: grey", two + "ctf=refused; ut=401", ". . . . g", "",
                  "ut:7777 YES YES YES|CTF   "},
                 {"flags kept across a restart",
                  two + "ut=-; ctf=Bob/10.1; exit; start; poll; "
                        "ut=-; ctf=Bob/10.1",
                  ". . . . f . . . . .",
                  "Frd_Bob Bob/10.1 CTF 9-on (already on line when watching began), "
                  "Frd_Bob Bob/10.1 CTF 4-5 polling stopped",
                  "ut:7777 YES YES YES|CTF   NO"},
                 {"an entry added again is armed on every server",
                  two + "ut=Bob/10.1; ctf=Bob/10.1; rearm frd_bob; poll; ut=Bob/10.1; "
                        "ctf=Bob/10.1",
                  ". . . f f . . f f", "Frd_Bob Bob/10.1 CTF 4-on, Frd_Bob Bob/10.1 3-on",
                  "ut:7777 YES YES NO|CTF   NO"},
                 {"removed during its poll, with its flags (a server added later has its number) "
                  "and visits",
                  two + "ctf=Bob/10.1; ut=-; poll; remove ctf; ut=Ann/10.2; add dm DM; poll; "
                        "dm=Bob/10.1; ut=-",
                  ". . . f . . . f . . f .",
                  "Frd_Bob Bob/10.1 DM 10-on, Frd_Ann Ann/10.2 7-11, "
                  "Frd_Bob Bob/10.1 CTF 3-6 polling stopped",
                  "ut:7777 YES YES YES|DM   NO"},
                 {"edited during its poll: the answer of the old address is dropped",
                  "late; " + two + "edit ctf dm; ctf=Bob/10.1; ut=-; poll; dm=Bob/10.1; ut=-",
                  ". . . . . . . . f .", "Frd_Bob Bob/10.1 CTF 8-on",
                  "ut:7777 YES YES YES|CTF   NO"},
                 {"public: names only; one lost answer changes nothing, the second ends the visit",
                  "add pub - public; start; poll; ut=-; pub=host=Pub:CTF-Face|Bob,Zed; poll; "
                  "ut=-; pub=lost; poll; ut=-; pub=host=Pub:CTF-Face|Bob; poll; ut=-; pub=lost; "
                  "poll; ut=-; pub=lost; poll; ut=-; pub=host=Pub:Face|Bob",
                  ". . . . f . . . . . . . . . . . ! . . f+",
                  "Frd_Bob Bob/ Pub 19-on, Frd_Bob Bob/ Pub 4-16 server not read",
                  "ut:7777 YES YES YES|Pub   NO"},
             })
            QTest::newRow(tag) << steps << QString(seen) << QString(log) << QString(flags);
    }
    void servers()
    {
        QFETCH(QString, steps);
        Rig rig;
        QTEST(rig.run(steps), "seen");
        QTEST(rig.log(), "log");
        QStringList kept;
        for (watch::Watcher *w : rig.group->watchers()) {
            QStringList line{w->name()};
            for (const WatchEntryFlag &e :
                 rig.t.registry().watchEntries(flagValueFor(w->server().id)))
                line << e.flag;
            kept << line.join(' ');
        }
        QTEST(kept.join('|'), "flags");
    }
    // How a poll went, in the list of servers and in the tooltip, and whether the icon is grey.
    void outcomes_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("said");
        const QString away = "cannot reach the server (%1)";
        for (const auto &[page, said] : {
                 std::pair<QString, QString>{"Bob/10.1,Ann/10.2", "2 on line|2 players on line"},
                 {"Bob/10.1", "1 on line|1 player on line"},
                 {",", "|nobody on line"},
                 {"-", "|nobody on line"},
                 {"401", "refused the login|the server refused the login (check Admin Name and "
                         "Password)|grey"},
                 {"404", "|the server answered with HTTP status 404|grey"},
                 {"refused", '|' + away.arg("connection refused") + "|grey"},
                 {"nohost", '|' + away.arg("host not found") + "|grey"},
                 {"timeout", '|' + away.arg("no answer within 20 s") + "|grey"},
                 {"broke:Bob/10.1", '|' + away.arg("the transfer broke off") + "|grey"},
                 {"lost", '|' + away.arg("no answer") + "|grey"},
             })
            QTest::newRow(qPrintable(page)) << page << said;
    }
    void outcomes()
    {
        QFETCH(QString, page);
        Rig rig;
        const QString seen = rig.run("start; poll " + page);
        const watch::Watcher &w = rig.group->first();
        const QString text = w.state().outcomeText();
        QTEST((w.summary() == text ? QString() : w.summary()) + '|' + text +
                  (seen.endsWith('g') ? "|grey" : ""),
              "said");
    }
    // A line for each server, who is on line where, and nothing of a run once it is over.
    void toolTip()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        Rig rig;
        QCOMPARE(rig.run("add ctf CTF; add pub - public; start; poll; ut=Bob/10.1; ctf=refused; "
                         "pub=host=Pub:CTF-Face|Bob; poll; ut=Bob/10.1,Zed/10.9; ctf=refused; "
                         "pub=lost")
                     .remove(QRegularExpression("[fog.! ]")),
                 QString());
        rig.announcer.setMuted(true);
        QCOMPARE(rig.group->toolTip(QLocale(), {"Last visit: x"}),
                 u"Kelvoran\nWatching 3 servers\nut:7777: 20:08: 2 players on line\n"
                 "CTF: Since 20:05: cannot reach the server (connection refused)\n"
                 "Pub (names only): Since 20:10: cannot reach the server (no answer)\n"
                 "Friends on line: Bob (ut:7777)\nFoes on line: 10.9 (ut:7777)\n"
                 "Announcements muted\nLast visit: x"_qs);
        rig.step("stop");
        QCOMPARE(rig.group->toolTip(QLocale()),
                 u"Kelvoran\nNot watching: minimise the window to start\nAnnouncements muted"_qs);
        QCOMPARE(watch::someOf({"a", "b", "c", "d", "e", "f", "g"}),
                 u"a, b, c, d, e and 2 more"_qs);
        const QDateTime at(QDate(2026, 12, 7), QTime(20, 14));
        QCOMPARE(
            watch::lastVisitLine(
                {.came = at, .left = at.addSecs(38 * 60), .isFriend = true, .watchedAs = "Bob"},
                QLocale()),
            u"Last visit: Bob (friend) 20:14 to 20:52"_qs);
    }
};
QTEST_GUILESS_MAIN(WatcherTest)
#include "tst_watcher.moc"
