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

FakePlayer human(const QString &name, const QString &ip, const QString &team = QString(),
                 int score = 0)
{
    FakePlayer p;
    p.name = name;
    p.ip = ip;
    p.team = team;
    p.score = score;
    return p;
}

FakePlayer bot(const QString &name, const QString &team = QString())
{
    FakePlayer p;
    p.name = name;
    p.team = team;
    p.bot = true;
    return p;
}

QStringList namesOf(const QList<PlayerRow> &rows)
{
    QStringList names;
    for (const PlayerRow &row : rows)
        names << row.name;
    return names;
}

QStringList ipsOf(const QList<PlayerRow> &rows)
{
    QStringList ips;
    for (const PlayerRow &row : rows)
        ips << row.ip;
    return ips;
}

} // namespace

class TestPlayerTableParser : public QObject
{
    Q_OBJECT

private slots:
    void workedExample()
    {
        // One row of exactly 287 characters, laid out position by position.
        QString section = QStringLiteral(R"(<tr><td width="1%"><input type="checkbox" name="X" )");
        section = section.leftJustified(60, QLatin1Char(' '));
        section += kNameMarker;
        section += QStringLiteral("Big&nbsp;Bob</div>");
        const QString boundary = QStringLiteral("</td><td><div ");
        QCOMPARE(boundary.size(), 14);
        for (const QString &text : {QStringLiteral("c1"), QStringLiteral("c2"),
                                    QStringLiteral("c3"), QStringLiteral("10.0.0.7")}) {
            section +=
                boundary + QStringLiteral(R"(align="center">)") + text + QStringLiteral("</div>");
        }
        section += QStringLiteral("</td></tr>");
        QCOMPARE(section.size(), 287);

        // The 1-based positions the searches meet on the way.
        const auto at = [&section](const QString &what, int from) {
            return section.indexOf(what, from - 1) + 1;
        };
        const QString div = QStringLiteral("</div>");
        const QString centre = QStringLiteral(R"(align="center">)");
        QCOMPARE(at(kNameMarker, 1), 61);
        QCOMPARE(at(div, 106), 118);
        QCOMPARE(at(centre, 118), 138);
        QCOMPARE(at(centre, 139), 175);
        QCOMPARE(at(centre, 176), 212);
        QCOMPARE(at(centre, 213), 249);
        QCOMPARE(at(div, 250), 272);
        QCOMPARE(section.mid(263, 8), QStringLiteral("10.0.0.7"));
        QCOMPARE(at(kNameMarker, 62), 0);

        const QString page = QStringLiteral("<html><body><table>\r\n<tr>\r\n<td>Name</td>\r\n"
                                            "</tr>\r\n") +
                             section + QStringLiteral("</table></body></html>");
        const PlayerTable table = PlayerTableParser(page);
        QVERIFY(table.has_value());
        QCOMPARE(*table,
                 (QList<PlayerRow>{{QStringLiteral("BigBob"), QStringLiteral("10.0.0.7")}}));
    }

    void scrape_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("hasTable");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("ips");

        const QString alice = playerRow(QStringLiteral("Alice"), QStringLiteral("10.0.0.1"), 1);
        const QString bob = playerRow(QStringLiteral("Bob"), QStringLiteral("10.0.0.2"), 2);

