#include "FakeGameServer.h"
#include "platform/HttpClient.h"
#include "platform/Windows1252.h"
#include "watch/AdminPageFetcher.h"
#include "watch/PlayerTableParser.h"

#include <QElapsedTimer>
#include <QTest>

#include <memory>

using kelvoran::platform::CurlHttpClient;
using kelvoran::platform::fromWindows1252;
using kelvoran::platform::HttpClient;
using kelvoran::test::FakeGameServer;
using kelvoran::test::FakePlayer;
using kelvoran::watch::AdminPageFetcher;
using kelvoran::watch::PlayerTableParser;

namespace {

const QString kUnauthorizedPage =
    QStringLiteral("<TITLE>401 Unauthorized</TITLE><H1>401 Unauthorized</H1>");
const QString kLocalhost = QStringLiteral("127.0.0.1");

// The real client, with a record of what passed through it.
class RecordingClient final : public HttpClient
{
public:
    bool get(const QString &url, const QString &user, const QString &password,
             const ChunkSink &onChunk) override
    {
        ++calls;
        this->url = url;
        this->user = user;
        this->password = password;
        chunkSizes.clear();
        body.clear();
        result = real.get(url, user, password, [&](QByteArrayView chunk) {
            chunkSizes.append(chunk.size());
            body.append(chunk);
            onChunk(chunk);
        });
        return result;
    }

    qsizetype largestChunk() const
    {
        qsizetype largest = 0;
        for (const qsizetype size : chunkSizes)
            largest = std::max(largest, size);
        return largest;
    }

