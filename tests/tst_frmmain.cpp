// The window on Qt's offscreen platform, over a real store and real INI files: start-up, the
// settings panel's two modes, saving, the current players view and the poll with their downloads
// off the GUI thread, the watch-list commands, browsing, the timer and the layout.
#include "FakeSources.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "TestBytes.h"
#include "WindowDoubles.h"
#include "app/Application.h"
#include "settings/ServerIni.h"
#include "settings/SettingsStore.h"
#include "watchlist/WatchList.h"
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QtTest>
using namespace kelvoran;
using app::frmMain;
namespace {
const QByteArray kServerIni = "[UWeb.WebServer]\r\nbEnabled=False\r\nListenPort=7777\r\n\r\n"
                              "[UTServerAdmin.UTServerAdmin]\r\nAdminUsername=boss\r\n"
                              "AdminPassword=hunter2\r\n";

QStringList rows(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

class FrmMainTest : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<test::TempStore> t;
    std::unique_ptr<test::FakeSources> sources;
    test::RecordingSoundPlayer sound;
    test::RecordingNotifier notifier;
    test::ScriptedDialogs dialogs;
    std::unique_ptr<app::Application> app;
    frmMain *w = nullptr;
    QString ini() const { return dir.filePath("UnrealTournament.ini"); }
    frmMain &open(Module1 *registry = nullptr)
    {
        app.reset();
        app = std::make_unique<app::Application>(registry ? *registry : t->registry(), sound,
                                                 notifier, dialogs, sources->factory());
        w = &app->window;
        w->Form_Load();
        w->activateWindow();
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(w);
        return *w;
    }
    // Answers the reading the window or the watching has sent out.
    void answer(const QString &page)
    {
        QVERIFY(QTest::qWaitFor([this] { return sources->waiting() > 0; }, 10000));
        QVERIFY(sources->answer(page));
    }
    // Complete, saved settings; the next start loads them.
    void storeAllSettings()
    {
        QVERIFY(test::writeFile(ini(), kServerIni));
        t->registry().createRegKey(kSettingsKey);
        for (const auto &[name, value] : {std::pair{"UTIniFile", ini()},
                                          {"UTServerAddress", "host"},
                                          {"Friend", "/f.wav"},
                                          {"Enemy", "/e.wav"}})
            t->registry().setRegKeyValue(kSettingsKey, name, value, Module1::REG_SZ);
    }
    // The Save button's caption, then "1" when the nine watch controls are usable, "0" when not
    // ("-1" when they disagree).
    QString state() const
    {
        int on = 0;
        for (QWidget *c : QList<QWidget *>{w->cmdShowCurrent, w->lstPlayers, w->lstAdd,
                                           w->cmdAddBoth, w->cmdAddIP, w->cmdAddName,
                                           w->cmdRemoveAll, w->optEnemy, w->optFriend})
            on += c->isEnabled();
        return w->cmdSaveSettings->text() + QString::number(on == 9 ? 1 : on == 0 ? 0 : -1);
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        t = std::make_unique<test::TempStore>();
        QVERIFY(t->isValid());
        sources = std::make_unique<test::FakeSources>();
        sound.played.clear();
        notifier.shown.clear();
        dialogs = {};
    }
    void cleanup() { app.reset(); }
    // Saved settings come back; the INI file's web server is switched on; the first click after
    // the start is answered and leaves the saved state as it is; then edits switch the state.
    void startWithSavedSettingsAndClickAtOnce()
    {
        storeAllSettings();
        t->registry().addEntry("Frd_Zed");
        t->registry().addEntry("foe_10.0.0.1");
        open();
        QCOMPARE(w->txtPortNumber->text() + w->txtAdminName->text() + w->txtPassword->text(),
                 u"7777bosshunter2"_qs);
        QCOMPARE(w->txtPassword->displayText(), u"*******"_qs);
        QCOMPARE(rows(w->lstAdd), (QStringList{"foe_10.0.0.1", "Frd_Zed"}));
        QCOMPARE(test::readFile(ini()), QByteArray(kServerIni).replace("=False", "=TRUE"));
        QVERIFY(w->focusWidget() == w->txtINIfile);
        QTest::mouseClick(w->cmdShowCurrent, Qt::LeftButton);
        answer("Ann/10.0.0.2,Bob/10.0.0.1");
        QTRY_COMPARE_WITH_TIMEOUT(rows(w->lstPlayers), (QStringList{"Ann", "Bob"}), 10000);
        QCOMPARE(sources->asked(), QStringList{"host:7777 as boss"});
        QCOMPARE(state(), u"Current Settings1"_qs);
        // Edits are detected per field, against the text the field held when it got the focus.
        w->txtAdminName->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w->txtAdminName, Qt::Key_End);
        QTest::keyClicks(w->txtAdminName, "x");
        QCOMPARE(state(), u"Save Settings0"_qs);
        w->txtIPAddress->setFocus(Qt::TabFocusReason); // another field, not changed: compared alone
        w->Command1->setFocus(Qt::TabFocusReason);
        QCOMPARE(state(), u"Current Settings1"_qs);
        w->txtAdminName->setFocus(Qt::TabFocusReason);
        QTest::keyClick(w->txtAdminName, Qt::Key_End);
        QTest::keyClick(w->txtAdminName, Qt::Key_Backspace);
        QCOMPARE(state(), u"Save Settings0"_qs);
        w->txtINIfile->setFocus(Qt::TabFocusReason);
        w->txtINIfile->setText("other.ini");
        QCOMPARE(w->cmdSaveSettings->text(), u"Save Settings"_qs);
        w->txtINIfile->setText(ini());
        QCOMPARE(state(), u"Current Settings1"_qs);
    }
    void saveWritesBothPlacesOrRefuses()
    {
        open();
        w->txtIPAddress->setText("host");
        w->txtAdminName->setText("boss");
        w->txtPassword->setText(" ");
        w->cmdSaveSettings_Click();
        QCOMPARE(dialogs.shown, QStringList{"Please enter all fields!"});
        QCOMPARE(t->store().openKey(kSettingsKey), platform::kNoKey);
        w->txtPortNumber->setText("80x");
        w->txtINIfile->setText(ini());
        w->txtFriendWav->setText("/f.wav");
        w->txtEnemyWav->setText("/e.wav");
        w->cmdSaveSettings_Click();
        QCOMPARE(w->cmdSaveSettings->text(), u"Current Settings"_qs);
        QCOMPARE(settings::iniAdminName(ini()) + settings::iniAdminPassword(ini()) +
                     settings::iniListenPort(ini()),
                 u"boss80x"_qs);
        QCOMPARE(t->registry().entryNames(kSettingsKey), QStringList{"checklist"});
        QStringList saved;
        for (const char *name : {"UTServerAddress", "UTIniFile", "Friend", "Enemy"})
            saved << t->registry().queryRegText(kSettingsKey, name);
        QCOMPARE(saved, (QStringList{"host", ini(), "/f.wav", "/e.wav"}));
        // A file that may not be written: said, naming it; the button stays "Save Settings".
        QVERIFY(QFile::setPermissions(ini(), QFile::ReadOwner));
        w->txtAdminName->setText("chief");
        w->cmdSaveSettings_Click();
        QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(w->cmdSaveSettings->text(), u"Save Settings"_qs);
        QVERIFY2(dialogs.shown.last().contains(ini()), qPrintable(dialogs.shown.last()));
        QCOMPARE(settings::iniAdminName(ini()), u"boss"_qs);
    }
    void showCurrentPlayers_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("expected"); // names|addresses|message|flag of an entry at "NO"
        QTest::newRow("page order") << "Zed/10.0.0.9,BigBob/10.0.0.1"
                                    << "Zed BigBob|10.0.0.9 10.0.0.1||NO";
        const QString none = "||No players on-line. NO|";
        QTest::newRow("unreachable") << "refused" << none + "NO";
        QTest::newRow("only bots: armed before the box") << ""
                                                         << "||No players on-line. YES|YES";
        QTest::newRow("only bots, window hidden meanwhile") << ""
                                                            << "|||YES";
    }
    void showCurrentPlayers()
    {
        QFETCH(QString, page);
        QFETCH(QString, expected);
        t->setEntry("Frd_Zed", "NO");
        open();
        w->lstPlayers->addItem("from before");
        w->cmdShowCurrent->setEnabled(true);
        w->cmdShowCurrent_Click();
        // Busy until the page is in; the window answers meanwhile.
        QVERIFY(!w->cmdShowCurrent->isEnabled() && w->cursor().shape() == Qt::WaitCursor);
        QCOMPARE(w->lstPlayers->count(), 0);
        dialogs.onMessage = [this] { dialogs.shown.last() += ' ' + t->flagOf("Frd_Zed"); };
        if (QByteArray(QTest::currentDataTag()).contains("hidden"))
            w->hide();
        answer(page);
        QTRY_COMPARE_WITH_TIMEOUT(w->cursor().shape(), Qt::ArrowCursor, 10000);
        QCOMPARE(QStringList({rows(w->lstPlayers).join(' '), rows(w->lstIP).join(' '),
                              dialogs.shown.join(' '), t->flagOf("Frd_Zed")})
                     .join('|'),
                 expected);
    }
    // Players Ann, Ann, Zed and a bot listed (or none: "-"); "Frd_Al" (announced) and "Frd_Ann"
    // already watched.
    void addFromListsAndPrompts_data()
    {
        QTest::addColumn<QString>("command");  // button, "foe" or "friend", selected rows
        QTest::addColumn<QString>("answers");  // of the prompts, parted by ";"
        QTest::addColumn<QString>("expected"); // rows added | prompts and messages | Frd_Al's flag
        const QString again = " is already on the watch list";
        for (const auto &[tag, command, answers, expected] :
             std::initializer_list<std::tuple<const char *, QString, QString, QString>>{
                 {"both, first and third", "cmdAddBoth foe 0 2", "",
                  "Foe_10.0.0.2 Foe_10.0.0.9 Foe_Ann Foe_Zed||NO"},
                 {"names already watched", "cmdAddName friend 0 1 2", "", "Frd_Zed||NO"},
                 {"a bot's empty address", "cmdAddIP friend 3", "", "||NO"},
                 {"rows, none selected", "cmdAddName friend", "", "||NO"},
                 {"prompts for both", "cmdAddBoth friend -", " ann ;1.2.3.4",
                  "Frd_ ann  Frd_1.2.3.4|Enter FRIEND Player Name;Enter FRIEND IP Address|NO"},
                 {"typed again, in another case", "cmdAddBoth friend -", "aL;Ann",
                  "|Enter FRIEND Player Name;Frd_aL" + again +
                      " as Frd_Al; it is armed again.;"
                      "Enter FRIEND IP Address;Frd_Ann" +
                      again + "; it is armed again.|YES"},
                 {"foe prompt cancelled", "cmdAddIP foe -", "", "|Enter FOE IP Address|NO"}})
            QTest::newRow(tag) << command << answers << expected;
    }
    void addFromListsAndPrompts()
    {
        QFETCH(QString, command);
        QFETCH(QString, answers);
        QFETCH(QString, expected);
        const QStringList how = command.split(' ');
        storeAllSettings();
        t->setEntry("Frd_Al", "NO");
        t->registry().addEntry("Frd_Ann");
        open();
        if (!how.contains("-")) {
            w->lstPlayers->addItems({"Ann", "Ann", "Zed", "Bot"});
            w->lstIP->addItems({"10.0.0.2", "10.0.0.2", "10.0.0.9", ""});
            for (const QString &i : how.mid(2))
                w->lstPlayers->item(i.toInt())->setSelected(true);
            w->lstPlayers->setCurrentRow(0, QItemSelectionModel::NoUpdate);
            w->lstIP->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        }
        (how[1] == "foe" ? w->optEnemy : w->optFriend)->setChecked(true);
        dialogs.answers = answers.split(';');
        w->findChild<QPushButton *>(how[0])->click();
        QStringList added = rows(w->lstAdd);
        QCOMPARE(added, t->registry().entryNames(kChecklistKey));
        added.removeOne("Frd_Al");
        added.removeOne("Frd_Ann");
        QCOMPARE(added.join(' ') + '|' + dialogs.shown.join(';') + '|' + t->flagOf("Frd_Al"),
                 expected);
    }
    // A store that finds its file damaged while watching gives up; said once, while hidden as a
    // notification, though every later write fails too.
    void storeGivingUpWhileWatchingIsSaidOnce()
    {
        storeAllSettings();
        t->registry().addEntry("Frd_Bob");
        const QString path = t->filePath();
        t->close();
        platform::RegistryStore store(path);
        Module1 registry(store);
        open(&registry);
        w->setWindowState(Qt::WindowMinimized);
        // Every page but the first: the log's pages, never read yet, are met in the first visit.
        QCOMPARE(QProcess::execute("sh", {"-ec",
                                          "head -c $(($(stat -c %s $1) - 4096)) /dev/zero | tr "
                                          "'\\0' Z | dd of=$1 bs=1 conv=notrunc status=none "
                                          "seek=4096",
                                          "sh", path}),
                 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("is damaged.*be saved$"));
        for (const char *page : {"Bob/10.0.0.1", "-", "Bob/10.0.0.1"}) {
            app->group.first().poll();
            answer(page);
            QTRY_VERIFY_WITH_TIMEOUT(!app->group.first().pollInFlight(), 10000);
        }
        QCOMPARE(notifier.shown.filter("Kelvoran/").size(), 1);
        QVERIFY2(notifier.shown.last().contains(path + ", is damaged ("),
                 qPrintable(notifier.shown.last()));
    }
    // A store and an INI file that may not be written: the web admin cannot be switched on, an
    // add and a save are not kept, and each is said; the box shows what the store holds.
    void writesRefused()
    {
        storeAllSettings();
        t->registry().addEntry("Frd_Bob");
        for (const QString &file : {ini(), t->filePath()})
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
        platform::RegistryStore readOnly(t->filePath());
        Module1 registry(readOnly);
        open(&registry);
        dialogs.answers = {"Zed"};
        w->cmdAddName_Click();
        w->txtIPAddress->setText("elsewhere");
        w->cmdSaveSettings_Click();
        QFile::setPermissions(ini(), QFile::ReadOwner | QFile::WriteOwner);
        QCOMPARE(rows(w->lstAdd), QStringList{"Frd_Bob"});
        QCOMPARE(w->cmdSaveSettings->text(), u"Save Settings"_qs);
        QCOMPARE(dialogs.shown.size(), 5);
        for (const auto &[i, said, file] : {std::tuple{0, "web admin on", ini()},
                                            {1, "nothing will be saved", t->filePath()},
                                            {3, "Frd_Zed could not be added", t->filePath()},
                                            {4, "Kelvoran's own settings file", t->filePath()}})
            QVERIFY2(dialogs.shown[i].contains(said) && dialogs.shown[i].contains(file),
                     qPrintable(dialogs.shown[i]));
    }
    // Mute, kept across a restart: an arrival announced in the store and logged, but not heard;
    // failing twice said all the same; the tooltip; the visit that ended; the log shown.
    void muteAndTheStateOfWatching()
    {
        storeAllSettings();
        t->registry().addEntry("Frd_Bob");
        open().tray().mPopMute->trigger();
        open();
        app::TrayIcon &tray = w->tray();
        QVERIFY(tray.mPopMute->isChecked());
        w->setWindowState(Qt::WindowMinimized);
        QString flags; // the announced "NO", then armed again by the failing polls
        for (const char *page : {"Bob/10.0.0.1", "refused", "refused"}) {
            app->group.first().poll();
            answer(page);
            QTRY_VERIFY_WITH_TIMEOUT(!app->group.first().pollInFlight(), 10000);
            flags += t->flagOf("Frd_Bob") + ' ';
        }
        QCOMPARE(flags + sound.played.join(' ') + sources->asked().join(','),
                 "NO YES YES " + QStringList(3, "host:7777 as boss").join(','));
        QCOMPARE(notifier.shown, QStringList{"Kelvoran cannot watch host:7777/cannot reach the "
                                             "server (connection refused)"});
        const QString tip = tray.trayRecord->toolTip();
        QVERIFY2(tip.startsWith("Kelvoran\nWatching host:7777\nSince ") &&
                     tip.contains("connection refused)\nAnnouncements muted\nLast visit: Bob "
                                  "(friend) "),
                 qPrintable(tip));
        const QList<platform::VisitRow> log = t->store().visits();
        QVERIFY(log.size() == 1 && log[0].muted && log[0].endNote == "server not read");
        QCOMPARE(tray.mPopupSys->actions(), (QList{tray.mPopRestore, tray.mPopMute, tray.mPopVisits,
                                                   tray.mPopServers, tray.mPopExit}));
        tray.mPopVisits->trigger();
        auto *visits = w->findChild<QTableWidget *>("tblVisits");
        QVERIFY(visits && visits->isVisible() && visits->rowCount() == 1);
        tray.mPopMute->trigger();
        QVERIFY(!tray.mPopMute->isChecked() && !settings::storedMute(t->registry()));
    }
    void deleting_data()
    {
        QTest::addColumn<int>("key"); // -1: Remove All
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("left");
        const QStringList foe{"Foe_x"};
        QTest::newRow("Delete") << int(Qt::Key_Delete) << 0 << foe;
        QTest::newRow("keypad Del") << int(Qt::Key_Period) << int(Qt::KeypadModifier) << foe;
        QTest::newRow("period") << int(Qt::Key_Period) << 0 << foe + QStringList{"Frd_a", "Frd_b"};
        QTest::newRow("Remove All") << -1 << 0 << QStringList();
    }
    void deleting()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QStringList, left);
        for (const char *e : {"Frd_b", "Frd_a", "Foe_x"})
            t->registry().addEntry(e);
        open();
        w->lstAdd->addItem("Frd_a"); // the same row twice: deleted once
        for (int i : {1, 2, 3})
            w->lstAdd->item(i)->setSelected(true);
        if (key < 0)
            w->cmdRemoveAll_Click();
        else
            QTest::keyClick(w->lstAdd, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(t->registry().entryNames(kChecklistKey), left);
        if (left.size() == 3) // another key: the box is not refilled either
            left << "Frd_a";
        QCOMPARE(rows(w->lstAdd), left);
    }
    void browse_data()
    {
        QTest::addColumn<QString>("command");  // button, field, chosen file ("=": the same again)
        QTest::addColumn<QString>("expected"); // dialog's folder|filters, then the Save button
        const QString inis = "|Ini Files (*.ini);All Files (*.*) ";
        const QString wavs = QCoreApplication::applicationDirPath() + "|Wav Files (*.wav) ";
        for (const auto &[tag, command, expected] :
             {std::tuple{"INI, no game folder", "Command1 txtINIfile x.ini",
                         QDir::homePath() + inis + "Save Settings"},
              {"INI again", "Command1 txtINIfile =", "/ut/System" + inis + "Current Settings"},
              {"INI cancelled", "Command1 txtINIfile", "/ut/System" + inis + "Current Settings"},
              {"friend WAV", "CmdBrowseFriend txtFriendWav /n.wav", wavs + "Save Settings"},
              {"foe WAV again", "cmdBrowseEnemy txtEnemyWav /e.wav", wavs + "Current Settings"}})
            QTest::newRow(tag) << QString(command) << expected;
    }
    void browse()
    {
        QFETCH(QString, command);
        QFETCH(QString, expected);
        const QStringList how = command.split(' ');
        const QString chosen = how.value(2) == "=" ? ini() : how.value(2);
        storeAllSettings();
        if (expected.startsWith("/ut")) {
            t->registry().createRegKey(kGameInstallKey);
            t->registry().setRegKeyValue(kGameInstallKey, "Folder", "/ut", Module1::REG_SZ);
        }
        open();
        auto *edit = w->findChild<QLineEdit *>(how[1]);
        const QString before = edit->text();
        dialogs.answers = {chosen};
        w->findChild<QPushButton *>(how[0])->click();
        QCOMPARE(dialogs.shown.value(0) + ' ' + w->cmdSaveSettings->text(), expected);
        QCOMPARE(edit->text(), chosen.isEmpty() ? before : chosen);
        QCOMPARE(w->textBeforeEdit, before);
    }
    // A first start: empty fields, the watch controls off, no polling; then the play buttons,
    // minimising, the tray icon's click and Restore, and the close box.
    void firstStartPlayMinimiseTrayAndClose()
    {
        open();
        for (QLineEdit *f : w->findChildren<QLineEdit *>())
            QVERIFY2(f->text().isEmpty(), qPrintable(f->objectName()));
        QCOMPARE(state(), u"Save Settings0"_qs);
        QCOMPARE(w->size(), QSize(469, 406)); // 7035 x 6090 twips, fixed
        QVERIFY(w->optFriend->isChecked() && w->isVisible() && !app->group.watching());
        w->txtFriendWav->setText("/typed.wav");
        w->cmdPlayFriend->click();
        w->cmdPlayEnemy->click();
        QCOMPARE(sound.played, (QStringList{"/typed.wav", ""}));
        w->showMinimized();
        QCOMPARE(w->timerInterval(), 32768);
        w->Form_MouseMove(QSystemTrayIcon::Trigger);
        QVERIFY(w->isVisible() && !w->isMinimized() && app->group.watching());
        w->tray().mPopRestore->trigger();
        QCOMPARE(w->timerInterval(), 0);
        w->close();
        QVERIFY(!w->tray().trayRecord->isVisible());
    }
};

QTEST_MAIN(FrmMainTest)
#include "tst_frmmain.moc"
