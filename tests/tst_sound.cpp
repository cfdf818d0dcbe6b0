// The WAV player without a sound server: every kind of file it may be handed must come back
// quickly and quietly, and the log line tells how far it got (refused, decoded, or silent).
#include "WavWriter.h"
#include "platform/SoundPlayer.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sndfile.h>

#include <cmath>
#include <vector>

using namespace kelvoran;

namespace {

// Writes a short tone with libsndfile in any format it can write.
bool writeWithSndfile(const QString &path, int format, int channels = 1, int rate = 22050)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<short> samples(size_t(rate / 10) * size_t(channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(8000 * std::sin(double(i) * 0.1));
    const sf_count_t frames = sf_count_t(samples.size()) / channels;
    const bool ok = sf_writef_short(f, samples.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

// A PCM WAV whose header has been patched: channel count and sample rate at their offsets.
QByteArray wavWithHeader(int channels, quint32 rate)
{
    QByteArray wav = test::makeSineWav(0.1, 8000, 1);
    qToLittleEndian(quint16(channels), wav.data() + 22);
    qToLittleEndian(rate, wav.data() + 24);
    qToLittleEndian(quint16(channels * 2), wav.data() + 32);
    return wav;
}

} // namespace

class TestSound : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playSync_data();
    void playSync();

private:
    QTemporaryDir m_dir;
};

void TestSound::initTestCase()
{
    // No sound server may ever be reached from here: a socket that does not exist.
    qputenv("PULSE_SERVER", "unix:/nonexistent/kelvoran-test.sock");
    QVERIFY(m_dir.isValid());
}

void TestSound::playSync_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");  // written by hand when not empty
    QTest::addColumn<int>("sndfileFormat"); // written by libsndfile when not 0
    QTest::addColumn<QString>("warning");   // the expected log line; empty: none at all

    const QString refused = QStringLiteral("Cannot play .*");
    const QString notWav = QStringLiteral("Cannot play .* - not a WAV file");
    const QString decoded = QStringLiteral("Cannot play .* - no sound server:.*");
    const QByteArray wav = test::makeSineWav(0.5);

    QTest::newRow("empty path") << QString() << QByteArray() << 0
                                << QStringLiteral("No sound file named; nothing played");
    QTest::newRow("missing file") << "missing.wav" << QByteArray() << 0 << refused;
    QTest::newRow("zero-length file") << "empty.wav" << QByteArray("") << 0 << refused;
    QTest::newRow("text named .wav")
        << "text.wav" << QByteArray("This is not a sound at all.\n") << 0 << refused;
    QTest::newRow("RIFF header, garbage after")
        << "garbage.wav" << QByteArray("RIFF\x10\0\0\0WAVEjunk\xff\xff\xff\xff", 20) << 0
        << refused;
    QTest::newRow("FLAC named .wav")
        << "flac.wav" << QByteArray() << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << notWav;
    QTest::newRow("AIFF named .wav")
        << "aiff.wav" << QByteArray() << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << notWav;
    QTest::newRow("Wave64 named .wav")
        << "w64.wav" << QByteArray() << (SF_FORMAT_W64 | SF_FORMAT_PCM_16) << notWav;
    QTest::newRow("nine channels") << "nine.wav" << wavWithHeader(9, 8000) << 0
                                   << QStringLiteral("Cannot play .* - 9 channels at 8000 Hz");
    QTest::newRow("rate too high") << "fast.wav" << wavWithHeader(1, 500000) << 0
                                   << QStringLiteral("Cannot play .* - 1 channels at 500000 Hz");
    QTest::newRow("header only, no frames") << "silent.wav" << test::makeSineWav(0) << 0 << "";
    QTest::newRow("valid PCM16 mono") << "mono.wav" << wav << 0 << decoded;
    QTest::newRow("valid PCM16 stereo 44.1 kHz")
        << "stereo.wav" << test::makeSineWav(0.5, 44100, 2) << 0 << decoded;
    QTest::newRow("truncated PCM16") << "cut.wav" << wav.left(wav.size() / 3) << 0 << decoded;
    QTest::newRow("cut inside the header") << "cut-header.wav" << wav.left(30) << 0 << refused;
    QTest::newRow("float WAV") << "float.wav" << QByteArray() << (SF_FORMAT_WAV | SF_FORMAT_FLOAT)
                               << decoded;
    QTest::newRow("WAVEX 24 bit") << "wavex.wav" << QByteArray()
                                  << (SF_FORMAT_WAVEX | SF_FORMAT_PCM_24) << decoded;
    QTest::newRow("RF64") << "rf64.wav" << QByteArray() << (SF_FORMAT_RF64 | SF_FORMAT_PCM_16)
                          << decoded;
    QTest::newRow("WAV with mu-law samples")
        << "ulaw.wav" << QByteArray() << (SF_FORMAT_WAV | SF_FORMAT_ULAW) << decoded;
}

void TestSound::playSync()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, sndfileFormat);
    QFETCH(QString, warning);

    QString path;
    if (!name.isEmpty()) {
        path = m_dir.filePath(name);
        if (sndfileFormat != 0)
            QVERIFY2(writeWithSndfile(path, sndfileFormat), qPrintable(sf_strerror(nullptr)));
        else if (!bytes.isNull())
            QVERIFY(test::writeFile(path, bytes));
    }

    if (warning.isEmpty())
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    else
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QLatin1Char('^') + warning + '$'));

    platform::PulseSoundPlayer player;
    QElapsedTimer clock;
    clock.start();
    player.playSync(path);
    // Only a guard against a hang: there is nothing to wait for without a sound server.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestSound)
#include "tst_sound.moc"
