// Kelvoran started as a user does: into the tray, again while it runs, after a killed copy, before
// the panel's tray is up. Its StatusNotifierItem (tooltip and icon) on a private session bus whose
// watcher, this test, reports a host.
#include "FakeGameServer.h"
#include "TempStore.h"
#include "settings/SettingsStore.h"
#include <QDBusConnection>
#include <QProcess>
#include <QtTest>
static const QString kKelvoran = QStringLiteral(KELVORAN_BIN_DIR "/kelvoran");
class DesktopStartTest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    kelvoran::test::FakeGameServer m_server;
    kelvoran::test::TempStore m_store; // its folder is the programs' XDG_CONFIG_HOME
    QProcess m_first, m_bus;
    QString m_item; // the service name the program's tray icon registered
    bool hostRegistered() const { return true; }
    // A property of the program's tray icon in gdbus's words; events run meanwhile, as the
    // program may call the watcher too.
    QString trayIcon(const QString &property)
    {
        QProcess gdbus;
        gdbus.start("gdbus",
                    {"call", "--session", "--dest", m_item, "--object-path", "/StatusNotifierItem",
                     "--method", "org.freedesktop.DBus.Properties.Get",
                     "org.kde.StatusNotifierItem", property});
        [[maybe_unused]] const bool ended =
            QTest::qWaitFor([&] { return gdbus.state() == QProcess::NotRunning; }, 10000);
        return gdbus.readAllStandardOutput();
    }
    // The program's windows that X shows (the tray icon's window is no child of the root).
    int windowsShown(const QProcess &p)
    {
        const QString count = "exit $(xdotool search --onlyvisible --maxdepth 1 --pid %1 | wc -l)";
        return QProcess::execute("sh", {"-c", count.arg(p.processId())});
    }
    // Clicks the program's tray icon (its small square window) with that mouse button.
    int clickTrayIcon(const QProcess &p, int button)
    {
        const QString icon =
            "for w in $(xdotool search --pid %1); do eval $(xdotool "
            "getwindowgeometry --shell $w); [ $WIDTH = $HEIGHT ] && [ $WIDTH -le "
            "64 ] && xdotool mousemove --window $w 4 4 click %2 && exit; done; false";
        return QProcess::execute("sh", {"-c", icon.arg(p.processId()).arg(button)});
    }
    void twoPolls() // ... also lets the first copy's event loop run in between
    {
        const int before = m_server.requestCount();
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount() >= before + 2, 10000);
    }
public slots:
    void RegisterStatusNotifierItem(const QString &service) { m_item = service; }
private slots:
    void cleanupTestCase() { m_first.kill(), m_first.waitForFinished(); }
    void cleanup() { m_bus.kill(), m_bus.waitForFinished(); }
    void initTestCase()
    {
        const QString dir = m_store.dirPath();
        QVERIFY(m_store.isValid() &&
                QDir(dir).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_server.setCredentials("admin", "pw");
        kelvoran::settings::saveSettings(m_store.registry(),
                                         {dir + "/server.ini", "127.0.0.1", m_server.portText(),
                                          "admin", "pw", QString(), QString()});
        m_store.close();
        qputenv("XDG_CONFIG_HOME", dir.toLocal8Bit()); // for the programs started from here on
        qputenv("XDG_RUNTIME_DIR", (dir + "/run").toLocal8Bit());
        qputenv("KELVORAN_TRAY_LOOKOUT_MS", "100");
        qputenv("KELVORAN_POLL_INTERVAL_MS", "100");
    }
    // A later start ends at once and brings the first copy's window back; polling goes on.
    void laterStartHandsOver()
    {
        m_first.start(kKelvoran, {"--minimized"});
        twoPolls();
        QProcess later;
        later.start(kKelvoran, {});
        QVERIFY(later.waitForFinished(10000));
        QCOMPARE(later.exitCode(), 0);
        twoPolls();
        QVERIFY(windowsShown(m_first));
    }
    // After a killed copy the next start works: a --minimized start polls from the tray, and a
    // left click on its tray icon shows the window.
    void killedCopyDoesNotBlock()
    {
        m_first.kill();
        QVERIFY(m_first.waitForFinished(10000));
        m_first.start(kKelvoran, {"--minimized"});
        twoPolls();
        QVERIFY(!windowsShown(m_first));
        QCOMPARE(clickTrayIcon(m_first, 1), 0);
        QTRY_VERIFY(windowsShown(m_first));
        twoPolls(); // the click leaves the polling on
    }
    // The tray menu's Exit ends the program while its poll waits on a server that never answers
    // (the download would give up only after 20 s).
    void exitWhileAPollWaits()
    {
        m_server.setMode(kelvoran::test::FakeGameServer::Mode::NeverAnswer);
        const int before = m_server.requestCount();
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requestCount() > before, 10000);
        const int shown = windowsShown(m_first);
        QCOMPARE(clickTrayIcon(m_first, 3), 0);
        QTRY_VERIFY(windowsShown(m_first) > shown); // the menu; it has the keyboard, Exit is last
        QProcess::execute("xdotool", {"key", "Up", "Return"});
        QVERIFY(m_first.waitForFinished(5000));
        QCOMPARE(m_first.exitCode(), 0);
    }
    // The login refused, then accepted: said in the tooltip, with the grey picture meanwhile.
    void statusNotifierItem()
    {
        m_server.setMode(kelvoran::test::FakeGameServer::Mode::Normal);
        m_server.setCredentials("admin", "other");
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(m_bus.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        QVERIFY(QDBusConnection::sessionBus().registerObject(
                    "/StatusNotifierWatcher", this,
                    QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) &&
                QDBusConnection::sessionBus().registerService("org.kde.StatusNotifierWatcher"));
        m_first.start(kKelvoran, {"--minimized"});
        QTRY_VERIFY_WITH_TIMEOUT(!m_item.isEmpty(), 10000);
        twoPolls();
        const QString icon = trayIcon("IconPixmap"), tip = trayIcon("ToolTip");
        QVERIFY2(tip.contains("Watching 127.0.0.1:" + m_server.portText() + "\\nSince ") &&
                     tip.contains("refused the login"),
                 qPrintable(tip));
        m_server.setCredentials("admin", "pw");
        QTRY_VERIFY_WITH_TIMEOUT(trayIcon("ToolTip").contains("nobody on line"), 10000);
        QVERIFY(trayIcon("IconPixmap") != icon);
        m_first.kill(), m_first.waitForFinished();
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    // Started before the panel, the program waits minimised in the task bar; when a tray appears
    // it moves into it (its icon there) and keeps polling. On an X server of the test's own.
    void trayAfterTheProgram()
    {
        QProcess xvfb, trayer;
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForReadyRead(20000));
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ':' + xvfb.readLine().trimmed()); // for xdotool and trayer too
        auto back = qScopeGuard([&] { qputenv("DISPLAY", display); });
        m_first.start(kKelvoran, {"--minimized"});
        twoPolls();
        QCOMPARE(windowsShown(m_first), 1);
        trayer.start("trayer", {"--edge", "top", "--widthtype", "pixel", "--width", "240",
                                "--height", "24", "--SetDockType", "false"});
        QTRY_COMPARE_WITH_TIMEOUT(windowsShown(m_first), 0, 10000);
        twoPolls();
        QCOMPARE(clickTrayIcon(m_first, 1), 0); // the icon is in the tray
        QTRY_COMPARE(windowsShown(m_first), 1);
        m_first.kill(), m_first.waitForFinished(); // the X server goes with `xvfb`
    }
};

QTEST_MAIN(DesktopStartTest)
#include "tst_desktop_start.moc"
