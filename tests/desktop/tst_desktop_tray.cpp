// The real program's tray: its StatusNotifierItem (tooltip, icon, menu) on a private session bus
// whose watcher reports a host, and the move into a tray that appears only after the program, on
// an X server of the test's own.
#include "FakeGameServer.h"
#include "TempStore.h"
#include "settings/SettingsStore.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>
#include <QtTest>

class DesktopTrayTest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

    kelvoran::test::FakeGameServer m_server;
    kelvoran::test::TempStore m_store; // its folder is the program's XDG_CONFIG_HOME
    QProcess m_bus, m_program;
    QString m_item; // the service name the program's tray icon registered

    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    QProcessEnvironment environment(const QString &display) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString dir = m_store.dirPath();
        env.insert("XDG_CONFIG_HOME", dir);
        env.insert("XDG_RUNTIME_DIR", dir + "/run");
        env.insert("KELVORAN_POLL_INTERVAL_MS", "100");
        env.insert("KELVORAN_TRAY_LOOKOUT_MS", "100");
        env.insert("DISPLAY", display);
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        return env;
    }
    int polls() const { return m_server.requestCount(); }
    void twoPolls()
    {
        const int before = polls();
        QTRY_VERIFY_WITH_TIMEOUT(polls() >= before + 2, 10000);
    }
    // A call into the program; events run meanwhile, as the program may call the watcher too.
    static QDBusMessage call(const QDBusMessage &message)
    {
        const QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(message, 5000);
        [[maybe_unused]] const bool done = QTest::qWaitFor([&] { return pending.isFinished(); });
        return pending.reply();
    }
    QDBusMessage get(const QString &property)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(
            m_item, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
        message << "org.kde.StatusNotifierItem" << property;
        return call(message);
    }
    QString toolTip()
    {
        const QDBusArgument arg = get("ToolTip")
                                      .arguments()
                                      .value(0)
                                      .value<QDBusVariant>()
                                      .variant()
                                      .value<QDBusArgument>();
        QString icon, title, text;
        arg.beginStructure();
        arg >> icon;
        arg.beginArray();
        while (!arg.atEnd()) {
            int w, h;
            QByteArray data;
            arg.beginStructure(), arg >> w >> h >> data, arg.endStructure();
        }
        arg.endArray();
        arg >> title >> text;
        arg.endStructure();
        return title + '\n' + text;
    }
    // Whether the icon's largest picture is grey: every pixel's red, green and blue are equal.
    bool iconGrey()
    {
        const QDBusArgument arg = get("IconPixmap")
                                      .arguments()
                                      .value(0)
                                      .value<QDBusVariant>()
                                      .variant()
                                      .value<QDBusArgument>();
        QByteArray largest;
        arg.beginArray();
        while (!arg.atEnd()) {
            int w, h;
            QByteArray data;
            arg.beginStructure(), arg >> w >> h >> data, arg.endStructure();
            if (data.size() > largest.size())
                largest = data;
        }
        arg.endArray();
        for (qsizetype i = 0; i + 3 < largest.size(); i += 4) { // ARGB, network byte order
            if (largest[i + 1] != largest[i + 2] || largest[i + 2] != largest[i + 3])
                return false;
        }
        return !largest.isEmpty();
    }
    // The labels of the tray menu's items, in order.
    QStringList menuLabels()
    {
        const QString menu = get("Menu")
                                 .arguments()
                                 .value(0)
                                 .value<QDBusVariant>()
                                 .variant()
                                 .value<QDBusObjectPath>()
                                 .path();
        QDBusMessage message =
            QDBusMessage::createMethodCall(m_item, menu, "com.canonical.dbusmenu", "GetLayout");
        message << 0 << -1 << QStringList{"label"};
        const QDBusMessage layout = call(message);
        QStringList labels;
        const std::function<void(const QDBusArgument &)> walk = [&](const QDBusArgument &arg) {
            int id;
            QVariantMap properties;
            arg.beginStructure();
            arg >> id >> properties;
            if (properties.contains("label"))
                labels << properties["label"].toString();
            arg.beginArray();
            while (!arg.atEnd()) {
                QDBusVariant child;
                arg >> child;
                walk(child.variant().value<QDBusArgument>());
            }
            arg.endArray();
            arg.endStructure();
        };
        walk(layout.arguments().value(1).value<QDBusArgument>());
        return labels;
    }

