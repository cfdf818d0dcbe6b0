#include "FakeGameServer.h"
#include "platform/Windows1252.h"
#include "watch/PlayerTableParser.h"

#include <QTest>

using kelvoran::test::FakeGameServer;
using kelvoran::test::FakePlayer;
using kelvoran::watch::PlayerRow;
using kelvoran::watch::PlayerTable;
using kelvoran::watch::PlayerTableParser;

namespace {

const QString kNameMarker = QStringLiteral(R"(value="ban"></div></td><td><div align="left">)");

QString centreCell(const QString &text)
{
    return QStringLiteral(R"(<td width="1%"><div align="center">)") + text +
           QStringLiteral("</div></td>");
}

// A player row in the server's layout: kick and ban cells, the name cell, then team, ping, score
// and IP address in centred cells.
QString playerRow(const QString &name, const QString &ip, int id = 1)
{
    return QStringLiteral(R"(<tr><td width="1%"><div align="center"><input type="checkbox" )"
                          R"(name="KickPlayer%1" value="kick"></div></td>)"
                          R"(<td width="1%"><div align="center"><input type="checkbox" )"
                          R"(name="BanPlayer%1" )")
               .arg(id) +
           kNameMarker + name + QStringLiteral("</div></td>") +
           centreCell(QStringLiteral("&nbsp;")) + centreCell(QStringLiteral("35")) +
           centreCell(QStringLiteral("12")) + centreCell(ip) + QStringLiteral("</tr>");
}

QString tablePage(const QString &rows)
{
    return QStringLiteral("<html><head><title>Players</title></head><body>\r\n"
                          "<table border=\"1\">\r\n<tr>\r\n<td width=\"1%\">Kick</td>\r\n"
                          "<td>Name</td>\r\n</tr>\r\n") +
           rows + QStringLiteral("\r\n</table>\r\n</body></html>\r\n");
}

QString realPage(const QList<FakePlayer> &players)
{
    return kelvoran::platform::fromWindows1252(FakeGameServer::playersPage(players));
}

// Each row as "name/ip", or "no table" when the parser found none.
QStringList rowsOf(const PlayerTable &table)
{
    if (!table)
        return {QStringLiteral("no table")};
    QStringList rows;
    for (const PlayerRow &row : *table)
        rows << row.name + QLatin1Char('/') + row.ip;
    return rows;
}

} // namespace
class TestPlayerTableParser : public QObject
{
    Q_OBJECT

private slots:
    void workedExample()
    {
        // One row of exactly 287 characters: the name cell, then four centred cells.
        QString section = QStringLiteral(R"(<tr><td width="1%"><input type="checkbox" name="X" )");
        section = section.leftJustified(60, QLatin1Char(' ')) + kNameMarker +
                  QStringLiteral("Big&nbsp;Bob</div>");
        for (const char *text : {"c1", "c2", "c3", "10.0.0.7"})
            section += QStringLiteral(R"(</td><td><div align="center">)") + QLatin1String(text) +
                       QStringLiteral("</div>");
        section += QStringLiteral("</td></tr>");
        QCOMPARE(section.size(), 287);

        const QString page =
            QStringLiteral("<html><body><table>\r\n<tr>\r\n<td>Name</td>\r\n</tr>\r\n") + section +
            QStringLiteral("</table></body></html>");
        QCOMPARE(rowsOf(PlayerTableParser(page)), QStringList{"BigBob/10.0.0.7"});
    }

    void scrape_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("rows");
        const auto row = [](const char *name, const QString &page, const QStringList &rows) {
            QTest::newRow(name) << page << rows;
        };
        const QStringList none{"no table"};
        const QString alice = playerRow("Alice", "10.0.0.1", 1);
        const QString bob = playerRow("Bob", "10.0.0.2", 2);
        const QStringList both{"Alice/10.0.0.1", "Bob/10.0.0.2"};

        row("empty page", QString(), none);
        row("no row start", "<html><table><tr>\n<td>Name</td></tr></table></html>", none);
        row("row start in capitals", tablePage(alice).replace("<tr><td", "<TR><TD"), none);
        row("name marker in capitals", tablePage(alice).replace(kNameMarker, kNameMarker.toUpper()),
            {});
        row("table without name marker", "<table><tr><td>Name</td><td>IP</td></tr></table>", {});
        row("name marker after the table end",
            "<table><tr><td>Name</td></tr></table>\r\n<table>" + alice + "</table>", {});
        row("page order kept",
            tablePage(playerRow("Zed", "1.1.1.1") + playerRow("alpha", "2.2.2.2") +
                      playerRow("Mid", "3.3.3.3")),
            {"Zed/1.1.1.1", "alpha/2.2.2.2", "Mid/3.3.3.3"});
        row("every &nbsp; deleted",
            tablePage(playerRow("&nbsp;Big&nbsp;&nbsp;Bob&nbsp;", "1.2.3.4")), {"BigBob/1.2.3.4"});
        row("other entities stay undecoded",
            tablePage(playerRow("Tom&amp;Jerry&lt;3&#233;&nbspX&NBSP;", "1.2.3.4")),
            {"Tom&amp;Jerry&lt;3&#233;&nbspX&NBSP;/1.2.3.4"});
        row("deletion is one pass", tablePage(playerRow("&&nbsp;nbsp;", "1.2.3.4")),
            {"&nbsp;/1.2.3.4"});
        row("markup in the name cell stays", tablePage(playerRow("<b>Bob</b>", "1.2.3.4")),
            {"<b>Bob</b>/1.2.3.4"});
        row("IP cell taken unchanged", tablePage(playerRow("Ann", " 10.0.0.3:7778 &nbsp;")),
            {"Ann/ 10.0.0.3:7778 &nbsp;"});
        row("empty IP cell", tablePage(playerRow("Ann", "")), {"Ann/"});
        row("name holding a cell end", tablePage(playerRow("a</div>b", "1.2.3.4")), {"a/1.2.3.4"});
        row("name holding a centre marker", tablePage(playerRow(R"(align="center">x)", "1.2.3.4")),
            {R"(align="center">x/1.2.3.4)"});
        row("extra centred cell in a row",
            tablePage(QString(alice).replace("</tr>", centreCell("extra") + "</tr>") + bob), both);
        row("name marker inside a name cell",
            tablePage(playerRow("A" + kNameMarker + "B", "9.9.9.9")),
            {R"(Avalue="ban">/9.9.9.9)", "B/9.9.9.9"});

