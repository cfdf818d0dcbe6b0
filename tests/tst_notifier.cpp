// Desktop notifications over a private session bus: what the notification service is sent, and
// that nothing happens (no error, no wait) when no service runs.
#include "platform/DBusNotifier.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList seen;

public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        seen << QStringList{app, icon, summary, body, hints.value("desktop-entry").toString()}.join(
            '|');
        return 1;
    }
};

class NotifierTest : public QObject
{
    Q_OBJECT

    QProcess bus;

private slots:
    void initTestCase()
    {
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    }

    void cleanupTestCase()
    {
        bus.kill();
        bus.waitForFinished();
    }

    void noServiceNoWaitNoError()
    {
        QTest::failOnWarning(QRegularExpression("."));
        QElapsedTimer t;
        t.start();
        kelvoran::platform::DBusNotifier("icon", "app.id").notify("Friend on line", "Bob");
        QVERIFY(t.elapsed() < 1000);
    }

    void theServiceIsToldWhoCame()
    {
        QDBusConnection service = QDBusConnection::connectToBus(
            qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), "service");
        NotificationService received;
        QVERIFY(service.registerObject("/org/freedesktop/Notifications", &received,
                                       QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService("org.freedesktop.Notifications"));
        kelvoran::platform::DBusNotifier("io.github.kelvoran.Kelvoran",
                                         "io.github.kelvoran.Kelvoran")
            .notify("Foe on line", "10.0.0.7");
        QTRY_COMPARE_WITH_TIMEOUT(received.seen,
                                  QStringList{"Kelvoran|io.github.kelvoran.Kelvoran|Foe on line|"
                                              "10.0.0.7|io.github.kelvoran.Kelvoran"},
                                  5000);
    }
};

QTEST_GUILESS_MAIN(NotifierTest)
#include "tst_notifier.moc"
