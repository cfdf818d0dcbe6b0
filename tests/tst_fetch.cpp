#include "FakeGameServer.h"
#include "platform/HttpClient.h"
#include "platform/Windows1252.h"
#include "watch/AdminPageFetcher.h"
#include "watch/PlayerTableParser.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <optional>

using kelvoran::platform::CurlHttpClient;
using kelvoran::platform::fromWindows1252;
using kelvoran::platform::HttpClient;
using kelvoran::test::FakeGameServer;
using kelvoran::test::FakePlayer;
using kelvoran::watch::AdminPageFetcher;
using kelvoran::watch::PlayerTableParser;

namespace {

const QString kLocalhost = QStringLiteral("127.0.0.1");
constexpr qsizetype kPageCap = 4 * 1024 * 1024;

// The real client, with a record of what passed through it.
class RecordingClient final : public HttpClient
{
public:
    bool get(const QString &url, const QString &user, const QString &password,
             const ChunkSink &onChunk) override
    {
        ++calls;
        this->url = url;
        chunks = 0;
        largestChunk = 0;
        body.clear();
        result = real.get(url, user, password, [&](QByteArrayView chunk) {
            ++chunks;
            largestChunk = std::max(largestChunk, chunk.size());
            body.append(chunk);
            onChunk(chunk);
        });
        return result;
    }

    CurlHttpClient real;
    int calls = 0, chunks = 0;
    qsizetype largestChunk = 0;
    QString url;
    QByteArray body;
    bool result = false;
};

QString fetch(RecordingClient &client, const FakeGameServer &server, const QString &user = {},
              const QString &password = {})
{
    return AdminPageFetcher(client, user, password, kLocalhost, server.portText());
}

QByteArray headerValue(const QByteArray &request, const QByteArray &name)
{
    for (const QByteArray &rawLine : request.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QStringList namesOnPage(const QString &page)
{
    QStringList names;
    if (const auto table = PlayerTableParser(page)) {
        for (const auto &row : *table)
            names << row.name + QLatin1Char('/') + row.ip;
    }
    return names;
}

} // namespace

class TestAdminPageFetch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Only loopback traffic: no proxy from the environment may step in between.
        for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
        qputenv("no_proxy", "*");
    }

    void fetchesThePlayersPage_data()
    {
        QTest::addColumn<QList<FakePlayer>>("players");
        QTest::addColumn<QString>("serverLogin");  // "user:password" the server checks
        QTest::addColumn<QString>("login");        // "user:password" as typed in
        QTest::addColumn<QStringList>("expected"); // the rows found, or {"401"}
        const auto row = [](const char *tag, const QList<FakePlayer> &players,
                            const QString &serverLogin, const QString &login,
                            const QStringList &expected) {
            QTest::newRow(tag) << players << serverLogin << login << expected;
        };
        row("deathmatch", {{"Xor", "10.0.0.3"}, {"amy", "10.0.0.1"}}, "admin:secret",
            "admin:secret", {"amy/10.0.0.1", "Xor/10.0.0.3"});
        row("team game, bot and spectator",
            {{"Kira", "10.0.0.11", "Red"},
             {.name = "Loque", .team = "Blue", .bot = true},
             {.name = "Eye", .ip = "10.0.0.9", .spectator = true}},
            "admin:secret", "admin:secret", {"Eye(Spectator)/10.0.0.9", "Kira/10.0.0.11"});
        // The page comes as Windows-1252: é is 0xE9, Œ 0x8C and € 0x80.
        row("code page letters", {{"Zoé", "10.0.0.5"}, {"Œuvre€", "10.0.0.6"}}, "admin:secret",
            "admin:secret", {"Zoé/10.0.0.5", "Œuvre€/10.0.0.6"});
        QList<FakePlayer> crowd;
        QStringList crowdRows;
        for (int i = 0; i < 150; ++i) {
            const QString name = QStringLiteral("Crowd%1").arg(i, 3, 10, QLatin1Char('0'));
            const QString ip = QStringLiteral("10.1.%1.%2").arg(i / 100).arg(i % 100);
            crowd << FakePlayer{name, ip};
            crowdRows << name + "/" + ip;
        }
        row("150 players", crowd, "admin:secret", "admin:secret", crowdRows);

        const QList<FakePlayer> amy{{"Amy", "10.0.0.1"}};
        row("@ : / # in the password", amy, "webadmin:p@ss:w/rd#1", "webadmin:p@ss:w/rd#1",
            {"Amy/10.0.0.1"});
        row("@ in the user name", amy, "me@home:pw", "me@home:pw", {"Amy/10.0.0.1"});
        row("code page letters in the password", amy, "admin:pässwörd€", "admin:pässwörd€",
            {"Amy/10.0.0.1"});
        row("wrong password", amy, "admin:secret", "admin:secret2", {"401"});
        row("no login sent", amy, "admin:secret", "", {"401"});
        row("server checks nothing, all fields empty", amy, "", "", {"Amy/10.0.0.1"});
    }

