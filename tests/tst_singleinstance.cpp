// One running copy per user, seen from a later start.
#include "app/SingleInstance.h"
#include <QtTest>
using kelvoran::app::SingleInstance;
class TestSingleInstance : public QObject
{
    Q_OBJECT
    QTemporaryDir m_run;
private slots:
    void initTestCase() { qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_run.path())); }
    // A later --minimized start is answered and leaves the window alone. Once the running copy's
    // event loop has ended (Exit) it answers no more, and a later start takes its place at once.
    void laterStarts()
    {
        SingleInstance first("id"), later("id");
        QSignalSpy shown(&first, &SingleInstance::windowRequested);
        QVERIFY(first.claim() && !later.claim());
        bool answered = false; // asked from another thread, while the running copy's loop runs here
        std::unique_ptr<QThread> asking(QThread::create([&] { answered = later.handOver(false); }));
        asking->start();
        QTRY_VERIFY(asking->isFinished());
        QVERIFY(answered && shown.isEmpty());
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
        QVERIFY(!later.handOver(true) && shown.isEmpty());
        QVERIFY(!SingleInstance("id").claim()); // the later start holds the lock already
        QVERIFY(later.claim());
    }
};
QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
