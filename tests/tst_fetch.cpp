// The page download over real sockets, from a server that behaves like the game server.
#include "FakeGameServer.h"
#include "platform/Windows1252.h"
#include "watch/AdminPageFetcher.h"
#include <QDeadlineTimer>
#include <QTest>
#include <thread>
using namespace kelvoran;
using Mode = test::FakeGameServer::Mode;
const QString kPassword = "p@ss:w/rd#€"; // would move or cut the URL if it went into it
const QList<test::FakePlayer> kPlayers{{"Zoé_€", "10.0.0.5"}, {"Amy", "10.0.0.1"}};
const QByteArray kPage = test::FakeGameServer::playersPage(kPlayers);
const QByteArray kRefused = "<TITLE>401 Unauthorized</TITLE><H1>401 Unauthorized</H1>";
const QByteArray kBlock = (QByteArray(31, '.') + '\x80').repeated(2048); // 64 KiB

class TestFetch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("no_proxy", "*"); }
    void fetch_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QByteArray>("page"); // as the server sent it
        QTest::addColumn<QString>("warning"); // what the log says of it
        QTest::newRow("players page") << Mode::Normal << kPassword << kPage << "";
        QTest::newRow("wrong password: 401 page") << Mode::Normal << "p@ss" << kRefused << "";
        QTest::newRow("cut page") << Mode::CutMidPage << kPassword << kPage.first(kPage.size() / 2)
                                  << "broke off after \\d+ bytes";
        QTest::newRow("past the 4 MiB cap")
            << Mode::Endless << kPassword << kBlock.repeated(64) << "size limit";
        QTest::newRow("never answers")
            << Mode::NeverAnswer << kPassword << QByteArray() << "failed";
    }
    void fetch()
    {
        QFETCH(Mode, mode);
        QFETCH(QString, password);
        test::FakeGameServer server;
        server.setCredentials("admin", kPassword);
        server.setPlayers(kPlayers);
        server.setMode(mode);
        server.setRawBody(kBlock);
        platform::CurlHttpClient client({300, mode == Mode::NeverAnswer ? 1000 : 10000});
        const QDeadlineTimer soon(5000); // stuck without a time-out or cap: 10 s or more
        QFETCH(QString, warning);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        const QString page =
            watch::AdminPageFetcher(client, "admin", password, "127.0.0.1", server.portText());
        QVERIFY(!soon.hasExpired());
        QTEST(platform::toWindows1252(page), "page"); // every byte decoded and encoded back
        for (const char *line :
             {"GET /ServerAdmin/current_players HTTP/1.1\r\nHost: 127.0.0.1:",
              "User-Agent: VB OpenUrl\r\n", "Cache-Control: no-cache\r\nPragma: no-cache"})
            QVERIFY2(server.lastRequest().contains(line), server.lastRequest().constData());
    }
    void emptyUserNameStillSendsThePassword() // the server then checks the password only
    {
        test::FakeGameServer server;
        server.setCredentials("", kPassword);
        server.setPlayers(kPlayers);
        platform::CurlHttpClient http({300, 10000});
        QCOMPARE(watch::AdminPageFetcher(http, "", kPassword, "127.0.0.1", server.portText()),
                 platform::fromWindows1252(kPage));
    }
    void abortEndsASilentTransferAtOnce()
    {
        test::FakeGameServer server;
        server.setMode(Mode::NeverAnswer);
        platform::CurlHttpClient client({2000, 4000});
        const auto fetch = [&] {
            return watch::AdminPageFetcher(client, {}, {}, "127.0.0.1", server.portText());
        };
        std::thread transfer(fetch);
        QTRY_COMPARE(server.requestCount(), 1);
        QTest::qWait(300); // past libcurl's early timers, into a long wait
        const QDeadlineTimer soon(500);
        client.abort();
        transfer.join();
        QVERIFY(!soon.hasExpired());
        QCOMPARE(fetch(), QString()); // and every later transfer ends before it asks
        QCOMPARE(server.requestCount(), 1);
    }
};
QTEST_GUILESS_MAIN(TestFetch)
#include "tst_fetch.moc"
