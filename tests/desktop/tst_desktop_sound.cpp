// The WAV player against a real PulseAudio server with a null sink: what the sink plays is
// recorded from its monitor and measured with sox, and the time playSync takes shows whether it
// really waits for the end of the sound.
#include "WavWriter.h"
#include "platform/SoundPlayer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace kelvoran;

namespace {

struct Levels
{
    double rms = -1;
    double maximum = -1;
};

// "sox FILE -n remix 1 stat" prints its figures on standard error.
Levels measure(const QString &recording, QString &log)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"), {recording, QStringLiteral("-n"), QStringLiteral("remix"),
                                      QStringLiteral("1"), QStringLiteral("stat")});
    if (!sox.waitForFinished(30000))
        return {};
    log = QString::fromLocal8Bit(sox.readAllStandardError());
    Levels levels;
    const QRegularExpression rms(QStringLiteral("RMS\\s+amplitude:\\s+([0-9.eE+-]+)"));
    const QRegularExpression max(QStringLiteral("Maximum amplitude:\\s+([0-9.eE+-]+)"));
    if (const auto m = rms.match(log); m.hasMatch())
        levels.rms = m.captured(1).toDouble();
    if (const auto m = max.match(log); m.hasMatch())
        levels.maximum = m.captured(1).toDouble();
    return levels;
}

} // namespace

class TestDesktopSound : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void playSync_data();
    void playSync();

private:
    QString m_sink;
    QTemporaryDir m_dir;
    QProcess m_reader;
};

void TestDesktopSound::initTestCase()
{
    m_sink = qEnvironmentVariable("KELVORAN_TEST_SINK");
    if (m_sink.isEmpty())
        QFAIL("KELVORAN_TEST_SINK is not set: this test needs a PulseAudio server with a null sink "
              "(PULSE_SERVER and KELVORAN_TEST_SINK), which the desktop test command starts.");
    for (const char *tool : {"parec", "parecord", "sox"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    }
    QVERIFY(m_dir.isValid());

    // A null sink hands out sound in 2-second blocks unless a client asks for low latency; this
    // reader makes it run in small steps, so the recording and the timing are true to life.
    m_reader.setStandardOutputFile(QProcess::nullDevice());
    m_reader.start(QStringLiteral("parec"),
                   {QStringLiteral("--latency-msec=20"), QStringLiteral("-d"),
                    m_sink + QStringLiteral(".monitor")});
    QVERIFY2(m_reader.waitForStarted(5000), qPrintable(m_reader.errorString()));
    QTest::qWait(2000);
    QVERIFY2(m_reader.state() == QProcess::Running,
             qPrintable(QStringLiteral("parec stopped: ") +
                        QString::fromLocal8Bit(m_reader.readAllStandardError())));
}

void TestDesktopSound::cleanupTestCase()
{
    if (m_reader.state() != QProcess::NotRunning) {
        m_reader.terminate();
        if (!m_reader.waitForFinished(5000))
            m_reader.kill();
        m_reader.waitForFinished(5000);
    }
}

void TestDesktopSound::playSync_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // null: the file does not exist
    QTest::addColumn<bool>("audible");
    QTest::addColumn<int>("minMs"); // shortest time playSync may take

    QTest::newRow("1 s 440 Hz mono 22050 Hz")
        << "tone.wav" << test::makeSineWav(1.0) << true << 900;
    QTest::newRow("1 s 440 Hz stereo 44100 Hz")
        << "stereo.wav" << test::makeSineWav(1.0, 44100, 2) << true << 900;
    QTest::newRow("missing file") << "missing.wav" << QByteArray() << false << 0;
    QTest::newRow("not a WAV") << "text.wav" << QByteArray("not a sound\n") << false << 0;
}

void TestDesktopSound::playSync()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, audible);
    QFETCH(int, minMs);

    const QString path = m_dir.filePath(name);
    if (!bytes.isNull())
        QVERIFY(test::writeFile(path, bytes));
    const QString recording = m_dir.filePath(QStringLiteral("rec-") + name);

    QProcess recorder;
    recorder.start(QStringLiteral("parecord"),
                   {QStringLiteral("--device=") + m_sink + QStringLiteral(".monitor"),
                    QStringLiteral("--file-format=wav"), recording});
    QVERIFY2(recorder.waitForStarted(5000), qPrintable(recorder.errorString()));
    QTest::qWait(500);

    if (!audible)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Cannot play ")));
    platform::PulseSoundPlayer player;
    QElapsedTimer clock;
    clock.start();
    player.playSync(path);
    const qint64 elapsed = clock.elapsed();

    QTest::qWait(500);
    recorder.terminate(); // parecord ends on SIGTERM and finishes the WAV header
    QVERIFY2(recorder.waitForFinished(10000), "parecord did not stop");
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);

    QString soxLog;
    const Levels levels = measure(recording, soxLog);
    QVERIFY2(levels.rms >= 0 && levels.maximum >= 0, qPrintable(soxLog));
    qInfo("playSync took %lld ms; recorded RMS %.4f, maximum %.4f", elapsed, levels.rms,
          levels.maximum);

    if (audible) {
        // A 0.5 sine has RMS 0.35; over about 2 s of recording holding 1 s of tone, about 0.25.
        QVERIFY2(levels.rms > 0.1, qPrintable(soxLog));
        QVERIFY2(levels.maximum > 0.4, qPrintable(soxLog));
        QVERIFY2(elapsed >= minMs, qPrintable(QString::number(elapsed) + " ms"));
        QVERIFY2(elapsed < 6000, qPrintable(QString::number(elapsed) + " ms"));
    } else {
        QVERIFY2(levels.maximum < 0.001, qPrintable(soxLog));
        QVERIFY2(elapsed < 500, qPrintable(QString::number(elapsed) + " ms"));
    }
}

QTEST_GUILESS_MAIN(TestDesktopSound)
#include "tst_desktop_sound.moc"
