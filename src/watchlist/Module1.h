#pragma once
// The registry routines of the program and the two procedures on the stored watch list.
//
// The watch list lives under Software\Kelvoran\checklist: one subkey per entry, named by the kind
// prefix ("Frd_" or "Foe_") followed by the identifier (a player name or an IP address), holding
// the string value "Annouce" = "YES" (armed) or "NO" (announced).
//
// Key paths are lists of components; a subkey name is always one component, even when it holds a
// backslash. None of these routines reports a failure: a failed read yields "", a failed write
// changes nothing.
#include "platform/RegistryStore.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

namespace kelvoran::Module1 {

using RegPath = platform::KeyPath;
using Hive = platform::RegistryStore *;

constexpr qint32 REG_SZ = 1;
constexpr qint32 REG_DWORD = 4;

// The store that stands for HKEY_LOCAL_MACHINE. main() and the tests set it; with none set every
// read yields nothing and every write fails.
Hive HKEY_LOCAL_MACHINE();
void setHive(Hive store);

// The key paths the program uses. "checklist" and "Checklist" name the same key.
inline const RegPath kSettingsKey{QStringLiteral("Software"), QStringLiteral("Kelvoran")};
inline const RegPath kChecklistKey{QStringLiteral("Software"), QStringLiteral("Kelvoran"),
                                   QStringLiteral("checklist")};
inline const RegPath kChecklistWalkKey{QStringLiteral("Software"), QStringLiteral("Kelvoran"),
                                       QStringLiteral("Checklist")};
inline const RegPath kGameInstallKey{
    QStringLiteral("Software"), QStringLiteral("Unreal Technology"),
    QStringLiteral("Installed Apps"), QStringLiteral("UnrealTournament")};

// `parent` with `name` appended as one component.
RegPath subPath(const RegPath &parent, const QString &name);

// Text of the value read by the latest queryRegKeyValue().
extern QString regQueryResult;

void createRegKey(const RegPath &path, Hive hive);
// type REG_SZ: the value as text; REG_DWORD: the value as a signed 32-bit integer; else nothing.
void writeRegValue(platform::KeyHandle key, const QString &valueName, qint32 valueType,
                   const QVariant &value);
// Opens an existing key (never creates one) and writes the value into it.
void setRegKeyValue(const RegPath &path, const QString &valueName, const QVariant &value,
                    qint32 valueType);
// Reads a string or DWORD value into `value`; leaves it as it was when nothing can be read.
void readRegValue(platform::KeyHandle key, const QString &valueName, QVariant &value);
// Sets regQueryResult to the value's text: a string's text, a DWORD's decimal digits, else "".
void queryRegKeyValue(const RegPath &path, const QString &valueName);
// queryRegKeyValue() and the text it yields.
QString queryRegText(const RegPath &path, const QString &valueName);

// Walks the subkey names of `parent` in the store's order; `visit` returns false to stop early.
void walkEntries(const RegPath &parent, const std::function<bool(const QString &)> &visit);
// All subkey names of `parent`, in the store's order.
QStringList entryNames(const RegPath &parent);
// Deletes the watch entry whose subkey name is `subkeyName`, with its value.
void deleteEntry(const QString &subkeyName);

} // namespace kelvoran::Module1
