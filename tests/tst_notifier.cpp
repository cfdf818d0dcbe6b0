// Desktop notifications over a private session bus: what the notification service is sent, and
// that nothing happens (no error, no wait) when no service runs.
#include "platform/DBusNotifier.h"

#include <QDBusConnection>
#include <QtTest>

using kelvoran::platform::DBusNotifier;

// The test object is also the notification service, once it has registered itself on the bus.
class NotifierTest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

    QStringList seen;

public slots:
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        seen << QStringList{app, icon, summary, body, hints["desktop-entry"].toString()}.join('|');
        return 1;
    }

private slots:
    void withoutAServiceThenWithOne()
    {
        QTest::failOnWarning(QRegularExpression("."));
        QProcess bus;
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        const QString address = bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        const QDeadlineTimer soon(1000);
        DBusNotifier notifier("icon", "app.id");
        notifier.notify("Friend on line", "Bob"); // nobody listens
        QVERIFY(!soon.hasExpired());
        QDBusConnection service = QDBusConnection::connectToBus(address, "service");
        QVERIFY(service.registerObject("/org/freedesktop/Notifications", this,
                                       QDBusConnection::ExportAllSlots) &&
                service.registerService("org.freedesktop.Notifications"));
        notifier.notify("Foe on line", "10.0.0.7");
        QTRY_COMPARE_WITH_TIMEOUT(seen, QStringList{"Kelvoran|icon|Foe on line|10.0.0.7|app.id"},
                                  5000);
        bus.kill();
        bus.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(NotifierTest)
#include "tst_notifier.moc"
