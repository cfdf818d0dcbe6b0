// The list of watched servers: the window's rows, Add, Edit and Remove on a real store with real
// watchers, and the server dialog's fields and checks.
#include "FakeSources.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "WindowDoubles.h"
#include "app/ServerDialog.h"
#include "app/ServersWindow.h"
#include "settings/ServerStore.h"
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>
using namespace kelvoran;
using Config = std::optional<watch::ServerConfig>;
Q_DECLARE_METATYPE(Config)
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
// Rows and servers kept, a line each.
const QString kFirst = "ut:7777|ut:7777|web admin||no answer yet\n",
              kCtfRow = "CTF|198.51.100.7:5080|web admin||no answer yet\n",
              kDeckRow = "Deck Server|203.0.113.5:7777 (query 7790)|public|DM-Deck16|2 on line\n",
              kCtfKept = "1 web CTF 198.51.100.7:5080 a p\n",
              kDeckKept = "2 public 203.0.113.5:7777 7790\n",
              kRefused = "Could not keep the server in Kelvoran's own settings file.\n\nFILE may "
                         "not be written (no write permission)";
} // namespace
class ServersTest : public QObject
{
    Q_OBJECT
private slots:
    // From a store with two servers beside the first, the public one read once (its name and
    // map from its answer): a click on a selection; the rows, the store, and what was said: the
    // buttons Edit and Remove as enabled ("-" not) before the click, the questions and messages,
    // the server the dialog was opened for, and the buttons after.
    void window_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("click"); // the rows selected, the button, the question's answer
        QTest::addColumn<Config>("dialog"); // the dialog's answer
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("said");
        auto deck = kDeck, moved = kDeck;
        deck.id = moved.id = "2", deck.name = "Deck", moved.queryPort = "";
        const Config none,
            duel{{.name = "Duel", .address = "h", .port = "80", .adminName = "a", .password = "p"}};
        const QString all = kFirst + kCtfRow + kDeckRow, kept = kCtfKept + kDeckKept,
                      first = "--|The first server is set in the main window.";
        for (const auto &[tag, writable, click, dialog, rows, stored, said] : {
                 std::tuple{"add", true, " Add", duel, all + "Duel|h:80|web admin||no answer yet\n",
                            kept + "3 web Duel h:80 a p\n", u"--||web|--"_qs},
                 {"edit a name: the state stays", true, "2 Edit", Config(deck),
                  kFirst + kCtfRow + QString(kDeckRow).replace("Deck Server", "Deck"),
                  kCtfKept + "2 public Deck 203.0.113.5:7777 7790\n",
                  "ER||2 public 203.0.113.5:7777 7790|ER"},
                 {"edit the query port: another server", true, "2 Edit", Config(moved),
                  kFirst + kCtfRow + "203.0.113.5:7777|203.0.113.5:7777|public||no answer yet\n",
                  kCtfKept + "2 public 203.0.113.5:7777\n",
                  "ER||2 public 203.0.113.5:7777 7790|ER"},
                 {"edit the first", true, "0 Edit", Config(deck), all, kept, first + "||--"},
                 {"remove one", true, "1 Remove yes", none, kFirst + kDeckRow, kDeckKept,
                  "ER|Remove the server CTF?||--"},
                 {"remove: no", true, "1 Remove no", none, all, kept,
                  "ER|Remove the server CTF?||ER"},
                 {"remove with the first selected", true, "0,2 Remove yes", none, kFirst + kCtfRow,
                  kCtfKept, "-R|Remove the server Deck Server?||--"},
                 {"remove the first", true, "0 Remove yes", none, all, kept,
                  first + " It cannot be removed here.||--"},
                 {"add refused", false, " Add", duel, all, kept, "--|" + kRefused + "|web|--"},
                 {"remove refused", false, "1,2 Remove yes", none, all, kept,
                  "-R|Remove the selected servers?;" + kRefused + "||-R"},
             })
            QTest::newRow(tag) << writable << QString(click) << dialog << rows << QString(stored)
                               << said;
    }
    void window()
    {
        QFETCH(bool, writable);
        QFETCH(QString, click);
        QFETCH(Config, dialog);
        test::TempStore t;
        for (watch::ServerConfig s : {kCtf, kDeck})
            QVERIFY(settings::storeServer(t.registry(), s));
        std::optional<platform::RegistryStore> readOnly;
        if (!writable) { // as the main window's test makes one
            QVERIFY(QFile::setPermissions(t.filePath(), QFile::ReadOwner));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("be saved$"));
            readOnly.emplace(t.filePath());
        }
        platform::RegistryStore &store = readOnly ? *readOnly : t.store();
        Module1 registry(store);
        test::RecordingSoundPlayer sound;
        test::RecordingNotifier notifier;
        watch::Announcer announcer(sound, notifier);
        watch::VisitLog visits(store);
        test::FakeSources sources;
        watch::WatchGroup group(registry, announcer, visits, sources.factory());
        group.setInterval(3'600'000); // the test polls
        group.setFirstServer({.address = "ut", .port = "7777", .adminName = "admin"});
        group.load();
        group.start();
        test::ScriptedDialogs dialogs;
        app::ServersWindow w(group, registry, dialogs);
        QStringList asked;
        w.editServer = [&](const watch::ServerConfig &start) {
            return asked << text(start), dialog;
        };
        w.show();
        const auto rows = [&] {
            QString all;
            for (int row = 0; row < w.tblServers->rowCount(); ++row) {
                for (int column = 0; column < w.tblServers->columnCount(); ++column)
                    all += (column ? "|" : "") + w.tblServers->item(row, column)->text();
                all += '\n';
            }
            return all;
        };
        group.watchers()[2]->poll();
        QTRY_VERIFY_WITH_TIMEOUT(sources.waiting() == 1, 10000);
        QVERIFY(sources.answer("host=Deck Server:DM-Deck16|Bob/,Ann/"));
        QTRY_COMPARE_WITH_TIMEOUT(rows(), kFirst + kCtfRow + kDeckRow, 10000);
        QCOMPARE(w.windowTitle(), u"Kelvoran: Servers"_qs);
        for (const QString &row : click.section(' ', 0, 0).split(',', Qt::SkipEmptyParts))
            w.tblServers->setRangeSelected({row.toInt(), 0, row.toInt(), 4}, true);
        const auto buttons = [&] {
            return QString(w.cmdEdit->isEnabled() ? "E" : "-") +
                   (w.cmdRemove->isEnabled() ? "R" : "-");
        };
        QString said = buttons();
        dialogs.answers = QStringList{click.section(' ', 2)};
        auto *button = w.findChild<QPushButton *>("cmd" + click.section(' ', 1, 1));
        if (button->isEnabled())
            button->click();
        else // a double click still reaches it
            QMetaObject::invokeMethod(&w, qPrintable(button->objectName() + "_Click"));
        QString kept;
        for (const watch::ServerConfig &s : settings::storedServers(t.registry()))
            kept += text(s) + '\n';
        said += '|' + dialogs.shown.join(';').replace(t.filePath(), "FILE") + '|' +
                asked.join(';') + '|' + buttons();
        QTEST(rows(), "rows");
        QTEST(kept, "kept");
        QTEST(said, "said");
    }
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
                 {"port 0", "web||h|0|a|p|", web + port},
                 {"port 65536", "web||h|65536|a|p|", web + port},
                 {"port x", "web||h|x|a|p|", web + port},
                 {"public: no login, game port", "public||h||admin|pw|", pub + "public h:7777"},
                 {"public: query port", "public|Pub|h|7000|||7790", pub + "public Pub h:7000 7790"},
                 {"public: query port 0", "public||h|7000|||0", pub + port},
                 {"link", "web||unreal://203.0.113.5:7778/|80|a|p|",
                  web + "web 203.0.113.5:7778 a p"},
                 {"link with map and options",
                  "public||UNREAL://h.example:7779/DM-Deck16?Game=x||||",
                  pub + "public h.example:7779"},
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
