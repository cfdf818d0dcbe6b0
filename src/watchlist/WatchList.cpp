#include "watchlist/WatchList.h"

namespace kelvoran::Module1 {

QStringList enumregkey(const RegPath &path)
{
    return entryNames(path);
}

void addWatchEntry(const QString &prefix, const QString &identifier)
{
    // The subkey name is one path component, whatever characters the identifier holds.
    const RegPath entry = subPath(kChecklistKey, prefix + identifier);
    createRegKey(entry, HKEY_LOCAL_MACHINE());
    setRegKeyValue(entry, kAnnounceValue, kArmed, REG_SZ);
}

bool alreadyWatched(const QString &prefix, const QString &identifier, const QStringList &rows)
{
    return rows.contains(prefix + identifier, Qt::CaseSensitive);
}

} // namespace kelvoran::Module1
