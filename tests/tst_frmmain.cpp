// The window on the offscreen platform: start-up, the settings panel's modes, Save, the INI file,
// the current players, the watch-list commands, the browse and play buttons, polling and the tray
// handlers. Real store and INI files in a temporary folder, the local game server for the page.
#include "FakeGameServer.h"
#include "ModalAnswer.h"
#include "RecordingSoundPlayer.h"
#include "TempStore.h"
#include "app/frmMain.h"
#include "platform/HttpClient.h"
#include "platform/RegistryStore.h"
#include "settings/PanelState.h"
#include "watchlist/Module1.h"
#include "watchlist/WatchList.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace kelvoran;
using namespace kelvoran::Module1;
using kelvoran::app::frmMain;
using kelvoran::test::FakeGameServer;
using kelvoran::test::FakePlayer;
using kelvoran::test::SeenDialog;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

const QByteArray kServerIni = "[Engine.GameInfo]\r\nAdminPassword=\r\n\r\n"
                              "[UWeb.WebServer]\r\nApplications[0]=UTServerAdmin.UTServerAdmin\r\n"
                              "bEnabled=False\r\nListenPort=7777\r\n\r\n"
                              "[UTServerAdmin.UTServerAdmin]\r\nAdminUsername=boss\r\n"
                              "AdminPassword=hunter2\r\n";

} // namespace

class FrmMainTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<test::TempStore> m_store;
    FakeGameServer m_server;
    platform::CurlHttpClient m_http;
    test::RecordingSoundPlayer m_sound;
    std::unique_ptr<frmMain> m_w;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    frmMain &open()
    {
        m_w = std::make_unique<frmMain>(m_http, m_sound);
        m_w->Form_Load();
        m_w->activateWindow();
        [[maybe_unused]] const bool active = QTest::qWaitForWindowActive(m_w.get());
        return *m_w;
    }

    static void storeSetting(const QString &name, const QString &value)
    {
        createRegKey(kSettingsKey, HKEY_LOCAL_MACHINE());
        setRegKeyValue(kSettingsKey, name, value, REG_SZ);
    }

    void storeAllSettings()
    {
        writeAll(path("UnrealTournament.ini"), kServerIni);
        storeSetting("UTIniFile", path("UnrealTournament.ini"));
        storeSetting("UTServerAddress", "127.0.0.1");
        storeSetting("Friend", "/sounds/friend.wav");
        storeSetting("Enemy", "/sounds/foe.wav");
    }

    static void addEntry(const QString &subkey, const QString &flag = kArmed)
    {
        const RegPath p = subPath(kChecklistKey, subkey);
        createRegKey(p, HKEY_LOCAL_MACHINE());
        setRegKeyValue(p, kAnnounceValue, flag, REG_SZ);
    }

    static QString flagOf(const QString &subkey)
    {
        return queryRegText(subPath(kChecklistKey, subkey), kAnnounceValue);
    }

    static QStringList rows(const QListWidget *list)
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }

    QList<QWidget *> watchControls() const
    {
        return {m_w->cmdShowCurrent, m_w->lstPlayers, m_w->lstAdd,
                m_w->cmdAddBoth,     m_w->cmdAddIP,   m_w->cmdAddName,
                m_w->cmdRemoveAll,   m_w->optEnemy,   m_w->optFriend};
    }

    bool watchControlsEnabled() const
    {
        bool all = true, none = true;
        for (QWidget *w : watchControls()) {
            all = all && w->isEnabled();
            none = none && !w->isEnabled();
        }
        if (!all && !none)
            qWarning("watch controls disagree");
        return all && !none;
    }

    // A window with complete, saved settings and the local server's port.
    frmMain &openReady()
    {
        storeAllSettings();
        frmMain &w = open();
        w.txtPortNumber->setFocus(Qt::TabFocusReason);
        w.txtPortNumber->setText(m_server.portText());
        // Clicking moves the focus to the button first, as a user's click does.
        QTest::mouseClick(w.cmdSaveSettings, Qt::LeftButton);
        return w;
    }

    void showPlayers(const QList<FakePlayer> &players)
    {
        m_server.setPlayers(players);
        m_w->cmdShowCurrent_Click();
    }

    void selectRows(QListWidget *list, const QList<int> &which)
    {
        list->clearSelection();
        for (int i : which)
            list->item(i)->setSelected(true);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_server.setCredentials("boss", "hunter2");
        qputenv("HOME", m_dir.path().toLocal8Bit());
    }

    void init()
    {
        m_store = std::make_unique<test::TempStore>();
        QVERIFY(m_store->isValid());
        m_sound.played.clear();
        m_server.setMode(FakeGameServer::Mode::Normal);
        m_server.setPlayers({});
    }

    void cleanup()
    {
        test::cancelPendingAnswers();
        m_w.reset();
        m_store.reset();
        QFile::remove(path("UnrealTournament.ini"));
    }

    // ---- start-up ----------------------------------------------------------------------------

    void firstStartWithEmptyStore()
    {
        frmMain &w = open();
        for (QLineEdit *f : {w.txtINIfile, w.txtIPAddress, w.txtPortNumber, w.txtAdminName,
                             w.txtPassword, w.txtFriendWav, w.txtEnemyWav})
            QVERIFY2(f->text().isEmpty(), qPrintable(f->objectName()));
        QVERIFY(!watchControlsEnabled());
        QCOMPARE(w.lstAdd->count(), 0);
        QCOMPARE(w.timerInterval(), 0);
        QVERIFY(!w.Timer->isActive());
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
        QVERIFY(w.cmdSaveSettings->isEnabled());
        QVERIFY(w.optFriend->isChecked());
        QVERIFY(w.isVisible());
    }

    void startWithAllSettings()
    {
        storeAllSettings();
        addEntry("Frd_Zed");
        addEntry("foe_10.0.0.1");
        frmMain &w = open();
        QCOMPARE(w.txtINIfile->text(), path("UnrealTournament.ini"));
        QCOMPARE(w.txtPortNumber->text(), QStringLiteral("7777"));
        QCOMPARE(w.txtAdminName->text(), QStringLiteral("boss"));
        QCOMPARE(w.txtPassword->text(), QStringLiteral("hunter2"));
        QCOMPARE(w.txtIPAddress->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(w.txtFriendWav->text(), QStringLiteral("/sounds/friend.wav"));
        QCOMPARE(w.txtEnemyWav->text(), QStringLiteral("/sounds/foe.wav"));
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Current Settings"));
        QVERIFY(!w.cmdSaveSettings->isEnabled());
        QVERIFY(watchControlsEnabled());
        QVERIFY(!w.lstIP->isEnabled());
        QCOMPARE(rows(w.lstAdd), (QStringList{"foe_10.0.0.1", "Frd_Zed"}));
        QCOMPARE(w.timerInterval(), 0);
        // Reading the file switched the server's web admin on and changed nothing else.
        QByteArray expected = kServerIni;
        expected.replace("bEnabled=False", "bEnabled=TRUE");
        QCOMPARE(readAll(path("UnrealTournament.ini")), expected);
    }

    void startWithBadIniFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing") << "missing";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("binary") << "binary";
        QTest::newRow("huge") << "huge";
        QTest::newRow("half written") << "half";
    }

    void startWithBadIniFile()
    {
        QFETCH(QString, kind);
        const QString ini = path("bad.ini");
        QByteArray bytes;
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(ini));
        } else if (kind == "binary") {
            for (int i = 0; i < 100000; ++i)
                bytes.append(char((i * 7919) % 256));
        } else if (kind == "huge") {
            bytes = QByteArray(80 * 1024 * 1024, 'x');
            bytes.prepend("[UWeb.WebServer]\r\nListenPort=1\r\n");
        } else if (kind == "half") {
            bytes = "[UWeb.WebServer]\r\nbEnabled=Tr";
        }
        if (!bytes.isEmpty())
            writeAll(ini, bytes);
        storeSetting("UTIniFile", ini);
        frmMain &w = open();
        if (kind == "half") {
            QCOMPARE(w.txtPortNumber->text(), QStringLiteral("8888"));
        } else {
            QCOMPARE(w.txtPortNumber->text(), QStringLiteral("8888"));
            QCOMPARE(w.txtAdminName->text(), QString());
            QCOMPARE(w.txtPassword->text(), QString());
        }
        QCOMPARE(w.txtINIfile->text(), ini);
        if (!bytes.isEmpty())
            QCOMPARE(readAll(ini), bytes);
        QVERIFY(!watchControlsEnabled());
        QDir(ini).removeRecursively();
        QFile::remove(ini);
    }

    void startWithReadOnlyIniFile()
    {
        const QString ini = path("readonly.ini");
        writeAll(ini, kServerIni);
        QVERIFY(QFile::setPermissions(ini, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        storeSetting("UTIniFile", ini);
        frmMain &w = open();
        // The values are read; switching the web admin on cannot be written and changes nothing.
        QCOMPARE(w.txtPortNumber->text(), QStringLiteral("7777"));
        QCOMPARE(w.txtAdminName->text(), QStringLiteral("boss"));
        QCOMPARE(readAll(ini), kServerIni);
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        QFile::remove(ini);
    }

    void webServerSwitch_data()
    {
        QTest::addColumn<QByteArray>("enabled");
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("False") << QByteArray("bEnabled=False\r\n") << true;
        QTest::newRow("false") << QByteArray("bEnabled=false\r\n") << true;
        QTest::newRow("FALSE") << QByteArray("bEnabled=FALSE\r\n") << true;
        QTest::newRow("0") << QByteArray("bEnabled=0\r\n") << false;
        QTest::newRow("TRUE") << QByteArray("bEnabled=TRUE\r\n") << false;
        QTest::newRow("missing") << QByteArray() << false;
    }

    void webServerSwitch()
    {
        QFETCH(QByteArray, enabled);
        QFETCH(bool, rewritten);
        const QByteArray original =
            "; server\r\n[UWeb.WebServer]\r\n" + enabled + "ListenPort=\r\n";
        writeAll(path("UnrealTournament.ini"), original);
        storeSetting("UTIniFile", path("UnrealTournament.ini"));
        frmMain &w = open();
        QCOMPARE(w.txtPortNumber->text(), QStringLiteral("8888"));
        QByteArray expected = original;
        if (rewritten)
            expected.replace(enabled, "bEnabled=TRUE\r\n");
        QCOMPARE(readAll(path("UnrealTournament.ini")), expected);
    }

    // ---- settings panel ----------------------------------------------------------------------

    void saveRefusedWhileAConnectionFieldIsEmpty_data()
    {
        QTest::addColumn<QString>("emptyField");
        for (const char *f : {"txtIPAddress", "txtPortNumber", "txtAdminName", "txtPassword"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }

    void saveRefusedWhileAConnectionFieldIsEmpty()
    {
        QFETCH(QString, emptyField);
        frmMain &w = open();
        w.txtINIfile->setText(path("UnrealTournament.ini"));
        for (QLineEdit *f : {w.txtIPAddress, w.txtPortNumber, w.txtAdminName, w.txtPassword})
            f->setText(f->objectName() == emptyField ? QString() : QStringLiteral(" "));
        const quint64 writes = (*m_store)->committedWrites();
        SeenDialog seen;
        test::acceptNextMessage(&seen);
        QTest::mouseClick(w.cmdSaveSettings, Qt::LeftButton);
        QCOMPARE(seen.count, 1);
        QCOMPARE(seen.title, QStringLiteral("Kelvoran"));
        QCOMPARE(seen.text, QStringLiteral("Please enter all fields!"));
        QCOMPARE((*m_store)->committedWrites(), writes);
        QVERIFY(!QFile::exists(path("UnrealTournament.ini")));
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
    }

    void saveWithEmptyIniPathWritesNoIniFile()
    {
        frmMain &w = open();
        const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);
        w.txtIPAddress->setText("utserver.example");
        w.txtPortNumber->setText("not a port");
        w.txtAdminName->setText("boss");
        w.txtPassword->setText("pw");
        w.cmdSaveSettings_Click();
        QCOMPARE(queryRegText(kSettingsKey, "UTServerAddress"), QStringLiteral("utserver.example"));
        QVERIFY((*m_store)->openKey({"Software", "Kelvoran", "checklist"}) != platform::kNoKey);
        for (const char *v : {"UTIniFile", "Friend", "Enemy"}) {
            QVariant value;
            const platform::KeyHandle key = (*m_store)->openKey(kSettingsKey);
            readRegValue(key, QString::fromLatin1(v), value);
            (*m_store)->closeKey(key);
            QVERIFY2(value.isValid() && value.toString().isEmpty(), v);
        }
        // No file appeared anywhere.
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
        QVERIFY(QDir(QDir::currentPath()).entryList({"*.ini"}, QDir::Files).isEmpty());
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Current Settings"));
        QVERIFY(!w.cmdSaveSettings->isEnabled());
        QVERIFY(!watchControlsEnabled()); // three fields are still empty
    }

    void saveWritesTheIniFileAndTheNextStartLoadsIt()
    {
        writeAll(path("UnrealTournament.ini"), kServerIni);
        frmMain &w = open();
        w.txtINIfile->setText(path("UnrealTournament.ini"));
        w.txtIPAddress->setText("10.1.1.1");
        w.txtPortNumber->setText("8080");
        w.txtAdminName->setText("root");
        w.txtPassword->setText("p@ss:/#word");
        w.txtFriendWav->setText("/f.wav");
        w.txtEnemyWav->setText("/e.wav");
        w.cmdSaveSettings_Click();
        QVERIFY(watchControlsEnabled());
        QByteArray expected = kServerIni;
        expected.replace("ListenPort=7777", "ListenPort=8080");
        expected.replace("AdminUsername=boss", "AdminUsername=root");
        expected.replace("AdminPassword=hunter2", "AdminPassword=p@ss:/#word");
        QCOMPARE(readAll(path("UnrealTournament.ini")), expected);
        // The port, name and password live only in the INI file.
        QCOMPARE(queryRegText(kSettingsKey, "ListenPort"), QString());
        m_w.reset();
        m_store->reopen(); // as a restart of the program would

        frmMain &again = open();
        QCOMPARE(again.txtPortNumber->text(), QStringLiteral("8080"));
        QCOMPARE(again.txtAdminName->text(), QStringLiteral("root"));
        QCOMPARE(again.txtPassword->text(), QStringLiteral("p@ss:/#word"));
        QCOMPARE(again.txtIPAddress->text(), QStringLiteral("10.1.1.1"));
        QCOMPARE(again.cmdSaveSettings->text(), QStringLiteral("Current Settings"));
    }

    void editsSwitchTheSaveButtonPerField()
    {
        frmMain &w = openReady();
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Current Settings"));
        QVERIFY(watchControlsEnabled());

        // Typing disables the watch controls; typing the old text back restores the mode.
        w.txtIPAddress->setFocus(Qt::TabFocusReason);
        QCOMPARE(w.textBeforeEdit, QStringLiteral("127.0.0.1"));
        QTest::keyClick(w.txtIPAddress, Qt::Key_End);
        QTest::keyClicks(w.txtIPAddress, "9");
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
        QVERIFY(w.cmdSaveSettings->isEnabled());
        QVERIFY(!watchControlsEnabled());
        QTest::keyClick(w.txtIPAddress, Qt::Key_Backspace);
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Current Settings"));
        QVERIFY(watchControlsEnabled());

        // Letter case alone is an edit.
        w.txtAdminName->setFocus(Qt::TabFocusReason);
        w.txtAdminName->setText("BOSS");
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));

        // Another field, entered and left unchanged, compares with its own text.
        w.txtPassword->setFocus(Qt::TabFocusReason);
        QCOMPARE(w.textBeforeEdit, QStringLiteral("hunter2"));
        w.txtFriendWav->setFocus(Qt::TabFocusReason);
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Current Settings"));
        QCOMPARE(w.txtAdminName->text(), QStringLiteral("BOSS"));
    }

    void tabbingThroughTheIniBrowseButton()
    {
        frmMain &w = openReady();
        w.txtIPAddress->setFocus(Qt::TabFocusReason); // textBeforeEdit: the address
        w.Command1->setFocus(Qt::TabFocusReason);
        w.txtPortNumber->setFocus(Qt::TabFocusReason); // the button loses the focus
        // Leaving txtIPAddress unchanged gave the current mode; the INI path differs from the
        // address held in textBeforeEdit, so the button's own check gives the changed mode.
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
        QVERIFY(!watchControlsEnabled());
    }

    // ---- current players ----------------------------------------------------------------------

    void showCurrentListsThePlayersInPageOrder()
    {
        frmMain &w = openReady();
        showPlayers({{"Cy", "10.0.0.3"}, {"ann", "10.0.0.1"}, {"Big&nbsp;Bob", "10.0.0.2"}});
        QCOMPARE(rows(w.lstPlayers), (QStringList{"ann", "BigBob", "Cy"}));
        QCOMPARE(rows(w.lstIP), (QStringList{"10.0.0.1", "10.0.0.2", "10.0.0.3"}));
        showPlayers({{"Dee", "10.0.0.4"}});
        QCOMPARE(rows(w.lstPlayers), QStringList{"Dee"});
        QCOMPARE(rows(w.lstIP), QStringList{"10.0.0.4"});
        QVERIFY(m_sound.played.isEmpty());
    }

    void showCurrentFailures_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("flagAfter");
        QTest::newRow("unreachable") << "down"
                                     << "NO";
        QTest::newRow("wrong password") << "401"
                                        << "NO";
        QTest::newRow("table without players") << "empty"
                                               << "YES";
    }

    void showCurrentFailures()
    {
        QFETCH(QString, situation);
        QFETCH(QString, flagAfter);
        frmMain &w = openReady();
        addEntry("Frd_Bob", kAnnounced);
        showPlayers({{"Old", "10.0.0.9"}});
        QCOMPARE(w.lstPlayers->count(), 1);
        if (situation == "down") {
            // A port nothing listens on any more.
            w.txtPortNumber->setText(FakeGameServer().portText());
        } else if (situation == "401") {
            w.txtPassword->setText("wrong");
        }
        // Only bots on line: a table, but no player rows in it.
        m_server.setPlayers({{"Bot1", "", "", 0, 0, true, false}});
        SeenDialog seen;
        test::acceptNextMessage(&seen);
        w.cmdShowCurrent_Click();
        QCOMPARE(seen.count, 1);
        QCOMPARE(seen.title, QStringLiteral("Kelvoran"));
        QCOMPARE(seen.text, QStringLiteral("No players on-line."));
        QCOMPARE(w.lstPlayers->count(), 0);
        QCOMPARE(w.lstIP->count(), 0);
        QCOMPARE(flagOf("Frd_Bob"), flagAfter);
    }

    // ---- watch-list editing -------------------------------------------------------------------

    void addByPrompt_data()
    {
        QTest::addColumn<bool>("foe");
        QTest::addColumn<bool>("byAddress");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("row");
        QTest::newRow("friend name") << false << false << "Bob"
                                     << "Enter FRIEND Player Name"
                                     << "Frd_Bob";
        QTest::newRow("foe name") << true << false << "Bob"
                                  << "Enter FOE Player Name"
                                  << "Foe_Bob";
        QTest::newRow("friend address") << false << true << "10.0.0.7"
                                        << "Enter FRIEND IP Address"
                                        << "Frd_10.0.0.7";
        QTest::newRow("foe address") << true << true << " 10.0.0.7 "
                                     << "Enter FOE IP Address"
                                     << "Foe_ 10.0.0.7 ";
        QTest::newRow("blanks kept") << false << false << "  Big Bob "
                                     << "Enter FRIEND Player Name"
                                     << "Frd_  Big Bob ";
        QTest::newRow("backslash") << false << false << "a\\b"
                                   << "Enter FRIEND Player Name"
                                   << "Frd_a\\b";
        QTest::newRow("non-Latin")
            << true << false << QString::fromUtf8("Дмитрий_東京") << "Enter FOE Player Name"
            << QString::fromUtf8("Foe_Дмитрий_東京");
        QTest::newRow("1000 characters")
            << false << false << QString(1000, QChar(u'x')) << "Enter FRIEND Player Name"
            << "Frd_" + QString(1000, QChar(u'x'));
    }

    void addByPrompt()
    {
        QFETCH(bool, foe);
        QFETCH(bool, byAddress);
        QFETCH(QString, typed);
        QFETCH(QString, prompt);
        QFETCH(QString, row);
        frmMain &w = openReady();
        (foe ? w.optEnemy : w.optFriend)->setChecked(true);
        SeenDialog seen;
        test::answerNextInput(&seen, typed);
        QTest::mouseClick(byAddress ? w.cmdAddIP : w.cmdAddName, Qt::LeftButton);
        QCOMPARE(seen.count, 1);
        QCOMPARE(seen.title, QStringLiteral("Kelvoran"));
        QCOMPARE(seen.text, prompt);
        QCOMPARE(rows(w.lstAdd), QStringList{row});
        QCOMPARE(flagOf(row), kArmed);
        QCOMPARE(entryNames(kChecklistKey), QStringList{row});
        // What was stored is listed the same at the next start.
        m_w.reset();
        QCOMPARE(rows(open().lstAdd), QStringList{row});
    }

    void promptCancelledOrEmptyAddsNothing()
    {
        frmMain &w = openReady();
        SeenDialog seen;
        test::answerNextInput(&seen, "Bob", /*cancel=*/true);
        w.cmdAddName_Click();
        test::answerNextInput(&seen, "");
        w.cmdAddIP_Click();
        QCOMPARE(seen.count, 2);
        QCOMPARE(w.lstAdd->count(), 0);
        QVERIFY(entryNames(kChecklistKey).isEmpty());
    }

    void addingANameAgainByPromptArmsTheEntry()
    {
        addEntry("Frd_BOB", kAnnounced);
        frmMain &w = openReady();
        SeenDialog seen;
        test::answerNextInput(&seen, "Bob");
        w.cmdAddName_Click();
        QCOMPARE(rows(w.lstAdd), (QStringList{"Frd_BOB", "Frd_Bob"}));
        QCOMPARE(entryNames(kChecklistKey), QStringList{"Frd_BOB"});
        QCOMPARE(flagOf("Frd_BOB"), kArmed);
    }

    void addBothFromTheLists()
    {
        frmMain &w = openReady();
        showPlayers({{"Ann", "10.0.0.1"}, {"Bob", "10.0.0.2"}, {"Cy", "10.0.0.3"}});
        w.optEnemy->setChecked(true);
        selectRows(w.lstPlayers, {0, 2});
        // The address list follows the name list's selection.
        QVERIFY(w.lstIP->item(0)->isSelected());
        QVERIFY(!w.lstIP->item(1)->isSelected());
        QVERIFY(w.lstIP->item(2)->isSelected());
        QTest::mouseClick(w.cmdAddBoth, Qt::LeftButton);
        QCOMPARE(rows(w.lstAdd),
                 (QStringList{"Foe_Ann", "Foe_Cy", "Foe_10.0.0.1", "Foe_10.0.0.3"}));
        QCOMPARE(entryNames(kChecklistKey).size(), 4);
        // The same selection again adds nothing: those players are already watched as foes.
        w.cmdAddBoth_Click();
        QCOMPARE(w.lstAdd->count(), 4);
        // As friends they are new.
        w.optFriend->setChecked(true);
        w.cmdAddName_Click();
        QCOMPARE(rows(w.lstAdd).mid(4), (QStringList{"Frd_Ann", "Frd_Cy"}));
    }

    void rowsButNoSelectionAddNothingAndAskNothing()
    {
        frmMain &w = openReady();
        showPlayers({{"Ann", "10.0.0.1"}});
        w.lstPlayers->clearSelection();
        SeenDialog seen;
        test::answerNextInput(&seen, "ShouldNotBeAsked");
        w.cmdAddName_Click();
        w.cmdAddIP_Click();
        QTest::qWait(100);
        QCOMPARE(seen.count, 0);
        QCOMPARE(w.lstAdd->count(), 0);
        QVERIFY(entryNames(kChecklistKey).isEmpty());
    }

    void aBotsEmptyAddressIsNotAdded()
    {
        frmMain &w = openReady();
        m_server.setPlayers({{"Ann", "10.0.0.1"}, {"Watcher", "10.0.0.2", "", 0, 0, false, true}});
        w.cmdShowCurrent_Click();
        QCOMPARE(rows(w.lstPlayers), (QStringList{"Ann", "Watcher(Spectator)"}));
        m_server.setMode(FakeGameServer::Mode::RawBody);
        QByteArray page = FakeGameServer::playersPage({{"Ann", "10.0.0.1"}, {"Cy", "10.0.0.3"}});
        page.replace("10.0.0.3", "");
        m_server.setRawBody(page);
        w.cmdShowCurrent_Click();
        QCOMPARE(rows(w.lstIP), (QStringList{"10.0.0.1", ""}));
        selectRows(w.lstPlayers, {0, 1});
        w.cmdAddIP_Click();
        QCOMPARE(rows(w.lstAdd), QStringList{"Frd_10.0.0.1"});
    }

    void deleting_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("left");
        const QStringList three{"Foe_A", "Frd_B", "Frd_C"};
        QTest::newRow("Delete, nothing selected")
            << three << QList<int>{} << int(Qt::Key_Delete) << 0 << three;
        QTest::newRow("Delete, two selected")
            << three << QList<int>{0, 2} << int(Qt::Key_Delete) << 0 << QStringList{"Frd_B"};
        QTest::newRow("keypad Del") << three << QList<int>{1} << int(Qt::Key_Delete)
                                    << int(Qt::KeypadModifier) << QStringList{"Foe_A", "Frd_C"};
        QTest::newRow("keypad decimal point")
            << three << QList<int>{1} << int(Qt::Key_Period) << int(Qt::KeypadModifier)
            << QStringList{"Foe_A", "Frd_C"};
        QTest::newRow("another key") << three << QList<int>{1} << int(Qt::Key_A) << 0 << three;
        QTest::newRow("period off the keypad")
            << three << QList<int>{1} << int(Qt::Key_Period) << 0 << three;
    }

    void deleting()
    {
        QFETCH(QStringList, stored);
        QFETCH(QList<int>, selected);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QStringList, left);
        for (const QString &s : stored)
            addEntry(s);
        frmMain &w = openReady();
        selectRows(w.lstAdd, selected);
        w.lstAdd->setFocus();
        QTest::keyClick(w.lstAdd, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(entryNames(kChecklistKey), left);
        QCOMPARE(rows(w.lstAdd), left);
    }

    void deletingTwoIdenticalRows()
    {
        frmMain &w = openReady();
        for (int i = 0; i < 2; ++i) {
            SeenDialog seen;
            test::answerNextInput(&seen, "Bob");
            w.cmdAddName_Click();
        }
        QCOMPARE(rows(w.lstAdd), (QStringList{"Frd_Bob", "Frd_Bob"}));
        selectRows(w.lstAdd, {0, 1});
        w.lstAdd_KeyDown(Qt::Key_Delete, Qt::NoModifier);
        QCOMPARE(w.lstAdd->count(), 0);
        QVERIFY(entryNames(kChecklistKey).isEmpty());
    }

    void removeAllDeletesWhatIsListedThenRefills()
    {
        addEntry("Frd_A");
        addEntry("Foe_B");
        frmMain &w = openReady();
        addEntry("Frd_Late"); // stored after the box was filled: not listed, so not deleted
        w.cmdRemoveAll_Click();
        QCOMPARE(rows(w.lstAdd), QStringList{"Frd_Late"});
        QCOMPARE(entryNames(kChecklistKey), QStringList{"Frd_Late"});
    }

    // ---- sounds -------------------------------------------------------------------------------

    void playButtonsPlayTheFieldsAsTheyStand()
    {
        frmMain &w = openReady();
        w.txtFriendWav->setText("/typed/friend.wav");
        QTest::mouseClick(w.cmdPlayFriend, Qt::LeftButton);
        QTest::mouseClick(w.cmdPlayEnemy, Qt::LeftButton);
        w.txtEnemyWav->clear();
        w.cmdPlayEnemy_Click();
        QCOMPARE(m_sound.played, (QStringList{"/typed/friend.wav", "/sounds/foe.wav", ""}));
    }

    void browseForWav()
    {
        frmMain &w = openReady();
        const QString wav = path("Friend Join.WAV");
        writeAll(wav, "RIFF");
        QString startDir;
        QStringList filters;
        auto choose = [&](const QString &file) {
            test::answerNextModal([&, file](QWidget *d) {
                auto *dialog = qobject_cast<QFileDialog *>(d);
                QVERIFY(dialog);
                startDir = dialog->directory().absolutePath();
                filters = dialog->nameFilters();
                if (file.isEmpty()) {
                    dialog->reject();
                } else {
                    dialog->selectFile(file);
                    static_cast<QDialog *>(dialog)->accept();
                }
            });
        };
        choose(wav);
        w.CmdBrowseFriend_Click();
        QCOMPARE(startDir, QCoreApplication::applicationDirPath());
        QCOMPARE(filters, QStringList{"Wav Files (*.wav)"});
        QCOMPARE(w.txtFriendWav->text(), wav);
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
        QVERIFY(w.cmdSaveSettings->isEnabled());

        // The same file again: the current mode, though the first choice is still unsaved.
        choose(wav);
        w.CmdBrowseFriend_Click();
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Current Settings"));

        // Cancel changes nothing but the text kept for the change check.
        w.txtIPAddress->setFocus(Qt::TabFocusReason);
        w.txtIPAddress->setText("changed");
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
        choose(QString());
        w.cmdBrowseEnemy_Click();
        QCOMPARE(w.txtEnemyWav->text(), QStringLiteral("/sounds/foe.wav"));
        QCOMPARE(w.textBeforeEdit, QStringLiteral("/sounds/foe.wav"));
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
    }

    void browseForIni_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expectedStart");
        QTest::newRow("no game folder: home") << QString() << "home";
        QTest::newRow("game folder: its System folder") << "game"
                                                        << "game/System";
    }

    void browseForIni()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expectedStart);
        QVERIFY(QDir().mkpath(path("game/System")));
        if (!folder.isEmpty()) {
            createRegKey(kGameInstallKey, HKEY_LOCAL_MACHINE());
            setRegKeyValue(kGameInstallKey, "Folder", path(folder), REG_SZ);
        }
        const QString ini = path("game/System/UnrealTournament.ini");
        writeAll(ini, kServerIni);
        frmMain &w = open();
        QString startDir;
        QStringList filters;
        test::answerNextModal([&](QWidget *d) {
            auto *dialog = qobject_cast<QFileDialog *>(d);
            QVERIFY(dialog);
            startDir = dialog->directory().absolutePath();
            filters = dialog->nameFilters();
            dialog->selectFile(ini);
            static_cast<QDialog *>(dialog)->accept();
        });
        w.Command1_Click();
        const QString expected = expectedStart == "home" ? m_dir.path() : path(expectedStart);
        QCOMPARE(QDir(startDir).canonicalPath(), QDir(expected).canonicalPath());
        QCOMPARE(filters, (QStringList{"Ini Files (*.ini)", "All Files (*.*)"}));
        QCOMPARE(w.txtINIfile->text(), ini);
        QCOMPARE(w.txtPortNumber->text(), QStringLiteral("7777"));
        QCOMPARE(w.txtAdminName->text(), QStringLiteral("boss"));
        QCOMPARE(w.txtPassword->text(), QStringLiteral("hunter2"));
        QVERIFY(readAll(ini).contains("bEnabled=TRUE\r\n"));
        QCOMPARE(w.cmdSaveSettings->text(), QStringLiteral("Save Settings"));
        QFile::remove(ini);
    }

    // ---- polling, window state, tray ----------------------------------------------------------

    void minimisingStartsPollingAndTicksAnnounce()
    {
        frmMain &w = openReady();
        addEntry("Frd_Bob");
        m_server.setPlayers({{"Bob", "10.0.0.1"}});
        w.showMinimized();
        QTRY_VERIFY(w.windowState() & Qt::WindowMinimized);
        QCOMPARE(w.timerInterval(), 32768);
        QVERIFY(w.Timer->isActive());
        QCOMPARE(w.Timer->interval(), 32768);
        // No tray on this platform: the window stays reachable, minimised, instead of hiding.
        QVERIFY(w.isVisible());
        QVERIFY(m_sound.played.isEmpty()); // the first poll comes one interval later
        w.Timer_Timer();
        QCOMPARE(m_sound.played, QStringList{"/sounds/friend.wav"});
        QCOMPARE(flagOf("Frd_Bob"), kAnnounced);
    }

    void trayClickKeepsPollingMenuRestoreStopsIt()
    {
        frmMain &w = openReady();
        w.showMinimized();
        QCOMPARE(w.timerInterval(), 32768);
        w.Form_MouseMove(QSystemTrayIcon::Trigger);
        QVERIFY(!(w.windowState() & Qt::WindowMinimized));
        QVERIFY(w.isVisible());
        QCOMPARE(w.timerInterval(), 32768);
        w.Form_MouseMove(QSystemTrayIcon::Context);
        QCOMPARE(w.timerInterval(), 32768);
        w.Form_MouseMove(QSystemTrayIcon::DoubleClick);
        QCOMPARE(w.timerInterval(), 32768);
        w.mPopRestore->trigger();
        QCOMPARE(w.timerInterval(), 0);
        QVERIFY(!w.Timer->isActive());
        QVERIFY(w.isVisible());
    }

    void trayIconAndMenu()
    {
        frmMain &w = open();
        QCOMPARE(w.trayRecord->toolTip(), QStringLiteral("Kelvoran"));
        QCOMPARE(w.trayRecord->contextMenu(), w.mPopupSys);
        const QList<QAction *> items = w.mPopupSys->actions();
        QCOMPARE(items.size(), 2);
        QCOMPARE(items.at(0)->text(), QStringLiteral("&Restore"));
        QCOMPARE(items.at(1)->text(), QStringLiteral("Exit"));
        QVERIFY(!w.trayRecord->icon().isNull());
        QVERIFY(w.trayRecord->icon().availableSizes().contains(QSize(16, 16)));
    }

    void closingUnloadsAndStopsPolling()
    {
        frmMain &w = openReady();
        w.showMinimized();
        QVERIFY(w.Timer->isActive());
        w.mPopExit->trigger();
        QVERIFY(!w.Timer->isActive());
        QVERIFY(!w.trayRecord->isVisible());
        QVERIFY(!w.isVisible());
    }

    // ---- layout -------------------------------------------------------------------------------

    void layoutFollowsTheTwipsTable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("fraAdmin") << "fraAdmin" << QRect(0, 120, 6975, 3015);
        QTest::newRow("fraAnnouce") << "fraAnnouce" << QRect(0, 3120, 6975, 2895);
        QTest::newRow("cmdSaveSettings") << "cmdSaveSettings" << QRect(2280, 240, 2895, 375);
        QTest::newRow("txtINIfile") << "txtINIfile" << QRect(2160, 840, 4095, 285);
        QTest::newRow("txtPortNumber") << "txtPortNumber" << QRect(5280, 1320, 1575, 270);
        QTest::newRow("cmdPlayEnemy") << "cmdPlayEnemy" << QRect(6360, 2520, 495, 285);
        QTest::newRow("lstIP") << "lstIP" << QRect(1920, 720, 1695, 2010);
        QTest::newRow("lstAdd") << "lstAdd" << QRect(5040, 720, 1815, 2010);
        QTest::newRow("cmdRemoveAll") << "cmdRemoveAll" << QRect(3720, 2400, 1215, 375);
    }

    void layoutFollowsTheTwipsTable()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        frmMain &w = open();
        auto *widget = w.findChild<QWidget *>(name);
        QVERIFY(widget);
        auto px = [](int t) { return (t + 7) / 15; };
        QCOMPARE(widget->geometry(),
                 QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
        QCOMPARE(w.size(), QSize(469, 406));
    }

    void captionsFitTheirControls()
    {
        frmMain &w = open();
        for (QLabel *l : w.findChildren<QLabel *>()) {
            const int need = l->fontMetrics().horizontalAdvance(l->text());
            QVERIFY2(need <= l->width(), qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                        .arg(l->objectName())
                                                        .arg(need)
                                                        .arg(l->width())));
        }
        for (QAbstractButton *b : w.findChildren<QAbstractButton *>()) {
            if (b->text().isEmpty())
                continue;
            const int need = b->fontMetrics().horizontalAdvance(b->text()) +
                             (qobject_cast<QRadioButton *>(b) ? 20 : 6);
            QVERIFY2(need <= b->width(), qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                        .arg(b->objectName())
                                                        .arg(need)
                                                        .arg(b->width())));
        }
        QCOMPARE(w.txtPassword->echoMode(), QLineEdit::Password);
        QCOMPARE(w.font().pointSizeF(), 8.25);
    }

    void tabOrderFollowsTheTabIndexes()
    {
        frmMain &w = open();
        for (QWidget *c : watchControls())
            c->setEnabled(true);
        const QStringList expected{
            "txtINIfile",     "Command1",     "txtIPAddress",    "txtPortNumber", "txtAdminName",
            "txtPassword",    "txtFriendWav", "CmdBrowseFriend", "cmdPlayFriend", "txtEnemyWav",
            "cmdBrowseEnemy", "cmdPlayEnemy", "cmdShowCurrent",  "optFriend"};
        QWidget *at = w.txtINIfile;
        for (qsizetype i = 1; i < expected.size(); ++i) {
            at = at->nextInFocusChain();
            while (at->focusPolicy() == Qt::NoFocus || !at->isEnabled())
                at = at->nextInFocusChain();
            QCOMPARE(at->objectName(), expected.at(i));
        }
    }
};

QTEST_MAIN(FrmMainTest)
#include "tst_frmmain.moc"
