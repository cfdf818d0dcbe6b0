#pragma once
// Byte helpers the file and store tests share (writeFile is in WavWriter.h).
#include <QByteArray>
#include <QFile>
#include <QtEndian>

namespace kelvoran::test {

// The file's bytes; a null array when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A DWORD value as the registry stores it: four bytes, little-endian.
inline QByteArray dword(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

} // namespace kelvoran::test
