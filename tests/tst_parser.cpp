// The scrape of the current_players page: players cut out between fixed markers, in page order.
#include "FakeGameServer.h"
#include "platform/Windows1252.h"
#include "watch/PlayerTableParser.h"
#include <QTest>
using kelvoran::platform::fromWindows1252;
using kelvoran::test::FakePlayer;
using Server = kelvoran::test::FakeGameServer;
class TestParser : public QObject
{
    Q_OBJECT
    static QString page(QList<FakePlayer> p) { return fromWindows1252(Server::playersPage(p)); }
    const QString two = page({{"Amy", "10.0.0.1", "Red"}, {"Bob", "10.0.0.2", "Blue"}});
    QString cut(const QString &s) const { return two.left(two.lastIndexOf(s) + s.size()); }
    QString edit(QString from, QString to) const { return QString(two).replace(from, to); }
private slots:
    void scrape_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("rows"); // "name/ip" in page order
        const QString amy = "Amy/10.0.0.1", none = "(no table)";
        QTest::newRow("bot, spectator, raw & and <, sorted by name") // bots have no kick/ban cells
            << page({{"Zoé_€", "10.0.0.5"},
                     {"Loque", "", "", 0, 0, true},
                     {"<3", "1.2.3.4", "", 0, 0, false, true},
                     {"A&B", "10.0.0.21"}})
            << "<3(Spectator)/1.2.3.4 A&B/10.0.0.21 Zoé_€/10.0.0.5";
        QTest::newRow("no players: no table") << page({}) << none;
        QTest::newRow("empty page: no table") << QString() << none;
        QTest::newRow("each &nbsp; deleted once, nothing else decoded, IP as it stands")
            << page({{"&nbsp;Big&nbsp;&&nbsp;nbsp;<b>Bob</b>&amp;", " 10.0.0.3:7778&nbsp;"}})
            << "Big&nbsp;<b>Bob</b>&amp;/ 10.0.0.3:7778&nbsp;";
        QTest::newRow("row start first on the page")
            << two.mid(two.indexOf("<tr><td")) << amy + " Bob/10.0.0.2";
        QTest::newRow("row start in capitals") << edit("<tr><td", "<TR><TD") << none;
        QTest::newRow("name marker in capitals") << edit("align=\"left\"", "ALIGN=\"LEFT\"") << "";
        QTest::newRow("rows past the table end") << edit("</tr><tr>", "</tr></table><tr>") << amy;
        // Pages cut short (right after the last `s`) end the scrape with the rows found so far.
        QTest::newRow("no table end") << cut("</tr>") << amy + " Bob/10.0.0.2";
        QTest::newRow("name cell without end") << cut("Bo") << amy;
        QTest::newRow("three centred cells") << cut(">0</div></td>") << amy;
        QTest::newRow("IP cell without end") << cut("10.0.0.2") << amy;
    }
    void scrape()
    {
        QFETCH(QString, page);
        const auto table = kelvoran::watch::PlayerTableParser(page);
        QStringList found;
        for (const auto &row : table.value_or(QList<kelvoran::watch::PlayerRow>()))
            found << row.name + "/" + row.ip;
        QTEST(table ? found.join(' ') : "(no table)", "rows");
    }
};
QTEST_GUILESS_MAIN(TestParser)
#include "tst_parser.moc"
