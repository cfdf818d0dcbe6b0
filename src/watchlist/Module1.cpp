#include "watchlist/Module1.h"

#include <QLocale>
#include <QtEndian>

#include <cmath>
#include <limits>
#include <optional>

namespace kelvoran::Module1 {

using platform::KeyHandle;
using platform::kNoKey;

namespace {

Hive g_hive = nullptr;

// The value as a signed 32-bit integer, the way a numeric conversion of the variant would give
// it: fractions round to the nearest even integer, texts are read as numbers. Nothing when the
// value is not a number or does not fit.
std::optional<qint32> toDword(const QVariant &value)
{
    constexpr double lo = std::numeric_limits<qint32>::min();
    constexpr double hi = std::numeric_limits<qint32>::max();
    auto fromDouble = [&](double d) -> std::optional<qint32> {
        if (!std::isfinite(d))
            return std::nullopt;
        const double r = std::nearbyint(d);
        if (r < lo || r > hi)
            return std::nullopt;
        return qint32(r);
    };
    auto fromInteger = [&](qint64 n) -> std::optional<qint32> {
        if (n < qint64(lo) || n > qint64(hi))
            return std::nullopt;
        return qint32(n);
    };

    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? -1 : 0;
    case QMetaType::Double:
    case QMetaType::Float:
        return fromDouble(value.toDouble());
    case QMetaType::ULongLong:
    case QMetaType::ULong:
    case QMetaType::UInt: {
        const quint64 n = value.toULongLong();
        if (n > quint64(hi))
            return std::nullopt;
        return qint32(n);
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return fromInteger(value.toLongLong());
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        const qint64 n = text.toLongLong(&ok);
        if (ok)
            return fromInteger(n);
        const double d = QLocale::c().toDouble(text, &ok);
        if (ok)
            return fromDouble(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

QString regQueryResult;

Hive HKEY_LOCAL_MACHINE()
{
    return g_hive;
}

void setHive(Hive store)
{
    g_hive = store;
}

RegPath subPath(const RegPath &parent, const QString &name)
{
    RegPath path = parent;
    path.append(name);
    return path;
}

void createRegKey(const RegPath &path, Hive hive)
{
    if (!hive)
        return;
    const KeyHandle key = hive->createKey(path);
    if (key != kNoKey)
        hive->closeKey(key);
}

void writeRegValue(KeyHandle key, const QString &valueName, qint32 valueType, const QVariant &value)
{
    Hive hive = HKEY_LOCAL_MACHINE();
    if (!hive)
        return;
    if (valueType == REG_SZ) {
        // The text and one terminating NUL: "YES" is stored as 4 bytes.
        QByteArray bytes = value.toString().toUtf8();
        bytes.append('\0');
        hive->setValue(key, valueName, platform::kRegSz, bytes);
    } else if (valueType == REG_DWORD) {
        const std::optional<qint32> number = toDword(value);
        if (!number)
            return;
        QByteArray bytes(4, '\0');
        qToLittleEndian<qint32>(*number, bytes.data());
        hive->setValue(key, valueName, platform::kRegDword, bytes);
    }
}

void setRegKeyValue(const RegPath &path, const QString &valueName, const QVariant &value,
                    qint32 valueType)
{
    Hive hive = HKEY_LOCAL_MACHINE();
    if (!hive)
        return;
    // Opened, never created: a write to a missing key writes nothing.
    const KeyHandle key = hive->openKey(path);
    if (key == kNoKey)
        return;
    writeRegValue(key, valueName, valueType, value);
    hive->closeKey(key);
}

void readRegValue(KeyHandle key, const QString &valueName, QVariant &value)
{
    Hive hive = HKEY_LOCAL_MACHINE();
    if (!hive)
        return;
    quint32 type = 0;
    quint32 size = 0;
    if (!hive->queryValueInfo(key, valueName, &type, &size))
        return;
    if (type == quint32(REG_SZ)) {
        // A string of size 0 has no terminating NUL to drop: nothing is read.
        if (size == 0)
            return;
        QByteArray bytes;
        if (!hive->queryValue(key, valueName, &bytes)) {
            value = QString();
            return;
        }
        if (bytes.endsWith('\0'))
            bytes.chop(1);
        value = QString::fromUtf8(bytes);
    } else if (type == quint32(REG_DWORD)) {
        QByteArray bytes;
        if (!hive->queryValue(key, valueName, &bytes) || bytes.size() != 4)
            return;
        value = qFromLittleEndian<qint32>(bytes.constData());
    }
}

void queryRegKeyValue(const RegPath &path, const QString &valueName)
{
    Hive hive = HKEY_LOCAL_MACHINE();
    QVariant value;
    if (hive) {
        const KeyHandle key = hive->openKey(path);
        if (key != kNoKey) {
            readRegValue(key, valueName, value);
            hive->closeKey(key);
        }
    }
    regQueryResult = value.toString();
}

QString queryRegText(const RegPath &path, const QString &valueName)
{
    queryRegKeyValue(path, valueName);
    return regQueryResult;
}

void walkEntries(const RegPath &parent, const std::function<bool(const QString &)> &visit)
{
    Hive hive = HKEY_LOCAL_MACHINE();
    if (!hive)
        return;
    const KeyHandle key = hive->openKey(parent);
    if (key == kNoKey)
        return;
    QString name;
    for (quint32 index = 0; hive->enumKey(key, index, &name); ++index) {
        if (!visit(name))
            break;
    }
    hive->closeKey(key);
}

QStringList entryNames(const RegPath &parent)
{
    QStringList names;
    walkEntries(parent, [&](const QString &name) {
        names.append(name);
        return true;
    });
    return names;
}

void deleteEntry(const QString &subkeyName)
{
    Hive hive = HKEY_LOCAL_MACHINE();
    if (!hive)
        return;
    const KeyHandle key = hive->openKey(kChecklistKey);
    if (key == kNoKey)
        return;
    hive->deleteSubKey(key, subkeyName);
    hive->closeKey(key);
}

} // namespace kelvoran::Module1
