// The state of watching that the tray shows: each outcome of a poll in words, the notices when
// watching fails twice in a row and when it works again, and the tooltip.
#include "watch/WatchState.h"
#include <QtTest>
using namespace kelvoran;
using watch::PollReport;
using watch::WatchState;
using Failure = platform::FetchResult::Failure;
namespace {
// "200:3" a table with 3 rows, "200:-" no table, "401", "refused", "timeout", "broke", ...
PollReport report(const QString &what, int minute = 0)
{
    PollReport r;
    r.when = QDateTime(QDate(2026, 12, 7), QTime(20, minute));
    const QString status = what.section(':', 0, 0);
    r.fetch.httpStatus = status.toLong();
    r.fetch.opened = r.fetch.httpStatus != 0 || what == "broke";
    const QStringList failures{"", "refused", "nohost", "timeout", "broke", "aborted", "other"};
    r.fetch.failure = Failure(std::max(0, int(failures.indexOf(status)))); // in Failure's order
    r.fetch.detail = "Malformed URL";
    r.tableRead = r.fetch.httpStatus == 200 && what.section(':', 1) != "-";
    r.playersOnLine = what.section(':', 1).toInt();
    return r;
}

} // namespace

class WatchStateTest : public QObject
{
    Q_OBJECT

private slots:
    void outcomes_data()
    {
        QTest::addColumn<QString>("poll");
        QTest::addColumn<QString>("said");
        const QString away = "cannot reach the server (%1)";
        for (const auto &[poll, said] :
             {std::pair<QString, QString>{"200:12", "12 players on line"},
              {"200:1", "1 player on line"},
              {"200:0", "nobody on line"},
              {"200:-", "nobody on line"},
              {"401", "the server refused the login (check Admin Name and Password)"},
              {"404:-", "the server answered with HTTP status 404"},
              {"refused", away.arg("connection refused")},
              {"nohost", away.arg("host not found")},
              {"timeout", away.arg("no answer within 20 s")},
              {"broke", away.arg("the transfer broke off")},
              {"other", away.arg("Malformed URL")}})
            QTest::newRow(qPrintable(poll)) << poll << said;
    }
    void outcomes()
    {
        QFETCH(QString, poll);
        QFETCH(QString, said);
        WatchState state;
        state.record(report(poll));
        QCOMPARE(state.outcomeText(), said);
        QCOMPARE(state.failing(), !said.contains("on line"));
    }
    // Polls in a row, and the notices they call for: "!" watching fails, "+" it works again.
    void notices_data()
    {
        QTest::addColumn<QString>("polls");
        QTest::addColumn<QString>("notices");
        for (const auto &[tag, polls, notices] :
             {std::tuple{"one failure: a map change", "200:1 refused 200:1 401 200:-", ""},
              {"twice, then again", "200:1 refused 401 timeout 200:2 200:2", "!+"},
              {"from the start", "refused refused 200:- refused refused", "!+!"},
              {"shutting down says nothing", "refused aborted aborted 200:1", ""}})
            QTest::newRow(tag) << QString(polls) << QString(notices);
    }
    void notices()
    {
        QFETCH(QString, polls);
        QFETCH(QString, notices);
        WatchState state;
        state.setServer("ut.example", "7777");
        QString seen;
        for (const QString &poll : polls.split(' ')) {
            if (const auto notice = state.record(report(poll)))
                seen += notice->body != state.outcomeText()                               ? "?"
                        : notice->summary == "Kelvoran cannot watch ut.example:7777"      ? "!"
                        : notice->summary == "Kelvoran is watching ut.example:7777 again" ? "+"
                                                                                          : "?";
        }
        QCOMPARE(seen, notices);
    }
    void toolTip()
    {
        const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
        WatchState state;
        QCOMPARE(state.toolTip(uk), u"Kelvoran\nNot watching: minimise the window to start"_qs);
        state.setServer("203.0.113.5", "8888");
        state.setPolling(true);
        PollReport r = report("200:9", 14);
        r.watchedOnLine = {"Frd_a", "Foe_10.0.0.66", "Frd_b", "Frd_c",
                           "Frd_d", "Frd_e",         "Frd_f", "Xy"};
        state.record(r);
        QCOMPARE(state.toolTip(uk, {"Last visit: x"}),
                 u"Kelvoran\nWatching 203.0.113.5:8888\n20:14: 9 players on line\n"
                 "Friends on line: a, b, c, d, e and 1 more\nFoes on line: 10.0.0.66\n"
                 "Last visit: x"_qs);
        const platform::VisitRow bob{
            .came = r.when, .left = r.when.addSecs(38 * 60), .isFriend = true, .watchedAs = "Bob"};
        QCOMPARE(watch::lastVisitLine(bob, uk), u"Last visit: Bob (friend) 20:14 to 20:52"_qs);
        state.record(report("401", 10));
        state.record(report("refused", 20));
        state.setMuted(true);
        QCOMPARE(state.toolTip(uk),
                 u"Kelvoran\nWatching 203.0.113.5:8888\nSince 20:10: cannot "
                 "reach the server (connection refused)\nAnnouncements muted"_qs);
    }
};

QTEST_GUILESS_MAIN(WatchStateTest)
#include "tst_watchstate.moc"
