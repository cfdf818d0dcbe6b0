#pragma once
// The stored watch list's names and values, and the commands that list and add entries.
#include <QString>
#include <QStringList>

namespace kelvoran {

class Module1;

inline const QString kAnnounceValue = QStringLiteral("Annouce");
inline const QString kArmed = QStringLiteral("YES");
inline const QString kAnnounced = QStringLiteral("NO");
inline const QString kFriendPrefix = QStringLiteral("Frd_");
inline const QString kFoePrefix = QStringLiteral("Foe_");

// The identifier of a watch entry: its subkey name after the four-character kind prefix.
QStringView identifierOf(const QString &subkeyName);

// Whether prefix + identifier is already one of the rows of the watch-list box.
bool alreadyWatched(const QString &prefix, const QString &identifier, const QStringList &rows);

} // namespace kelvoran
