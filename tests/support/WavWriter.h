#pragma once
// Test sound files, written byte by byte: a canonical RIFF/WAVE header and 16-bit PCM samples.
#include <QByteArray>
#include <QString>

namespace kelvoran::test {

// A sine tone as a complete WAV file (PCM, 16 bits, every channel the same tone).
QByteArray makeSineWav(double seconds, int rate = 22050, int channels = 1, double freqHz = 440,
                       double amplitude = 0.5);

// Writes the bytes to the file, replacing it; false when that fails.
bool writeFile(const QString &path, const QByteArray &bytes);

} // namespace kelvoran::test