    void fetchesThePlayersPage()
    {
        QFETCH(QList<FakePlayer>, players);
        QFETCH(QString, serverLogin);
        QFETCH(QString, login);
        QFETCH(QStringList, expected);
        const auto part = [](const QString &login, int i) {
            return login.section(':', i, i ? -1 : 0);
        };
        FakeGameServer server;
        server.setCredentials(part(serverLogin, 0), part(serverLogin, 1));
        server.setPlayers(players);
        RecordingClient client;

        const QString page = fetch(client, server, part(login, 0), part(login, 1));
        // The login goes in a header only, never into the URL where it could pick the host.
        QCOMPARE(client.url,
                 "http://127.0.0.1:" + server.portText() + "/ServerAdmin/current_players");
        const QByteArray request = server.lastRequest();
        QCOMPARE(request.left(request.indexOf("\r\n")),
                 QByteArray("GET /ServerAdmin/current_players HTTP/1.1"));
        QCOMPARE(headerValue(request, "User-Agent"), QByteArray("VB OpenUrl"));
        QCOMPARE(headerValue(request, "Cache-Control"), QByteArray("no-cache"));
        QCOMPARE(headerValue(request, "Pragma"), QByteArray("no-cache"));
        QCOMPARE(headerValue(request, "Host"), "127.0.0.1:" + server.portText().toLatin1());
        const QByteArray auth = headerValue(request, "Authorization");
        if (login.isEmpty()) {
            QVERIFY(auth.isEmpty());
        } else {
            QVERIFY(auth.startsWith("Basic "));
            QCOMPARE(fromWindows1252(QByteArray::fromBase64(auth.mid(6))), login);
        }

        if (expected == QStringList{"401"}) {
            QCOMPARE(page, "<TITLE>401 Unauthorized</TITLE><H1>401 Unauthorized</H1>");
        } else {
            QCOMPARE(client.body, FakeGameServer::playersPage(players));
            QCOMPARE(page.size(), client.body.size());
        }
        QCOMPARE(namesOnPage(page), expected == QStringList{"401"} ? QStringList() : expected);
        QVERIFY(client.largestChunk <= 2048);

        // Each call asks the server again.
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(fetch(client, server, part(login, 0), part(login, 1)), page);
        QCOMPARE(server.requestCount(), 2);
    }

    void nothingToOpen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port"); // "silent": a server that accepts and never answers
        quint16 closedPort = 0;
        {
            FakeGameServer gone;
            closedPort = gone.port();
        }
        QTest::newRow("nothing listening") << kLocalhost << QString::number(closedPort);
        QTest::newRow("port not a number") << kLocalhost << "80a";
        QTest::newRow("port out of range") << kLocalhost << "99999";
        QTest::newRow("empty address") << QString() << "80";
        QTest::newRow("all fields empty") << QString() << QString();
        QTest::newRow("blank in the address") << "127.0.0 .1" << QString("80");
        QTest::newRow("server never answers") << kLocalhost << "silent";
    }

    void nothingToOpen()
    {
        QFETCH(QString, address);
        QFETCH(QString, port);
        std::optional<FakeGameServer> silent;
        if (port == "silent") {
            silent.emplace();
            silent->setMode(FakeGameServer::Mode::NeverAnswer);
            port = silent->portText();
        }
        RecordingClient client;
        const QString user = address.isEmpty() ? QString() : QStringLiteral("admin");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(AdminPageFetcher(client, user, user, address, port), QString());
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(client.calls, 1);
        QCOMPARE(client.result, false);
        QCOMPARE(client.chunks, 0);
        if (silent) {
            // It was asked, and the whole transfer was given 20 s.
            QCOMPARE(silent->requestCount(), 1);
            QVERIFY2(elapsed >= 19000 && elapsed < 30000, qPrintable(QString::number(elapsed)));
        }
    }

    void pageCap_data()
    {
        QTest::addColumn<FakeGameServer::Mode>("mode");
        QTest::newRow("body of 10 MiB") << FakeGameServer::Mode::RawBody;
        QTest::newRow("body without end") << FakeGameServer::Mode::Endless;
    }

    void pageCap()
    {
        QFETCH(FakeGameServer::Mode, mode);
        // "\xE9\x80" stands for "é€" in Windows-1252.
        const QByteArray line = "<tr><td>line \xE9\x80</td></tr>\r\n";
        FakeGameServer server;
        server.setMode(mode);
        server.setRawBody(line.repeated(10 * 1024 * 1024 / line.size() + 1));
        RecordingClient client;
        const QString page = fetch(client, server);

        QCOMPARE(client.result, true);
        QCOMPARE(client.body.size(), kPageCap);
        QCOMPARE(page.size(), kPageCap);
        if (mode == FakeGameServer::Mode::RawBody)
            QVERIFY(page.startsWith(QStringLiteral("<tr><td>line é€</td></tr>\r\n<tr>")));
        // Plenty of data was waiting, so reads came in full chunks, but never larger ones.
        QCOMPARE(client.largestChunk, 2048);
    }

    void connectionCutMidPage()
    {
        QList<FakePlayer> players;
        for (int i = 0; i < 40; ++i)
            players << FakePlayer{QStringLiteral("P%1").arg(i, 2, 10, QLatin1Char('0')),
                                  QStringLiteral("10.0.0.%1").arg(i)};
        FakeGameServer server;
        server.setMode(FakeGameServer::Mode::CutMidPage);
        server.setPlayers(players);
        RecordingClient client;
        const QString page = fetch(client, server);

        // The text received so far comes back.
        const QByteArray full = FakeGameServer::playersPage(players);
        QCOMPARE(client.result, true);
        QCOMPARE(client.body, full.left(full.size() / 2));
        QCOMPARE(page, QString::fromLatin1(client.body));
    }
};

QTEST_GUILESS_MAIN(TestAdminPageFetch)
#include "tst_fetch.moc"