        QTest::newRow("empty page") << QString() << false << QStringList() << QStringList();
        QTest::newRow("no row start")
            << QStringLiteral("<html><table><tr>\n<td>Name</td></tr></table></html>") << false
            << QStringList() << QStringList();
        QTest::newRow("row start in capitals")
            << tablePage(alice).replace(QStringLiteral("<tr><td"), QStringLiteral("<TR><TD"))
            << false << QStringList() << QStringList();
        QTest::newRow("name marker in capitals")
            << tablePage(alice).replace(kNameMarker, kNameMarker.toUpper()) << true << QStringList()
            << QStringList();
        QTest::newRow("table without name marker")
            << QStringLiteral("<table><tr><td>Name</td><td>IP</td></tr></table>") << true
            << QStringList() << QStringList();
        QTest::newRow("name marker after the table end")
            << QStringLiteral("<table><tr><td>Name</td></tr></table>\r\n<table>") + alice +
                   QStringLiteral("</table>")
            << true << QStringList() << QStringList();
        QTest::newRow("one player")
            << tablePage(alice) << true << QStringList{"Alice"} << QStringList{"10.0.0.1"};
        QTest::newRow("page order kept")
            << tablePage(playerRow("Zed", "1.1.1.1") + playerRow("alpha", "2.2.2.2") +
                         playerRow("Mid", "3.3.3.3"))
            << true << QStringList{"Zed", "alpha", "Mid"}
            << QStringList{"1.1.1.1", "2.2.2.2", "3.3.3.3"};
        QTest::newRow("every &nbsp; deleted")
            << tablePage(playerRow("&nbsp;Big&nbsp;&nbsp;Bob&nbsp;", "10.0.0.7")) << true
            << QStringList{"BigBob"} << QStringList{"10.0.0.7"};
        QTest::newRow("other entities stay undecoded")
            << tablePage(playerRow("Tom&amp;Jerry&lt;3&#233;&nbspX&NBSP;", "10.0.0.8")) << true
            << QStringList{"Tom&amp;Jerry&lt;3&#233;&nbspX&NBSP;"} << QStringList{"10.0.0.8"};
        QTest::newRow("deletion is one pass")
            << tablePage(playerRow("&&nbsp;nbsp;", "10.0.0.9")) << true << QStringList{"&nbsp;"}
            << QStringList{"10.0.0.9"};
        QTest::newRow("markup in the name cell stays")
            << tablePage(playerRow("<b>Bob</b>", "10.0.0.2")) << true << QStringList{"<b>Bob</b>"}
            << QStringList{"10.0.0.2"};
        QTest::newRow("IP cell taken unchanged")
            << tablePage(playerRow("Ann", " 10.0.0.3:7778 &nbsp;")) << true << QStringList{"Ann"}
            << QStringList{" 10.0.0.3:7778 &nbsp;"};
        QTest::newRow("empty IP cell")
            << tablePage(playerRow("Ann", "")) << true << QStringList{"Ann"} << QStringList{""};
        QTest::newRow("name holding a cell end")
            << tablePage(playerRow("a</div>b", "10.0.0.4")) << true << QStringList{"a"}
            << QStringList{"10.0.0.4"};
        QTest::newRow("name holding a centre marker")
            << tablePage(playerRow(R"(align="center">x)", "10.0.0.5")) << true
            << QStringList{R"(align="center">x)"} << QStringList{"10.0.0.5"};
        QTest::newRow("extra centred cell in a row")
            << tablePage(QString(alice).replace("</tr>", centreCell("extra") + "</tr>") + bob)
            << true << QStringList{"Alice", "Bob"} << QStringList{"10.0.0.1", "10.0.0.2"};
        QTest::newRow("name marker inside a name cell")
            << tablePage(playerRow("A" + kNameMarker + "B", "9.9.9.9")) << true
            << QStringList{R"(Avalue="ban">)", "B"} << QStringList{"9.9.9.9", "9.9.9.9"};

        // Malformed tables end the scrape with the rows found so far.
        QTest::newRow("row start without table end")
            << QStringLiteral("<html><body><table>") + alice + bob << true
            << QStringList{"Alice", "Bob"} << QStringList{"10.0.0.1", "10.0.0.2"};
        QTest::newRow("name marker without cell end")
            << tablePage(alice + QStringLiteral("<tr><td>") + kNameMarker +
                         QStringLiteral("Trunc<td align=\"center\">1.2.3.4"))
            << true << QStringList{"Alice"} << QStringList{"10.0.0.1"};
        QTest::newRow("fewer than four centred cells")
            << tablePage(alice + QString(bob).replace(centreCell("10.0.0.2"), QString())) << true
            << QStringList{"Alice"} << QStringList{"10.0.0.1"};
        QTest::newRow("IP cell without cell end")
            << tablePage(alice + QString(bob).replace("10.0.0.2</div>", "10.0.0.2")) << true
            << QStringList{"Alice"} << QStringList{"10.0.0.1"};