        // Malformed tables end the scrape with the rows found so far.
        row("row start without table end", "<html><body><table>" + alice + bob, both);
        row("name marker without cell end",
            tablePage(alice + "<tr><td>" + kNameMarker + "Trunc<td align=\"center\">1.2.3.4"),
            {"Alice/10.0.0.1"});
        row("fewer than four centred cells",
            tablePage(alice + QString(bob).replace(centreCell("10.0.0.2"), QString())),
            {"Alice/10.0.0.1"});
        row("IP cell without cell end",
            tablePage(alice + QString(bob).replace("10.0.0.2</div>", "10.0.0.2")),
            {"Alice/10.0.0.1"});

        // Pages as the server writes them (sorted by name; bots have no IP cell).
        row("real page, deathmatch",
            realPage({{"zork", "192.168.1.20"}, {"Alpha", "10.1.1.1"}, {"beta", "172.16.0.5"}}),
            {"Alpha/10.1.1.1", "beta/172.16.0.5", "zork/192.168.1.20"});
        row("real page, team game with bot and spectator",
            realPage({{"Kira", "10.0.0.11", "Red", 40, 25},
                      {.name = "Loque", .team = "Blue", .bot = true},
                      {.name = "Watcher", .ip = "10.9.9.9", .spectator = true},
                      {"Dante", "10.0.0.12", "Blue", 40, -2}}),
            {"Dante/10.0.0.12", "Kira/10.0.0.11", "Watcher(Spectator)/10.9.9.9"});
        row("real page, raw & and < in names",
            realPage({{"A&B", "10.0.0.21"}, {"<3_x", "10.0.0.22"}}),
            {"<3_x/10.0.0.22", "A&B/10.0.0.21"});
        row("real page, bots only",
            realPage({{.name = "Xan", .bot = true}, {.name = "Mal", .bot = true}}), {});
        row("real page, no players", realPage({}), none);
    }

    void scrape()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, rows);
        QCOMPARE(rowsOf(PlayerTableParser(page)), rows);
    }

    void largePage()
    {
        // Hundreds of rows in descending name order, so page order differs from a sorted one.
        QString rows;
        QStringList expected;
        for (int i = 499; i >= 0; --i) {
            const QString name = QStringLiteral("Player%1").arg(i, 3, 10, QLatin1Char('0'));
            const QString ip = QStringLiteral("10.%1.%2.1").arg(i / 256).arg(i % 256);
            rows += playerRow(name, ip, i);
            expected << name + "/" + ip;
        }
        const QString page = tablePage(rows);
        QVERIFY(page.size() > 4 * 32767);
        QCOMPARE(rowsOf(PlayerTableParser(page)), expected);
    }

    void manyRowsShareOneDistantLongCell()
    {
        // Many name cells, a long stretch of text, then one set of centred cells whose last one is
        // long: every name pairs with that cell, and all rows hold one copy of it (a copy each
        // would be 400 MB here). How long such a page takes is measured by bench_scrape.
        const int count = 2000;
        const QString longCell(100000, QLatin1Char('y'));
        QString section = QStringLiteral("<table><tr><td>");
        for (int i = 0; i < count; ++i)
            section += kNameMarker + QStringLiteral("n%1</div>").arg(i);
        section += QString(100000, QLatin1Char('x'));
        for (const QString &text :
             {QStringLiteral("t"), QStringLiteral("p"), QStringLiteral("s"), longCell})
            section += centreCell(text);
        const PlayerTable table = PlayerTableParser(section + QStringLiteral("</table>"));
        QVERIFY(table.has_value());
        QCOMPARE(table->size(), count);
        QCOMPARE(table->at(0).ip, longCell);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(table->at(i).name, QStringLiteral("n%1").arg(i));
            QVERIFY(table->at(i).ip.constData() == table->at(0).ip.constData());
        }
    }
};

QTEST_GUILESS_MAIN(TestPlayerTableParser)
#include "tst_parser.moc"
