#include "watchlist/WatchList.h"

#include "watchlist/Module1.h"

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

AddResult addWatchEntry(Module1 &registry, const QString &subkeyName)
{
    const QString existing = registry.storedEntryName(subkeyName);
    if (!registry.addEntry(subkeyName))
        return {AddResult::Kind::Failed, subkeyName, registry.writeFailure()};
    if (existing.isEmpty())
        return {AddResult::Kind::Added, subkeyName, subkeyName};
    return {AddResult::Kind::Rearmed, subkeyName, existing};
}

QString describeAdds(const QList<AddResult> &results)
{
    QStringList lines;
    for (const AddResult &r : results) {
        if (r.kind == AddResult::Kind::Failed) {
            lines << QStringLiteral("%1 could not be added to the watch list: %2.")
                         .arg(r.asked, r.stored);
        } else if (r.kind == AddResult::Kind::Rearmed && r.stored == r.asked) {
            lines << QStringLiteral("%1 is already on the watch list; it is armed again.")
                         .arg(r.asked);
        } else if (r.kind == AddResult::Kind::Rearmed) {
            lines << QStringLiteral("%1 is already on the watch list as %2; it is armed again.")
                         .arg(r.asked, r.stored);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace kelvoran
