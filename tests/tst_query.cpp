// The game's status query: answers put together from datagrams in any order, and real exchanges
// with a double of the game's query port.
#include "FakeQueryServer.h"
#include "watch/GameSpyQuery.h"
#include <QDeadlineTimer>
#include <QTest>
#include <future>
using namespace kelvoran;
using Server = test::FakeQueryServer;
using Status = watch::QueryResult::Status;
using Datagrams = QList<QByteArray>;
const Datagrams kPlayers = Server::answer(7, "\\players\\", Server::kPlayers),
                kInfo = Server::answer(8, "\\info\\", Server::kPlayers);
const QString kAt = " @ Amy's Arena, CTF-Face", kAll = "Amy|[DS]Bob|Zoé_€" + kAt;
// What the answers come to: the names when whole, and the info answer's server.
const auto seen = [](const QString &players, const QString &host, const QString &map) {
    return players + (host.isEmpty() ? "" : " @ " + host + ", " + map);
};
class TestQuery : public QObject
{
    Q_OBJECT
private slots:
    void reassembly_data()
    {
        QTest::addColumn<Datagrams>("datagrams");
        QTest::addColumn<QString>("seen");
        const auto row = [](const char *tag, const Datagrams &d, const QString &seen) {
            QTest::newRow(tag) << d << seen;
        };
        const QString partial = "(incomplete)" + kAt;
        const QByteArray big = "\\player_0\\" + QByteArray(600000, 'x'), n = QByteArray(300, 'n');
        row("in order", kPlayers + kInfo, kAll);
        row("reversed, some twice",
            {kInfo[0], kPlayers[2], kPlayers[1], kPlayers[2], kPlayers[0], kPlayers[1]}, kAll);
        row("packet 1 lost", {kPlayers[1], kPlayers[2], kInfo[0]}, partial);
        row("nobody on line", Server::answer(7, "\\players\\", {}) + kInfo, kAt);
        row("garbage",
            {"", "\\", "xqueryid\\1.0", "\\queryid\\1", "\\queryid\\.1", "\\queryid\\1.x",
             "\\final\\\\queryid\\1.257", "\\final\\\\queryid\\1000000.1",
             QByteArray("\\final\\\\queryid\\1.0\0", 20)},
            "(nothing)");
        row("unknown keys, a gap in player numbers, a trailing final",
            {kInfo[0], "\\player_2\\Cy\\xyz\\1\\\\\\player_0\\Al\\queryid\\5.1\\final\\"},
            "Al|Cy" + kAt);
        row("player number and name past their caps",
            {kInfo[0], "\\player_256\\X\\player_1\\" + n + "\\final\\\\queryid\\5.1"},
            n.left(256) + kAt);
        const Datagrams x255 = Server::answer(1, "\\players\\", Datagrams(255, "x"));
        row("256 datagrams, repeats not counted", x255 + x255 + kInfo,
            QStringList(255, "x").join('|') + kAt);
        row("257: the info answer left out", x255 + kPlayers.first(1) + kInfo, "(incomplete)");
        row("1 MiB in all", {big + "\\queryid\\5.1", big + "\\final\\\\queryid\\5.2", kInfo[0]},
            partial);
    }
    void reassembly()
    {
        QFETCH(Datagrams, datagrams);
        watch::QueryAnswer answer;
        for (const QByteArray &d : datagrams)
            answer.add(d);
        const QString players = answer.whole(2)    ? answer.players().join('|')
                                : answer.anyCame() ? "(incomplete)"
                                                   : "(nothing)";
        QTEST(seen(players, answer.hostname(), answer.mapName()), "seen");
    }
    void exchange_data()
    {
        QTest::addColumn<Server::Switches>("switches");
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("seen");
        const QString none = "no answer within 1000 ms";
        const auto row = [](const char *tag, const Server::Switches &s, Status status,
                            const QString &seen) { QTest::newRow(tag) << s << status << seen; };
        row("whole answer", {}, Status::Whole, kAll);
        row("silent", {.silent = true}, Status::NoAnswer, none);
        row("packet 2 lost", {.drop = 2}, Status::Incomplete,
            "the answer was incomplete after 1000 ms" + kAt);
        row("reversed, each twice", {.reverse = true, .duplicate = true}, Status::Whole, kAll);
        row("impostors from another port", {.stray = true}, Status::Whole, kAll);
        const auto big = "\\player_1\\[DS]Bob\\x\\" + QByteArray(65473, 'x') + "\\queryid\\100.2";
        row("packet 2 only padded to 65507 bytes",
            {.drop = 2, .garbage = {"\\", "\\queryid\\", big}}, Status::Whole, kAll);
    }
    void exchange()
    {
        QFETCH(Server::Switches, switches);
        Server server(switches);
        platform::SocketUdpClient udp;
        const QDeadlineTimer limit(1000), soon(3000);
        const auto r = watch::queryPublicServer(udp, "localhost", server.port(), 1000);
        QVERIFY(!soon.hasExpired()); // the time limit, not extended by what comes
        QVERIFY(r.status != Status::Whole || !limit.hasExpired()); // whole: it ends there
        QTEST(r.status, "status");
        const QString players = r.status == Status::Whole ? r.players.join('|') : r.detail;
        QTEST(seen(players, r.hostname, r.mapName), "seen");
    }
    void abortEndsARunningExchangeAtOnce()
    {
        Server server({.silent = true});
        platform::SocketUdpClient udp;
        std::future<Status> running = std::async(std::launch::async, [&] {
            return watch::queryPublicServer(udp, "127.0.0.1", server.port(), 60000).status;
        });
        QTRY_COMPARE(server.queries(), 2);
        const QDeadlineTimer soon(1000);
        udp.abort();
        QCOMPARE(running.get(), Status::Aborted);
        QVERIFY(!soon.hasExpired());
        // And every later one, before it sends anything (a closed port would refuse it).
        const quint16 closed = Server().port();
        QCOMPARE(watch::queryPublicServer(udp, "127.0.0.1", closed, 9).status, Status::Aborted);
    }
    void failures()
    {
        const quint16 closed = Server().port(); // nothing listens there any more: an ICMP error
        platform::SocketUdpClient udp;
        const auto status = [&udp](const QString &host, quint16 port) {
            return watch::queryPublicServer(udp, host, port, 300).status;
        };
        // A label over 63 bytes: the resolver refuses it without asking any name server.
        for (const QString &host : {QString(64, 'x') + ".invalid", QString(" "), QString("[]"),
                                    QString("127.0.0.1") + QChar(0) + "x"})
            QCOMPARE(status(host, 7778), Status::HostNotFound);
        QCOMPARE(status("127.0.0.1", closed), Status::Failed);
        QCOMPARE(status("127.0.0.1", 0), Status::Failed);
    }
    void queryPort()
    {
        const QList<std::array<QString, 3>> cases{
            {"7777", "", "7778"},   {"7777", " 7790 ", "7790"},
            {"7777", "0", "7778"},  {"7777", "65536", "7778"},
            {"65534", "", "65535"}, {"65535", "", ""},
            {"x", "", ""},          {"", "123", "123"}};
        for (const auto &[game, field, port] : cases)
            QCOMPARE(watch::queryPortFor(game, field), port);
    }
};
QTEST_GUILESS_MAIN(TestQuery)
#include "tst_query.moc"
