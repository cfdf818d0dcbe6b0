#pragma once
// Byte helpers for the file and store tests; a DWORD as the registry stores it: little-endian.
#include <QFile>
#include <QtEndian>
namespace kelvoran::test {
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}
inline QByteArray dword(qint32 v)
{
    v = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char *>(&v), 4);
}
} // namespace kelvoran::test
