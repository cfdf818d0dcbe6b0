#pragma once
// Records what the test sound server's null sink plays, and measures recordings with sox.
#include <QProcess>
#include <QRegularExpression>
namespace kelvoran::test {
struct SoundStats
{
    double seconds = 0, rmsAmplitude = 0, roughFrequency = 0; // all 0 when sox cannot read it
};
struct SinkRecorder : QProcess
{
    static QString sinkName() { return qEnvironmentVariable("KELVORAN_TEST_SINK"); } // or ""
    bool start(const QString &wavPath)
    {
        QProcess::start("parecord", {"-d", sinkName() + ".monitor", "--latency-msec=20", wavPath});
        return waitForStarted(5000);
    }
    void stop() { terminate(), waitForFinished(5000); } // parecord completes the file first
    // Mixes the recording down to one channel, applies the sox `effects`, and measures it.
    static SoundStats measure(const QString &wavPath, const QString &effects = {})
    {
        QProcess sox;
        sox.startCommand(QString("sox \"%1\" -n remix 1 %2 stat").arg(wavPath, effects));
        const QString out = sox.waitForFinished(30000) ? sox.readAllStandardError() : QString();
        const auto field = [&out](const QString &name) {
            return QRegularExpression(name + R"(:\s+(\S+))").match(out).captured(1).toDouble();
        };
        return {field(R"(Length \(seconds\))"), field("RMS +amplitude"), field("Rough +frequency")};
    }
};
} // namespace kelvoran::test