        // Pages as the server writes them.
        QTest::newRow("real page, deathmatch")
            << realPage({human("zork", "192.168.1.20"), human("Alpha", "10.1.1.1"),
                         human("beta", "172.16.0.5", {}, -3)})
            << true << QStringList{"Alpha", "beta", "zork"}
            << QStringList{"10.1.1.1", "172.16.0.5", "192.168.1.20"};
        FakePlayer spectator = human("Watcher", "10.9.9.9");
        spectator.spectator = true;
        QTest::newRow("real page, team game with bot and spectator")
            << realPage({human("Kira", "10.0.0.11", "Red", 25), bot("Loque", "Blue"), spectator,
                         human("Dante", "10.0.0.12", "Blue", -2)})
            << true << QStringList{"Dante", "Kira", "Watcher(Spectator)"}
            << QStringList{"10.0.0.12", "10.0.0.11", "10.9.9.9"};
        QTest::newRow("real page, raw & and < in names")
            << realPage({human("A&B", "10.0.0.21"), human("<3_x", "10.0.0.22")}) << true
            << QStringList{"<3_x", "A&B"} << QStringList{"10.0.0.22", "10.0.0.21"};
        QTest::newRow("real page, bots only")
            << realPage({bot("Xan"), bot("Malcolm")}) << true << QStringList() << QStringList();
        QTest::newRow("real page, no players")
            << realPage({}) << false << QStringList() << QStringList();
    }

    void scrape()
    {
        QFETCH(QString, page);
        QFETCH(bool, hasTable);
        QFETCH(QStringList, names);
        QFETCH(QStringList, ips);

        const PlayerTable table = PlayerTableParser(page);
        QCOMPARE(table.has_value(), hasTable);
        if (!table)
            return;
        QCOMPARE(namesOf(*table), names);
        QCOMPARE(ipsOf(*table), ips);
    }

    void largePage_data()
    {
        QTest::addColumn<int>("rowCount");
        QTest::newRow("300 rows") << 300;
        QTest::newRow("1500 rows") << 1500;
    }

    void largePage()
    {
        QFETCH(int, rowCount);
        // Built in descending name order, so page order differs from any sorted order.
        QString rows;
        QStringList names;
        QStringList ips;
        for (int i = rowCount - 1; i >= 0; --i) {
            const QString name = QStringLiteral("Player%1").arg(i, 4, 10, QLatin1Char('0'));
            const QString ip = QStringLiteral("10.%1.%2.1").arg(i / 256).arg(i % 256);
            rows += playerRow(name, ip, i);
            names << name;
            ips << ip;
        }
        const QString page = tablePage(rows);
        QVERIFY(page.size() > 32767);

        const PlayerTable table = PlayerTableParser(page);
        QVERIFY(table.has_value());
        QCOMPARE(table->size(), rowCount);
        QCOMPARE(namesOf(*table), names);
        QCOMPARE(ipsOf(*table), ips);
    }

    void largeRealPage()
    {
        QList<FakePlayer> players;
        QStringList names;
        for (int i = 0; i < 400; ++i) {
            FakePlayer p = human(QStringLiteral("P%1").arg(399 - i, 3, 10, QLatin1Char('0')),
                                 QStringLiteral("10.0.%1.%2").arg(i / 100).arg(i % 100));
            p.team = i % 2 ? QStringLiteral("Red") : QStringLiteral("Blue");
            players << p;
            names.prepend(p.name);
        }
        players.insert(17, bot(QStringLiteral("P100b")));
        const QString page = realPage(players);
        QVERIFY(page.size() > 32767);

        const PlayerTable table = PlayerTableParser(page);
        QVERIFY(table.has_value());
        QCOMPARE(namesOf(*table), names);
        QCOMPARE(table->at(0).ip, QStringLiteral("10.0.3.99"));
        QCOMPARE(table->at(399).ip, QStringLiteral("10.0.0.0"));
    }

    void rowsShareDistantCells()
    {
        // Many name cells, then a long stretch of text, then one set of centred cells: every
        // name pairs with the same IP cell.
        const int count = 2000;
        QString section = QStringLiteral("<table><tr><td>");
        for (int i = 0; i < count; ++i)
            section += kNameMarker + QStringLiteral("n%1</div>").arg(i);
        section += QString(100000, QLatin1Char('x'));
        for (const char *text : {"t", "p", "s", "1.2.3.4"})
            section += centreCell(QString::fromLatin1(text));
        const PlayerTable table = PlayerTableParser(section + QStringLiteral("</table>"));
        QVERIFY(table.has_value());
        QCOMPARE(table->size(), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(table->at(i).name, QStringLiteral("n%1").arg(i));
            QCOMPARE(table->at(i).ip, QStringLiteral("1.2.3.4"));
        }
    }

    void manyRowsEndInOneLongCell()
    {
        // Name markers back to back, then one row's worth of centred cells whose last one is
        // long: every name but the last pairs with that long cell.
        const int count = 2000;
        const QString longCell = QString(100000, QLatin1Char('y'));
        QString section =
            QStringLiteral("<tr><td>") + kNameMarker.repeated(count) + QStringLiteral("</td>");
        for (const QString &text :
             {QStringLiteral("t"), QStringLiteral("p"), QStringLiteral("s"), longCell})
            section += centreCell(text);
        const PlayerTable table = PlayerTableParser(section + QStringLiteral("</table>"));
        QVERIFY(table.has_value());
        QCOMPARE(table->size(), count - 1);
        for (const PlayerRow &row : *table) {
            QCOMPARE(row.name, QStringLiteral(R"(value="ban">)"));
            QCOMPARE(row.ip, longCell);
        }
    }
};

QTEST_GUILESS_MAIN(TestPlayerTableParser)
#include "tst_parser.moc"
