// The server dialog: its fields, the kinds of server and the checks of OK.
#include "WindowDoubles.h"
#include "app/ServerDialog.h"
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
using namespace kelvoran;
namespace {
constexpr auto kPublic = watch::ServerConfig::Kind::Public;
// "2 public Deck 203.0.113.5:7777 7790": id, kind, name, address, login, query port.
QString text(const watch::ServerConfig &s)
{
    const QString kind = s.kind == kPublic ? "public" : "web";
    return QStringList{s.id, kind, s.name, s.hostPort(), s.adminName, s.password, s.queryPort}
        .join(' ')
        .simplified();
}
const watch::ServerConfig kCtf{
    .name = "CTF", .address = "198.51.100.7", .port = "5080", .adminName = "a", .password = "p"};
const watch::ServerConfig kDeck{
    .kind = kPublic, .address = "203.0.113.5", .port = "7777", .queryPort = "7790"};
} // namespace

class ServersTest : public QObject
{
    Q_OBJECT

private slots:
    // The dialog's fields as the user fills them ("kind|name|address|port|login|password|query
    // port"; the address pasted, or typed when it starts with "typed:"), then the kind chosen and
    // OK: the labels shown ("note": names only), then the server kept or what was said.
    void dialog_data()
    {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("result");
        const QString web = "Name,Address,Port,Admin Name,Password -> ",
                      pub = "Name,Address,Port,Query port,note -> ",
                      all = "Please enter all fields!",
                      port = "A port is a number from 1 to 65535.";
        for (const auto &[tag, fields, result] : {
                 std::tuple{"web admin", "web|Duel|192.0.2.1|8080|admin|pw|9",
                            web + "web Duel 192.0.2.1:8080 admin pw"},
                 {"no password", "web||192.0.2.1|8080|admin||", web + all},
                 {"blank address", "web||  |8080|admin|pw|", web + all},
                 {"no port", "web||h||admin|pw|", web + all},
                 {"port 0", "web||h|0|a|p|", web + port},
                 {"port 65536", "web||h|65536|a|p|", web + port},
                 {"port x", "web||h|x|a|p|", web + port},
                 {"public: no login, game port", "public||h||admin|pw|", pub + "public h:7777"},
                 {"public: query port", "public|Pub|h|7000|||7790", pub + "public Pub h:7000 7790"},
                 {"public: query port 0", "public||h|7000|||0", pub + port},
                 {"public: query port x", "public||h|7000|||x", pub + port},
                 {"link", "web||unreal://203.0.113.5:7778/|80|a|p|",
                  web + "web 203.0.113.5:7778 a p"},
                 {"link with map and options",
                  "public||UNREAL://h.example:7779/DM-Deck16?Game=x||||",
                  pub + "public h.example:7779"},
                 {"link without port", "web||unreal://h|8080|a|p|", web + "web h:8080 a p"},
                 {"link typed out", "web||typed:unreal://h:7000/|80|a|p|", web + "web h:7000 a p"},
             })
            QTest::newRow(tag) << QString(fields) << result;
    }
    void dialog()
    {
        QFETCH(QString, fields);
        test::ScriptedDialogs dialogs;
        app::ServerDialog d({}, dialogs);
        const QStringList f = fields.split('|');
        const QList edits{d.txtName,      d.txtAddress,  d.txtPort,
                          d.txtAdminName, d.txtPassword, d.txtQueryPort};
        for (int i : {0, 2, 3, 4, 5})
            edits[i]->setText(f[i + 1]);
        if (f[2].startsWith("typed:")) {
            QTest::keyClicks(d.txtAddress, f[2].mid(6));
            QCOMPARE(d.txtAddress->text(), f[2].mid(6)); // never split while being typed
        } else {
            d.txtAddress->insert(f[2]); // as a paste
        }
        (f[0] == "public" ? d.optPublic : d.optWebAdmin)->click();
        QStringList shown;
        for (const QLabel *label : d.findChildren<QLabel *>())
            if (label->buddy() && label->isVisibleTo(&d))
                shown << label->text();
        if (d.lblPublicNote->isVisibleTo(&d))
            shown << "note";
        d.accept();
        const QString outcome =
            d.result() == QDialog::Accepted ? text(d.config()) : dialogs.shown.join(';');
        QTEST(shown.join(',') + " -> " + outcome, "result");
    }
    // A server opens as it was kept; the password shows as stars.
    void dialogShowsTheServer()
    {
        test::ScriptedDialogs dialogs;
        for (const auto &server : {kCtf, kDeck}) {
            app::ServerDialog d(server, dialogs);
            d.show();
            QCOMPARE(d.windowTitle() + ' ' + text(d.config()), "Kelvoran: Server " + text(server));
            QCOMPARE(d.txtPassword->displayText(), QString(server.password.size(), '*'));
        }
    }
};

QTEST_MAIN(ServersTest)
#include "tst_servers.moc"
