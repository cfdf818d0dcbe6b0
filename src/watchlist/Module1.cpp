#include "watchlist/Module1.h"

#include "watchlist/WatchList.h"

#include <QtEndian>

#include <limits>

namespace kelvoran {

using platform::KeyHandle;
using platform::kNoKey;
using platform::StoredValue;

RegPath subPath(const RegPath &parent, const QString &name)
{
    RegPath path = parent;
    path.append(name);
    return path;
}

bool Module1::createRegKey(const RegPath &path)
{
    return m_hklm.createKey(path) != kNoKey;
}

bool Module1::writeRegValue(KeyHandle key, const QString &valueName, qint32 valueType,
                            const QVariant &value)
{
    if (valueType == REG_SZ) {
        // The text and one terminating NUL: "YES" is stored as 4 bytes.
        QByteArray bytes = value.toString().toUtf8();
        bytes.append('\0');
        return m_hklm.setValue(key, valueName, {platform::kRegSz, bytes});
    }
    if (valueType == REG_DWORD) {
        bool ok = false;
        const qint64 number = value.toLongLong(&ok);
        if (!ok || number < std::numeric_limits<qint32>::min() ||
            number > std::numeric_limits<qint32>::max())
            return false;
        QByteArray bytes(4, '\0');
        qToLittleEndian<qint32>(qint32(number), bytes.data());
        return m_hklm.setValue(key, valueName, {platform::kRegDword, bytes});
    }
    return false;
}

bool Module1::setRegKeyValue(const RegPath &path, const QString &valueName, const QVariant &value,
                             qint32 valueType)
{
    // Opened, never created: a write to a missing key writes nothing.
    const KeyHandle key = m_hklm.openKey(path);
    return key != kNoKey && writeRegValue(key, valueName, valueType, value);
}

void Module1::readRegValue(KeyHandle key, const QString &valueName, QVariant &value)
{
    StoredValue stored;
    if (!m_hklm.queryValue(key, valueName, &stored))
        return;
    QByteArray bytes = stored.data;
    if (stored.type == platform::kRegSz) {
        // A string of size 0 has no terminating NUL to drop: nothing is read.
        if (bytes.isEmpty())
            return;
        if (bytes.endsWith('\0'))
            bytes.chop(1);
        value = QString::fromUtf8(bytes);
    } else if (stored.type == platform::kRegDword && bytes.size() == 4) {
        value = qFromLittleEndian<qint32>(bytes.constData());
    }
}

void Module1::queryRegKeyValue(const RegPath &path, const QString &valueName)
{
    QVariant value;
    const KeyHandle key = m_hklm.openKey(path);
    if (key != kNoKey)
        readRegValue(key, valueName, value);
    regQueryResult = value.toString();
}

QString Module1::queryRegText(const RegPath &path, const QString &valueName)
{
    queryRegKeyValue(path, valueName);
    return regQueryResult;
}

QStringList Module1::entryNames(const RegPath &parent)
{
    return m_hklm.subKeyNames(m_hklm.openKey(parent));
}

QList<WatchEntryFlag> Module1::watchEntries(const QString &flagValue)
{
    QList<WatchEntryFlag> entries;
    const KeyHandle parent = m_hklm.openKey(kChecklistWalkKey);
    const QList<platform::SubKeyValue> rows = m_hklm.subKeysWithValue(parent, flagValue);
    entries.reserve(rows.size());
    for (const platform::SubKeyValue &row : rows) {
        // The flag as readRegValue() would give it: only a string value counts.
        QByteArray bytes = row.value.data;
        if (row.value.type != platform::kRegSz)
            bytes.clear();
        if (bytes.endsWith('\0'))
            bytes.chop(1);
        entries.append({row.name, QString::fromUtf8(bytes)});
    }
    return entries;
}

bool Module1::addEntry(const QString &subkeyName)
{
    const RegPath path = subPath(kChecklistKey, subkeyName);
    // An entry there already is armed on the other servers too (a flag of theirs that is missing
    // counts as armed); first, so that a refused write leaves nothing half added.
    const platform::KeyHandle existing = m_hklm.openKey(path);
    if (existing != platform::kNoKey &&
        !m_hklm.deleteValuesStartingWith(existing, kAnnounceValue + QLatin1Char(':')))
        return false;
    // Key and flag in one transaction: a crash never leaves an entry without its flag.
    return m_hklm.createKeyWithValue(path, kAnnounceValue,
                                     {platform::kRegSz, kArmed.toUtf8().append('\0')});
}

QString Module1::storedEntryName(const QString &subkeyName)
{
    if (m_hklm.openKey(subPath(kChecklistKey, subkeyName)) == kNoKey)
        return QString();
    // The store folds case fully; the few names that simple folding tells apart keep the name
    // asked for.
    for (const QString &name : entryNames(kChecklistKey)) {
        if (name.compare(subkeyName, Qt::CaseInsensitive) == 0)
            return name;
    }
    return subkeyName;
}

QString Module1::writeFailure() const
{
    const QString problem = m_hklm.problem();
    return m_hklm.filePath() + QLatin1Char(' ') +
           (problem.isEmpty() ? QStringLiteral("could not be written") : problem);
}

void Module1::deleteEntry(const QString &subkeyName)
{
    m_hklm.deleteSubKey(m_hklm.openKey(kChecklistKey), subkeyName);
}

} // namespace kelvoran
