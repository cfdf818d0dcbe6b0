#include "SinkRecorder.h"
#include "platform/SoundPlayer.h"
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
using Sink = kelvoran::test::SinkRecorder;
class TestDesktopSound : public QObject
{
    Q_OBJECT
private slots:
    // play() returns at once; sounds queued together play in turn, in order, never at once.
    void queuedSoundsPlayInTurn()
    {
        QTemporaryDir dir;
        const QString heard = dir.filePath("heard.wav");
        for (const QString hz : {"300", "1200"}) // 0.3 s each
            QProcess::execute("sox", {"-n", dir.filePath(hz + ".wav"), "synth", "0.3", "sine", hz});
        Sink recorder;
        QVERIFY2(!Sink::sinkName().isEmpty() && recorder.start(heard), "no sound sink");
        QTRY_VERIFY(QFileInfo(heard).size() > 4096); // parecord records
        kelvoran::platform::PulseSoundPlayer player;
        const QDeadlineTimer atOnce(50);
        player.play(dir.filePath("300.wav"));
        player.play(dir.filePath("1200.wav"));
        QVERIFY(!atOnce.hasExpired());
        QTest::qWait(1000);
        recorder.stop();
        const QString sound = "silence 1 0.01 1% reverse silence 1 0.01 1% reverse"; // no silence
        QCOMPARE_LT(qAbs(Sink::measure(heard, sound).seconds - 0.6), 0.1);
        QCOMPARE_LT(qAbs(Sink::measure(heard, sound + " trim 0.05 0.2").roughFrequency - 300), 30);
        QCOMPARE_LT(qAbs(Sink::measure(heard, sound + " trim 0.35 0.2").roughFrequency - 1200), 60);
    }
};
QTEST_GUILESS_MAIN(TestDesktopSound)
#include "tst_desktop_sound.moc"
