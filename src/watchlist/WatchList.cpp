#include "watchlist/WatchList.h"

namespace kelvoran {

QStringView identifierOf(const QString &subkeyName)
{
    // Names shorter than a prefix can only come from another program; they identify nobody.
    if (subkeyName.size() < 4)
        return {};
    return QStringView(subkeyName).mid(4);
}

bool alreadyWatched(const QString &prefix, const QString &identifier, const QStringList &rows)
{
    return rows.contains(prefix + identifier, Qt::CaseSensitive);
}

} // namespace kelvoran