public slots:
    void RegisterStatusNotifierItem(const QString &service) { m_item = service; }
    void RegisterStatusNotifierHost(const QString &) {}

private slots:
    void initTestCase()
    {
        const QString dir = m_store.dirPath();
        QVERIFY(m_store.isValid() &&
                QDir(dir).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        m_server.setCredentials("admin", "other");
        kelvoran::settings::saveSettings(m_store.registry(),
                                         {dir + "/server.ini", "127.0.0.1", m_server.portText(),
                                          "admin", "pw", QString(), QString()});
        m_store.close();
    }
    void cleanup()
    {
        m_program.kill(), m_program.waitForFinished();
        m_bus.kill(), m_bus.waitForFinished();
    }

    void statusNotifierItem()
    {
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(m_bus.waitForReadyRead(10000));
        const QString address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.registerObject("/StatusNotifierWatcher", this,
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllProperties) &&
                bus.registerService("org.kde.StatusNotifierWatcher"));
        QProcessEnvironment env = environment(qEnvironmentVariable("DISPLAY"));
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        m_program.setProcessEnvironment(env);
        m_program.start(KELVORAN_BIN_DIR "/kelvoran", {"--minimized"});
        QTRY_VERIFY_WITH_TIMEOUT(!m_item.isEmpty(), 10000);
        QCOMPARE(menuLabels(), (QStringList{"_Restore", "Mute announcements", "Show Visits", "Exit"}));
        // The login is refused: said in the tooltip, with the grey picture.
        twoPolls();
        QTRY_VERIFY_WITH_TIMEOUT(toolTip().contains("refused the login"), 5000);
        QVERIFY(toolTip().contains("Watching 127.0.0.1:" + m_server.portText()));
        QVERIFY(iconGrey());
        m_server.setCredentials("admin", "pw");
        QTRY_VERIFY_WITH_TIMEOUT(toolTip().contains("nobody on line"), 10000);
        QVERIFY(!iconGrey());
    }

    // Started before the panel, the program waits minimised in the task bar; when a tray appears
    // it moves into it and keeps polling, and its icon there brings the window back.
    void trayAfterTheProgram()
    {
        QProcess xvfb;
        xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        QVERIFY(xvfb.waitForReadyRead(20000));
        const QString display = ':' + xvfb.readLine().trimmed();
        // The program's windows that X shows: top-level ones, or all (the tray icon's included).
        const auto shown = [&](bool topLevel) {
            QProcess xdotool;
            xdotool.setProcessEnvironment(environment(display));
            xdotool.start("xdotool",
                          QStringList{"search", "--onlyvisible", "--pid",
                                      QString::number(m_program.processId())} +
                              (topLevel ? QStringList{"--maxdepth", "1"} : QStringList{}));
            xdotool.waitForFinished();
            return xdotool.readAllStandardOutput().count('\n');
        };
        m_program.setProcessEnvironment(environment(display));
        m_program.start(KELVORAN_BIN_DIR "/kelvoran", {"--minimized"});
        twoPolls();
        QCOMPARE(shown(true) + shown(false), 2);
        QProcess trayer;
        trayer.setProcessEnvironment(environment(display));
        trayer.start("trayer", {"--edge", "top", "--SetDockType", "false"});
        QTRY_COMPARE_WITH_TIMEOUT(shown(true), 0, 10000);
        QCOMPARE(shown(false), 1); // the icon, in the tray
        twoPolls();
        trayer.kill(), trayer.waitForFinished();
        m_program.kill(), m_program.waitForFinished();
        xvfb.kill(), xvfb.waitForFinished();
    }
};

QTEST_MAIN(DesktopTrayTest)
#include "tst_desktop_tray.moc"