    CurlHttpClient real;
    int calls = 0;
    QString url;
    QString user;
    QString password;
    QList<qsizetype> chunkSizes;
    QByteArray body;
    bool result = false;
};

FakePlayer player(const QString &name, const QString &ip, const QString &team = QString())
{
    FakePlayer p;
    p.name = name;
    p.ip = ip;
    p.team = team;
    return p;
}

QByteArray headerValue(const QByteArray &request, const QByteArray &name)
{
    const QList<QByteArray> lines = request.split('\n');
    for (const QByteArray &rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QByteArray requestLine(const QByteArray &request)
{
    return request.left(request.indexOf("\r\n"));
}

// The login the server saw, decoded from the Authorization header ("" when none was sent).
QString presentedLogin(const QByteArray &request)
{
    const QByteArray value = headerValue(request, "Authorization");
    if (!value.startsWith("Basic "))
        return QString();
    return fromWindows1252(QByteArray::fromBase64(value.mid(6)));
}

QStringList namesOnPage(const QString &page)
{
    QStringList names;
    const auto table = PlayerTableParser(page);
    if (table) {
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
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("deathmatch")
            << QList<FakePlayer>{player("Xor", "10.0.0.3"), player("amy", "10.0.0.1")}
            << QStringList{"amy/10.0.0.1", "Xor/10.0.0.3"};
        FakePlayer bot = player("Loque", QString(), "Blue");
        bot.bot = true;
        FakePlayer spectator = player("Eye", "10.0.0.9");
        spectator.spectator = true;
        FakePlayer behind = player("Kira", "10.0.0.11", "Red");
        behind.score = -4;
        QTest::newRow("team game, bot and spectator")
            << QList<FakePlayer>{behind, bot, spectator}
            << QStringList{"Eye(Spectator)/10.0.0.9", "Kira/10.0.0.11"};
        QTest::newRow("code page letters")
            << QList<FakePlayer>{player(QStringLiteral("Zoé"), "10.0.0.5"),
                                 player(QStringLiteral("Œuvre€"), "10.0.0.6")}
            << QStringList{QStringLiteral("Zoé/10.0.0.5"), QStringLiteral("Œuvre€/10.0.0.6")};
        QList<FakePlayer> crowd;
        QStringList crowdRows;
        for (int i = 0; i < 150; ++i) {
            const QString name = QStringLiteral("Crowd%1").arg(i, 3, 10, QLatin1Char('0'));
            const QString ip = QStringLiteral("10.1.%1.%2").arg(i / 100).arg(i % 100);
            crowd << player(name, ip);
            crowdRows << name + "/" + ip;
        }
        QTest::newRow("150 players") << crowd << crowdRows;
    }

    void fetchesThePlayersPage()
    {
        QFETCH(QList<FakePlayer>, players);
        QFETCH(QStringList, expected);

        FakeGameServer server;
        server.setCredentials("admin", "secret");
        server.setPlayers(players);
        RecordingClient client;

        const QString page =
            AdminPageFetcher(client, "admin", "secret", kLocalhost, server.portText());

        QCOMPARE(client.url,
                 "http://127.0.0.1:" + server.portText() + "/ServerAdmin/current_players");
        QCOMPARE(client.body, FakeGameServer::playersPage(players));
        QCOMPARE(page.size(), client.body.size());
        QCOMPARE(namesOnPage(page), expected);
        QVERIFY(client.largestChunk() <= CurlHttpClient::kChunkSize);
        QCOMPARE(server.requestCount(), 1);

        // Each call asks the server again.
        QCOMPARE(AdminPageFetcher(client, "admin", "secret", kLocalhost, server.portText()), page);
        QCOMPARE(server.requestCount(), 2);
    }

    void requestAsSent()
    {
        FakeGameServer server;
        server.setCredentials("webadmin", "p@ss:w/rd#1");
        RecordingClient client;
        AdminPageFetcher(client, "webadmin", "p@ss:w/rd#1", kLocalhost, server.portText());

        const QByteArray request = server.lastRequest();
        QCOMPARE(requestLine(request), QByteArray("GET /ServerAdmin/current_players HTTP/1.1"));
        QCOMPARE(headerValue(request, "User-Agent"), QByteArray("VB OpenUrl"));
        QCOMPARE(headerValue(request, "Cache-Control"), QByteArray("no-cache"));
        QCOMPARE(headerValue(request, "Pragma"), QByteArray("no-cache"));
        QCOMPARE(headerValue(request, "Host"), "127.0.0.1:" + server.portText().toLatin1());
        QCOMPARE(presentedLogin(request), QStringLiteral("webadmin:p@ss:w/rd#1"));
        QVERIFY(!client.url.contains("p@ss"));
        QVERIFY(!client.url.contains("webadmin"));
        QVERIFY(!requestLine(request).contains("webadmin"));
    }

    void credentials_data()
    {
        QTest::addColumn<QString>("serverUser");
        QTest::addColumn<QString>("serverPassword");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("same") << "admin"
                              << "secret"
                              << "admin"
                              << "secret" << true;
        QTest::newRow("@ : / # in the password") << "admin"
                                                 << "a@b:c/d#e"
                                                 << "admin"
                                                 << "a@b:c/d#e" << true;
        QTest::newRow("@ in the user name") << "me@home"
                                            << "pw"
                                            << "me@home"
                                            << "pw" << true;
        QTest::newRow("case does not count") << "WebAdmin"
                                             << "SeCrEt"
                                             << "webADMIN"
                                             << "sEcReT" << true;
        QTest::newRow("code page letters, other case")
            << "admin" << QStringLiteral("pässwörd") << "admin" << QStringLiteral("PÄSSWÖRD")
            << true;
        QTest::newRow("wrong password") << "admin"
                                        << "secret"
                                        << "admin"
                                        << "secret2" << false;
        QTest::newRow("wrong user") << "admin"
                                    << "secret"
                                    << "root"
                                    << "secret" << false;
        QTest::newRow("no login sent") << "admin"
                                       << "secret"
                                       << ""
                                       << "" << false;
        QTest::newRow("server checks no user") << ""
                                               << "secret"
                                               << "anybody"
                                               << "secret" << true;
        QTest::newRow("server checks no password") << "admin"
                                                   << ""
                                                   << "admin"
                                                   << "whatever" << true;
        QTest::newRow("server checks nothing, no login sent") << ""
                                                              << ""
                                                              << ""
                                                              << "" << true;
    }

    void credentials()
    {
        QFETCH(QString, serverUser);
        QFETCH(QString, serverPassword);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, accepted);

        FakeGameServer server;
        server.setCredentials(serverUser, serverPassword);
        server.setPlayers({player("Amy", "10.0.0.1")});
        RecordingClient client;

        const QString page =
            AdminPageFetcher(client, user, password, kLocalhost, server.portText());

        QCOMPARE(server.requestCount(), 1);
        const QString login = presentedLogin(server.lastRequest());
        if (user.isEmpty() && password.isEmpty())
            QVERIFY(headerValue(server.lastRequest(), "Authorization").isEmpty());
        else
            QCOMPARE(login, user + ":" + password);
        if (accepted) {
            QCOMPARE(namesOnPage(page), QStringList{"Amy/10.0.0.1"});
        } else {
            QCOMPARE(page, kUnauthorizedPage);
            QVERIFY(!PlayerTableParser(page).has_value());
        }
    }

    void nothingToOpen_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");

        quint16 closedPort = 0;
        {
            FakeGameServer gone;
            closedPort = gone.port();
        }
        QTest::newRow("nothing listening") << kLocalhost << QString::number(closedPort);
        QTest::newRow("port not a number") << kLocalhost << "80a";
        QTest::newRow("port out of range") << kLocalhost << "99999";
        QTest::newRow("empty address") << ""
                                       << "80";
        QTest::newRow("all fields empty") << ""
                                          << "";
        QTest::newRow("blank in the address") << "127.0.0 .1"
                                              << "80";
    }

    void nothingToOpen()
    {
        QFETCH(QString, address);
        QFETCH(QString, port);
        RecordingClient client;
        const QString user = address.isEmpty() ? QString() : QStringLiteral("admin");
        const QString page = AdminPageFetcher(client, user, user, address, port);
        QCOMPARE(page, QString());
        QCOMPARE(client.calls, 1);
        QCOMPARE(client.result, false);
        QVERIFY(client.chunkSizes.isEmpty());
    }

    void serverThatNeverAnswers()
    {
        FakeGameServer server;
        server.setMode(FakeGameServer::Mode::NeverAnswer);
        RecordingClient client;
        QElapsedTimer clock;
        clock.start();
        const QString page = AdminPageFetcher(client, "admin", "pw", kLocalhost, server.portText());
        const qint64 elapsed = clock.elapsed();

        QCOMPARE(page, QString());
        QCOMPARE(client.result, false);
        QCOMPARE(server.requestCount(), 1);
        QVERIFY2(elapsed >= CurlHttpClient::kTransferTimeoutMs - 1000,
                 qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed < 30000, qPrintable(QString::number(elapsed)));
    }

    void pageCap_data()
    {
        QTest::addColumn<FakeGameServer::Mode>("mode");
        QTest::newRow("body of 5 MiB") << FakeGameServer::Mode::RawBody;
        QTest::newRow("body without end") << FakeGameServer::Mode::Endless;
    }

    void pageCap()
    {
        QFETCH(FakeGameServer::Mode, mode);
        QByteArray body;
        for (int i = 0; body.size() < 5 * 1024 * 1024; ++i)
            body += "<tr><td>line " + QByteArray::number(i) + " \xE9\x80</td></tr>\r\n";

        FakeGameServer server;
        server.setMode(mode);
        server.setRawBody(body);
        RecordingClient client;
        const QString page = AdminPageFetcher(client, "", "", kLocalhost, server.portText());

        QCOMPARE(client.result, true);
        QCOMPARE(client.body.size(), CurlHttpClient::kPageCap);
        QCOMPARE(page.size(), CurlHttpClient::kPageCap);
        if (mode == FakeGameServer::Mode::RawBody)
            QCOMPARE(page, fromWindows1252(body.left(CurlHttpClient::kPageCap)));
        // Plenty of data was waiting, so reads came in full chunks, but never larger ones.
        QCOMPARE(client.largestChunk(), qsizetype(CurlHttpClient::kChunkSize));
    }

    void connectionCutMidPage()
    {
        QList<FakePlayer> players;
        for (int i = 0; i < 40; ++i)
            players << player(QStringLiteral("P%1").arg(i, 2, 10, QLatin1Char('0')),
                              QStringLiteral("10.0.0.%1").arg(i));
        FakeGameServer server;
        server.setMode(FakeGameServer::Mode::CutMidPage);
        server.setPlayers(players);
        RecordingClient client;
        const QString page = AdminPageFetcher(client, "", "", kLocalhost, server.portText());

        const QByteArray full = FakeGameServer::playersPage(players);
        QCOMPARE(client.result, true);
        QCOMPARE(client.body, full.left(full.size() / 2));
        QCOMPARE(page, fromWindows1252(full.left(full.size() / 2)));
    }

    void errorPageReturnedAsText()
    {
        FakeGameServer server;
        server.setMode(FakeGameServer::Mode::RawBody);
        server.setRawBody("<html>Caf\xE9 closed</html>");
        RecordingClient client;
        const QString page = AdminPageFetcher(client, "", "", kLocalhost, server.portText());
        QCOMPARE(page, QStringLiteral("<html>Café closed</html>"));
        QVERIFY(!PlayerTableParser(page).has_value());
    }
};

QTEST_GUILESS_MAIN(TestAdminPageFetch)
#include "tst_fetch.moc"
