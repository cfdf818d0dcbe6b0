// One running copy per user, seen from a later start: asked from another thread while the
// running copy's event loop runs here, or after that loop has ended, as at Exit.
#include "app/SingleInstance.h"
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
using kelvoran::app::SingleInstance;

class TestSingleInstance : public QObject
{
    Q_OBJECT
    QTemporaryDir m_run;
private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_run.path())); }
    void laterStart_data()
    {
        QTest::addColumn<bool>("show");  // a plain start, not --minimized
        QTest::addColumn<bool>("ended"); // the running copy's event loop has ended
        QTest::newRow("start: window shown") << true << false;
        QTest::newRow("--minimized start: window left alone") << false << false;
        QTest::newRow("running copy ending: the later start runs") << true << true;
    }
    void laterStart()
    {
        QFETCH(bool, show);
        QFETCH(bool, ended);
        SingleInstance first("id"), later("id");
        QSignalSpy shown(&first, &SingleInstance::windowRequested);
        QVERIFY(first.claim() && !later.claim());
        bool handedOver = false;
        if (ended) {
            QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
            QCoreApplication::exec();
            handedOver = later.handOver(show);
        } else {
            std::unique_ptr<QThread> asking(
                QThread::create([&] { handedOver = later.handOver(show); }));
            asking->start();
            QTRY_VERIFY(asking->isFinished());
        }
        QCOMPARE(handedOver, !ended);
        QCOMPARE(shown.size(), int(show && !ended));
        QVERIFY(!SingleInstance("id").claim()); // one of the two holds the lock, even now
        QCOMPARE(later.claim(), ended);
    }
};
QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
