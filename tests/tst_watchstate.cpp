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
        state.record(report(poll), "ut");
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
        QString seen;
        for (const QString &poll : polls.split(' ')) {
            if (const auto notice = state.record(report(poll), "ut.example:7777"))
                seen += notice->body != state.outcomeText()                               ? "?"
                        : notice->summary == "Kelvoran cannot watch ut.example:7777"      ? "!"
                        : notice->summary == "Kelvoran is watching ut.example:7777 again" ? "+"
                                                                                          : "?";
        }
        QCOMPARE(seen, notices);
    }
    void statusLines()
    {
        const QLocale uk(QLocale::English, QLocale::UnitedKingdom);
        WatchState state;
        QString lines = state.statusLine(uk) + '|';
        PollReport r = report("200:9", 14);
        r.watchedOnLine = {{"Frd_a"}, {"Foe_10.0.0.66"}, {"Frd_b"}, {"Xy"}};
        state.record(r, "ut");
        lines += state.statusLine(uk) + '|' + state.friendsOnLine().join(',') + '|' +
                 state.foesOnLine().join(',') + '|';
        state.record(report("401", 10), "ut");
        state.record(report("refused", 20), "ut");
        lines += state.statusLine(uk) + '|' + state.friendsOnLine().join(',');
        QCOMPARE(lines, u"|20:14: 9 players on line|a,b|10.0.0.66|Since 20:10: cannot reach the "
                        "server (connection refused)|"_qs);
        const platform::VisitRow bob{
            .came = r.when, .left = r.when.addSecs(38 * 60), .isFriend = true, .watchedAs = "Bob"};
        QCOMPARE(watch::lastVisitLine(bob, uk), u"Last visit: Bob (friend) 20:14 to 20:52"_qs);
    }
};

QTEST_GUILESS_MAIN(WatchStateTest)
#include "tst_watchstate.moc"
