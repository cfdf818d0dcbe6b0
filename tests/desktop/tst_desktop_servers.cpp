// Kelvoran watching three servers from the tray, as installed: its own web admin server (nobody
// there), a second web admin server "CTF" where Bob plays, and a public server answering the
// game's status query, where [DS]Bob plays. Heard on the sound server, shown by a notification
// service (this test, on a private session bus), and kept in the visit log.
#include "FakeGameServer.h"
#include "FakeQueryServer.h"
#include "SinkRecorder.h"
#include "TempStore.h"
#include "settings/ServerStore.h"
#include "settings/SettingsStore.h"
#include <QDBusConnection>
#include <QtTest>
using namespace kelvoran;
class DesktopServersTest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
    QStringList m_shown; // "summary|body"
public slots:
    QStringList GetCapabilities() { return {"body"}; }
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &, const QVariantMap &, int)
    {
        m_shown << summary + '|' + body;
        return 1;
    }
private slots:
    void bobOnTheSecondServerAndOnAPublicOne()
    {
        test::TempStore t;
        test::FakeGameServer own, ctf;
        test::FakeQueryServer pub;
        ctf.setPlayers({{"Bob", "10.0.0.1"}});
        const QString dir = t.dirPath();
        for (const auto &[hz, name] : {std::pair{"300", "friend"}, {"1200", "foe"}})
            QProcess::execute("sox", {"-n", dir + '/' + name + ".wav", "synth", "0.3", "sine", hz});
        settings::saveSettings(t.registry(),
                               {dir + "/server.ini", "127.0.0.1", own.portText(), "admin", "pw",
                                dir + "/friend.wav", dir + "/foe.wav"});
        t.registry().addEntry("Frd_Bob");
        t.registry().addEntry("Foe_[DS]Bob");
        watch::ServerConfig second{.name = "CTF", .address = "127.0.0.1", .port = ctf.portText()};
        watch::ServerConfig third{.kind = watch::ServerConfig::Kind::Public,
                                  .address = "127.0.0.1",
                                  .port = "7777",
                                  .queryPort = QString::number(pub.port())};
        QVERIFY(settings::storeServer(t.registry(), second) &&
                settings::storeServer(t.registry(), third));
        t.close();
        QProcess bus, kelvoran;
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = bus.readLine().trimmed();
        QDBusConnection service = QDBusConnection::connectToBus(address, "service");
        QVERIFY(service.registerObject("/org/freedesktop/Notifications", this,
                                       QDBusConnection::ExportAllSlots) &&
                service.registerService("org.freedesktop.Notifications"));
        test::SinkRecorder recorder;
        const QString heard = dir + "/heard.wav";
        QVERIFY2(recorder.start(heard), "no sound sink");
        QTRY_VERIFY(QFileInfo(heard).size() > 4096); // parecord records
        QVERIFY(QDir(dir).mkdir("run", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const auto &[name, value] : {std::pair{"XDG_CONFIG_HOME", dir},
                                          {"XDG_RUNTIME_DIR", dir + "/run"},
                                          {"DBUS_SESSION_BUS_ADDRESS", address},
                                          {"KELVORAN_POLL_INTERVAL_MS", "300"}})
            env.insert(name, value);
        kelvoran.setProcessEnvironment(env);
        kelvoran.start(KELVORAN_BIN_DIR "/kelvoran", {"--minimized"});
        QTRY_COMPARE_WITH_TIMEOUT(m_shown.size(), 2, 10000);
        m_shown.sort();
        QCOMPARE(m_shown, (QStringList{"Foe on line: [DS]Bob|on Amy's Arena",
                                       "Friend on line: Bob|on CTF"}));
        QTest::qWait(1000); // both sounds played
        kelvoran.kill(), kelvoran.waitForFinished();
        recorder.stop();
        const QString sound = "silence 1 0.01 1% reverse silence 1 0.01 1% reverse";
        QCOMPARE_LT(qAbs(test::SinkRecorder::measure(heard, sound).seconds - 0.6), 0.15);
        platform::RegistryStore store(t.filePath());
        QStringList visits;
        for (const platform::VisitRow &v : store.visits())
            visits << v.server + ": " + v.name + '/' + v.ip;
        visits.sort();
        QCOMPARE(visits, (QStringList{"Amy's Arena: [DS]Bob/", "CTF: Bob/10.0.0.1"}));
        bus.kill(), bus.waitForFinished();
    }
};
QTEST_MAIN(DesktopServersTest)
#include "tst_desktop_servers.moc"
