#include "SinkRecorder.h"

#include <QRegularExpression>
#include <csignal>

namespace kelvoran::test {

QString SinkRecorder::sinkName()
{
    return qEnvironmentVariable("KELVORAN_TEST_SINK");
}

SinkRecorder::~SinkRecorder()
{
    stop();
}

bool SinkRecorder::start(const QString &wavPath)
{
    m_parecord.setProgram(QStringLiteral("parecord"));
    m_parecord.setArguments({QStringLiteral("--device=%1.monitor").arg(sinkName()),
                             QStringLiteral("--file-format=wav"),
                             QStringLiteral("--latency-msec=20"), wavPath});
    m_parecord.start();
    return m_parecord.waitForStarted(5000);
}

void SinkRecorder::stop()
{
    if (m_parecord.state() == QProcess::NotRunning)
        return;
    // parecord finishes the WAV header when it is interrupted.
    ::kill(static_cast<pid_t>(m_parecord.processId()), SIGINT);
    if (!m_parecord.waitForFinished(5000)) {
        m_parecord.kill();
        m_parecord.waitForFinished(5000);
    }
}

SoundStats SinkRecorder::measure(const QString &wavPath)
{
    QProcess sox;
    sox.start(QStringLiteral("sox"), {wavPath, QStringLiteral("-n"), QStringLiteral("remix"),
                                      QStringLiteral("1"), QStringLiteral("stat")});
    SoundStats stats;
    if (!sox.waitForFinished(30000) || sox.exitCode() != 0)
        return stats;
    const QString out = QString::fromLocal8Bit(sox.readAllStandardError());
    auto field = [&out](const char *name) {
        const QRegularExpression re(QStringLiteral("%1:\\s+(-?[0-9.eE+-]+)")
                                        .arg(QRegularExpression::escape(QLatin1String(name))));
        const QRegularExpressionMatch m = re.match(out);
        return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
    };
    stats.seconds = field("Length (seconds)");
    stats.rmsAmplitude = field("RMS     amplitude");
    stats.roughFrequency = field("Rough   frequency");
    stats.ok = stats.seconds >= 0 && stats.rmsAmplitude >= 0;
    return stats;
}

} // namespace kelvoran::test
