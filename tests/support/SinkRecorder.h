#pragma once
// Records what the test sound server's null sink plays, and measures the recording with sox.
#include <QProcess>
#include <QString>

namespace kelvoran::test {

struct SoundStats
{
    bool ok = false;         // sox could read the recording
    double seconds = 0;      // length of the recording
    double rmsAmplitude = 0; // 0 for silence
    double roughFrequency = 0;
};

class SinkRecorder
{
public:
    // The null sink the test script set up ($KELVORAN_TEST_SINK); "" when there is none.
    static QString sinkName();

    ~SinkRecorder();
    // Starts recording the sink's monitor into `wavPath`.
    bool start(const QString &wavPath);
    // Stops the recording and waits until the file is complete.
    void stop();

    // Mixes the recording down to one channel and measures it.
    static SoundStats measure(const QString &wavPath);

private:
    QProcess m_parecord;
};

} // namespace kelvoran::test
