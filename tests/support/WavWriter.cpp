#include "WavWriter.h"

#include <QFile>
#include <QtEndian>

#include <cmath>
#include <numbers>

namespace kelvoran::test {
namespace {

void put16(QByteArray &out, quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void put32(QByteArray &out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

} // namespace

QByteArray makeSineWav(double seconds, int rate, int channels, double freqHz, double amplitude)
{
    const quint32 frames = seconds > 0 ? quint32(std::llround(seconds * rate)) : 0;
    const quint32 dataBytes = frames * quint32(channels) * 2;
    QByteArray out;
    out.reserve(44 + qsizetype(dataBytes));
    out.append("RIFF");
    put32(out, 36 + dataBytes);
    out.append("WAVE");
    out.append("fmt ");
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, quint16(channels));
    put32(out, quint32(rate));
    put32(out, quint32(rate) * quint32(channels) * 2); // bytes per second
    put16(out, quint16(channels * 2));                 // bytes per frame
    put16(out, 16);                                    // bits per sample
    out.append("data");
    put32(out, dataBytes);
    const double step = 2 * std::numbers::pi * freqHz / rate;
    for (quint32 i = 0; i < frames; ++i) {
        const auto sample = qint16(std::lround(amplitude * 32767.0 * std::sin(step * i)));
        for (int c = 0; c < channels; ++c)
            put16(out, quint16(sample));
    }
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size() && file.flush();
}

} // namespace kelvoran::test
