#pragma once
// The stored watch list's names and values, and the commands that list and add entries.
#include <QList>
#include <QString>
#include <QStringList>

namespace kelvoran {

class Module1;

inline const QString kAnnounceValue = QStringLiteral("Annouce");
inline const QString kArmed = QStringLiteral("YES");
inline const QString kAnnounced = QStringLiteral("NO");
inline const QString kFriendPrefix = QStringLiteral("Frd_");
inline const QString kFoePrefix = QStringLiteral("Foe_");

// The value of a watch entry that holds its flag for one server: "Annouce" for the first server
// (the main window's), "Annouce:<id>" for the server kept under Servers\<id>.
inline QString flagValueFor(const QString &serverId)
{
    return serverId.isEmpty() ? kAnnounceValue : kAnnounceValue + QLatin1Char(':') + serverId;
}

// The identifier of a watch entry: its subkey name after the four-character kind prefix.
QStringView identifierOf(const QString &subkeyName);

// Whether prefix + identifier is already one of the rows of the watch-list box.
bool alreadyWatched(const QString &prefix, const QString &identifier, const QStringList &rows);

// What adding one watch entry did to the store.
struct AddResult
{
    enum class Kind {
        Added,   // a new entry, armed
        Rearmed, // the entry was there already (`stored` spells it as kept) and is armed again
        Failed,  // the store refused the write (`stored` says why)
    };
    Kind kind = Kind::Added;
    QString asked;
    QString stored;
};

// Adds the entry `subkeyName` armed. The store matches names in any letter case: an entry that is
// there already keeps its spelling and is armed again.
AddResult addWatchEntry(Module1 &registry, const QString &subkeyName);

// What the user must hear of a command's adds, one line each: entries that were there already
// and entries that could not be kept. "" when every entry was simply added.
QString describeAdds(const QList<AddResult> &results);

} // namespace kelvoran
