// The state of watching that the tray shows: each outcome of a poll in words, and lines of the
// tooltip. (The notices that watching fails or works again come in the watchers' sequences.)
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
    void lines()
    {
        const QDateTime at(QDate(2026, 12, 7), QTime(20, 14));
        QCOMPARE(watch::someOf({"a", "b", "c", "d", "e", "f", "g"}),
                 u"a, b, c, d, e and 2 more"_qs);
        QCOMPARE(
            watch::lastVisitLine(
                {.came = at, .left = at.addSecs(38 * 60), .isFriend = true, .watchedAs = "Bob"},
                QLocale(QLocale::English, QLocale::UnitedKingdom)),
            u"Last visit: Bob (friend) 20:14 to 20:52"_qs);
    }
};

QTEST_GUILESS_MAIN(WatchStateTest)
#include "tst_watchstate.moc"
