// Kelvoran started as a user does: into the tray, again while it runs, after a killed copy.
#include "FakeGameServer.h"
#include "TempStore.h"
#include "settings/SettingsStore.h"

#include <QProcess>
#include <QtTest>

static const QString kKelvoran = QStringLiteral(KELVORAN_BIN_DIR "/kelvoran");

class DesktopStartTest : public QObject
{
    Q_OBJECT
    kelvoran::test::FakeGameServer m_server;
    kelvoran::test::TempStore m_store; // its folder is the programs' XDG_CONFIG_HOME
    QProcess m_first;

    // Whether X shows the program's window (the tray icon's window is no child of the root).
    bool windowShown(const QProcess &p)
    {
        const QString search = "test -n \"$(xdotool search --onlyvisible --maxdepth 1 --pid %1)\"";
        return QProcess::execute("sh", {"-c", search.arg(p.processId())}) == 0;
    }
    void twoPolls() // ... also lets the first copy's event loop run in between
    {
        const int before = m_server.requestCount();
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount() >= before + 2, 10000);
    }

private slots:
    void cleanupTestCase() { m_first.kill(), m_first.waitForFinished(); }
    void initTestCase()
    {
        const QString dir = m_store.dirPath();
        QVERIFY(m_store.isValid() &&
                QDir(dir).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_server.setCredentials("admin", "pw");
        kelvoran::settings::saveSettings({dir + "/server.ini", "127.0.0.1", m_server.portText(),
                                          "admin", "pw", QString(), QString()});
        m_store.close();
        qputenv("XDG_CONFIG_HOME", dir.toLocal8Bit()); // for the programs started from here on
        qputenv("XDG_RUNTIME_DIR", (dir + "/run").toLocal8Bit());
        qputenv("KELVORAN_POLL_INTERVAL_MS", "100");
    }

    void minimizedStartPollsFromTheTray()
    {
        m_first.start(kKelvoran, {"--minimized"});
        twoPolls();
        QVERIFY(!windowShown(m_first));
    }

    // A later start ends at once and brings the first copy's window back; polling goes on.
    void laterStartHandsOver()
    {
        QProcess later;
        later.start(kKelvoran, {});
        QVERIFY(later.waitForFinished(10000));
        QCOMPARE(later.exitCode(), 0);
        twoPolls();
        QVERIFY(windowShown(m_first));
    }

    void killedCopyDoesNotBlock()
    {
        m_first.kill();
        QVERIFY(m_first.waitForFinished(10000));
        m_first.start(kKelvoran, {"--minimized"});
        twoPolls();
    }
};

QTEST_MAIN(DesktopStartTest)
#include "tst_desktop_start.moc"
