// The page download over real sockets, from a server that behaves like the game server.
#include "FakeGameServer.h"
#include "platform/Windows1252.h"
#include "watch/AdminPageFetcher.h"
#include <QDeadlineTimer>
#include <QTest>
#include <thread>
using namespace kelvoran;
using Mode = test::FakeGameServer::Mode;
using Failure = platform::FetchResult::Failure;
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
        QTest::addColumn<QString>("url");     // "": the server's page
        QTest::addColumn<QByteArray>("page"); // as the server sent it
        QTest::addColumn<QString>("warning"); // what the log says of it
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<long>("status");
        QTest::addColumn<QString>("password");
        const auto row = [](const char *tag, Mode mode, const QString &url, const QByteArray &page,
                            const char *warning, Failure failure, long status,
                            const QString &password = kPassword) {
            QTest::newRow(tag) << mode << url << page << QString(warning) << failure << status
                               << password;
        };
        row("players page", Mode::Normal, "", kPage, "", Failure::None, 200);
        row("wrong password: 401 page", Mode::Normal, "", kRefused, "", Failure::None, 401, "p@ss");
        row("cut page", Mode::CutMidPage, "", kPage.first(kPage.size() / 2),
            "broke off after \\d+ bytes", Failure::BrokeOff, 200);
        row("past the 4 MiB cap", Mode::Endless, "", kBlock.repeated(64), "size limit",
            Failure::None, 200);
        row("never answers", Mode::NeverAnswer, "", {}, "failed", Failure::TimedOut, 0);
        row("nothing listens", Mode::Refusing, "", {}, "failed", Failure::Refused, 0);
        // A label over 63 bytes: the resolver refuses it without asking any name server.
        row("unknown host", Mode::Normal, "http://" + QString(64, 'x') + ".invalid/", {}, "failed",
            Failure::HostNotFound, 0);
        row("not HTTP", Mode::Normal, "file://" KELVORAN_SOURCE_DIR "/tests/tst_fetch.cpp", {},
            "failed", Failure::Other, 0);
    }
    void fetch()
    {
        QFETCH(Mode, mode);
        QFETCH(QString, url);
        QFETCH(QString, warning);
        QFETCH(long, status);
        QFETCH(QString, password);
        test::FakeGameServer server;
        server.setCredentials("admin", kPassword);
        server.setPlayers(kPlayers);
        server.setMode(mode);
        server.setRawBody(kBlock);
        platform::CurlHttpClient client({300, mode == Mode::NeverAnswer ? 1000 : 10000});
        const QDeadlineTimer soon(5000); // stuck without a time-out or cap: 10 s or more
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QByteArray page;
        const platform::FetchResult result =
            client.get(url.isEmpty() ? server.url() : url, "admin", password,
                       [&page](QByteArrayView chunk) { page += chunk; });
        QVERIFY(!soon.hasExpired());
        QTEST(page, "page");
        QTEST(result.failure, "failure");
        QCOMPARE(result.httpStatus, status);
        QCOMPARE(result.opened, status != 0);
    }
    // The page fetcher's request and decoding; with an empty user name the password still goes.
    void pageFetcherAsksWithTheLogin()
    {
        test::FakeGameServer server;
        server.setCredentials("", kPassword);
        server.setPlayers(kPlayers);
        platform::CurlHttpClient http({300, 10000});
        QCOMPARE(watch::AdminPageFetcher(http, "", kPassword, "127.0.0.1", server.portText()),
                 platform::fromWindows1252(kPage));
        for (const char *line :
             {"GET /ServerAdmin/current_players HTTP/1.1\r\nHost: 127.0.0.1:",
              "User-Agent: VB OpenUrl\r\n", "Cache-Control: no-cache\r\nPragma: no-cache"})
            QVERIFY2(server.lastRequest().contains(line), server.lastRequest().constData());
    }
    void abortEndsASilentTransferAtOnce()
    {
        test::FakeGameServer server;
        server.setMode(Mode::NeverAnswer);
        platform::CurlHttpClient client({2000, 4000});
        const auto fetch = [&] { return client.get(server.url(), {}, {}, [](QByteArrayView) {}); };
        std::thread transfer(fetch);
        QTRY_COMPARE(server.requestCount(), 1);
        QTest::qWait(300); // past libcurl's early timers, into a long wait
        const QDeadlineTimer soon(500);
        client.abort();
        transfer.join();
        QVERIFY(!soon.hasExpired());
        QCOMPARE(fetch().failure, Failure::Aborted); // and every later transfer, before it asks
        QCOMPARE(server.requestCount(), 1);
    }
};
QTEST_GUILESS_MAIN(TestFetch)
#include "tst_fetch.moc"
