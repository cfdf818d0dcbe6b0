#pragma once
// The watch-list commands on the store: listing, adding and removing entries.
#include "watchlist/Module1.h"

#include <QString>
#include <QStringList>

namespace kelvoran::Module1 {

inline const QString kAnnounceValue = QStringLiteral("Annouce");
inline const QString kArmed = QStringLiteral("YES");
inline const QString kAnnounced = QStringLiteral("NO");
inline const QString kFriendPrefix = QStringLiteral("Frd_");
inline const QString kFoePrefix = QStringLiteral("Foe_");

// The subkey names under `path`, in the store's order (what the watch-list box shows).
QStringList enumregkey(const RegPath &path);

// Creates the entry prefix + identifier (and any missing parent key) and arms it.
void addWatchEntry(const QString &prefix, const QString &identifier);

// Whether prefix + identifier is already one of the rows of the watch-list box.
bool alreadyWatched(const QString &prefix, const QString &identifier, const QStringList &rows);

} // namespace kelvoran::Module1
