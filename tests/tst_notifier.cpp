// Desktop notifications over a private session bus: what the notification service is sent, with
// the body escaped only for a service that reads it as markup, and that nothing happens (no
// error, no wait) when no service runs.
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
    QStringList capabilities;
    QProcess bus;
    QString address;

public slots:
    QStringList GetCapabilities() { return capabilities; }
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &, const QVariantMap &hints, int)
    {
        seen << QStringList{app, icon, summary, body, hints["desktop-entry"].toString()}.join('|');
        return 1;
    }

private slots:
    void initTestCase()
    {
        QTest::failOnWarning(QRegularExpression("."));
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        QVERIFY(bus.waitForReadyRead(10000));
        address = bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
        const QDeadlineTimer soon(1000);
        DBusNotifier notifier("icon", "app.id");
        notifier.notify("Friend on line: Bob", ""); // nobody listens
        QVERIFY(!soon.hasExpired());
        QDBusConnection service = QDBusConnection::connectToBus(address, "service");
        QVERIFY(service.registerObject("/org/freedesktop/Notifications", this,
                                       QDBusConnection::ExportAllSlots) &&
                service.registerService("org.freedesktop.Notifications"));
    }
    void cleanupTestCase()
    {
        bus.kill();
        bus.waitForFinished();
    }
    void summaryPlainBodyEscapedForMarkup_data()
    {
        QTest::addColumn<QStringList>("caps");
        QTest::addColumn<QString>("body");
        QTest::newRow("body-markup")
            << QStringList{"body", "body-markup"} << "a &lt;b&gt; &amp; &quot;c&quot;";
        QTest::newRow("plain body") << QStringList{"body"} << "a <b> & \"c\"";
    }
    void summaryPlainBodyEscapedForMarkup()
    {
        QFETCH(QStringList, caps);
        QFETCH(QString, body);
        capabilities = caps;
        seen.clear();
        DBusNotifier notifier("icon", "app.id");
        notifier.notify("Foe on line: <K>Bob&Co", "a <b> & \"c\"");
        notifier.notify("Second", ""); // while the capabilities are asked for: in order
        const QString first = "Kelvoran|icon|Foe on line: <K>Bob&Co|" + body + "|app.id";
        QTRY_COMPARE_WITH_TIMEOUT(seen, (QStringList{first, "Kelvoran|icon|Second||app.id"}), 5000);
    }
};

QTEST_GUILESS_MAIN(NotifierTest)
#include "tst_notifier.moc"
