#pragma once
// The registry routines of the program and the procedures on the stored watch list.
//
// The watch list lives under Software\Kelvoran\checklist: one subkey per entry, named by the kind
// prefix ("Frd_" or "Foe_") followed by the identifier (a player name or an IP address), holding
// the string value "Annouce" = "YES" (armed) or "NO" (announced).
//
// Key paths are lists of components; a subkey name is always one component, even when it holds a
// backslash. None of these routines reports a failure to the user: a failed read yields "", a
// failed write changes nothing and returns false, for the caller to say.
#include "platform/RegistryStore.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace kelvoran {

using RegPath = platform::KeyPath;

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

// One watch entry as the poll cycle reads it: the subkey name and its "Annouce" text.
struct WatchEntryFlag
{
    QString subkey;
    QString flag;
};

// The routines over the store that stands for HKEY_LOCAL_MACHINE.
class Module1
{
public:
    static constexpr qint32 REG_SZ = 1;
    static constexpr qint32 REG_DWORD = 4;

    explicit Module1(platform::RegistryStore &hklm) : m_hklm(hklm) {}

    platform::RegistryStore &HKEY_LOCAL_MACHINE() const { return m_hklm; }

    // Text of the value read by the latest queryRegKeyValue().
    QString regQueryResult;

    // Creates the key and every missing key along the path. False when it could not be made.
    bool createRegKey(const RegPath &path);
    // type REG_SZ: the value as text; REG_DWORD: the value as a signed 32-bit integer; else
    // nothing. False when nothing was stored.
    bool writeRegValue(platform::KeyHandle key, const QString &valueName, qint32 valueType,
                       const QVariant &value);
    // Opens an existing key (never creates one) and writes the value into it. False when the key
    // is missing or the write failed.
    bool setRegKeyValue(const RegPath &path, const QString &valueName, const QVariant &value,
                        qint32 valueType);
    // Reads a string or DWORD value into `value`; leaves it as it was when nothing can be read.
    void readRegValue(platform::KeyHandle key, const QString &valueName, QVariant &value);
    // Sets regQueryResult to the value's text: a string's text, a DWORD's decimal digits, else "".
    void queryRegKeyValue(const RegPath &path, const QString &valueName);
    // queryRegKeyValue() and the text it yields.
    QString queryRegText(const RegPath &path, const QString &valueName);

    // All subkey names of `parent`, in the store's order (the walk of the entries).
    QStringList entryNames(const RegPath &parent);
    // Every watch entry with its flag, in the store's order, read in one go. The flag is the
    // value `flagValue`: "Annouce" for the first server, "Annouce:<id>" for the others.
    QList<WatchEntryFlag> watchEntries(const QString &flagValue = QStringLiteral("Annouce"));
    // Creates the entry with its "Annouce" = "YES" in one step, with any missing parent key; an
    // entry of that name in any letter case is armed again, on every server, and keeps its
    // spelling. False when the store refused the write.
    bool addEntry(const QString &subkeyName);
    // The stored spelling of the watch entry whose name is `subkeyName` in any letter case; ""
    // when there is none.
    QString storedEntryName(const QString &subkeyName);
    // Deletes the watch entry whose subkey name is `subkeyName`, with its value.
    void deleteEntry(const QString &subkeyName);

    // Why the latest writes failed, for a message: the store's file and its problem.
    QString writeFailure() const;

private:
    platform::RegistryStore &m_hklm;
};

} // namespace kelvoran
