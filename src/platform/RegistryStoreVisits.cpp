// The visit log's table in the store's file.
#include "platform/RegistryStoreImpl.h"

namespace kelvoran::platform {

qint64 RegistryStore::addVisit(const VisitRow &v)
{
    if (d->version < kVisitsVersion || !v.came.isValid())
        return 0;
    Impl::Txn write(*d);
    const TimeOrNull left{v.left.isValid(), v.left.isValid() ? v.left.toMSecsSinceEpoch() : 0};
    if (!write || !Impl::Query(*d,
                               "INSERT INTO visits(came, ended, note, friend, watched, name, ip, "
                               "muted, server, came_note) "
                               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)",
                               v.came.toMSecsSinceEpoch(), left, v.endNote, qint64(v.isFriend),
                               v.watchedAs, v.name, v.ip, qint64(v.muted), v.server, v.cameNote)
                       .run())
        return 0;
    const qint64 id = sqlite3_last_insert_rowid(d->db);
    return Impl::Query(*d,
                       "DELETE FROM visits WHERE id <= "
                       "(SELECT id FROM visits ORDER BY id DESC LIMIT 1 OFFSET ?1)",
                       qint64(kMaxVisits))
                       .run() &&
                   write.commit()
               ? id
               : 0;
}

bool RegistryStore::endVisit(qint64 id, const QDateTime &left, const QString &endNote)
{
    if (d->version < kVisitsVersion || !left.isValid())
        return false;
    Impl::Txn write(*d);
    return write &&
           Impl::Query(*d, "UPDATE visits SET ended = ?2, note = ?3 WHERE id = ?1", id,
                       left.toMSecsSinceEpoch(), endNote)
               .run() &&
           write.commit();
}

QList<VisitRow> RegistryStore::visits()
{
    QList<VisitRow> list;
    if (d->version < kVisitsVersion)
        return list; // an older file that may not be written has no log yet
    // A file of version 2 that may not be written has no server or note of how a visit began.
    Impl::Query q(*d,
                  d->version < kVisitServerVersion
                      ? "SELECT id, came, ended, note, friend, watched, name, ip, muted, '', '' "
                        "FROM visits ORDER BY id DESC"
                      : "SELECT id, came, ended, note, friend, watched, name, ip, muted, "
                        "server, came_note FROM visits ORDER BY id DESC");
    while (q.next()) {
        sqlite3_stmt *r = q.row();
        VisitRow v;
        v.id = sqlite3_column_int64(r, 0);
        v.came = QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(r, 1));
        if (sqlite3_column_type(r, 2) != SQLITE_NULL)
            v.left = QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(r, 2));
        v.endNote = columnText(r, 3);
        v.isFriend = sqlite3_column_int(r, 4) != 0;
        v.watchedAs = columnText(r, 5);
        v.name = columnText(r, 6);
        v.ip = columnText(r, 7);
        v.muted = sqlite3_column_int(r, 8) != 0;
        v.server = columnText(r, 9);
        v.cameNote = columnText(r, 10);
        list.append(std::move(v));
    }
    return list;
}

bool RegistryStore::clearVisits(const QList<qint64> &keep)
{
    if (d->version < kVisitsVersion)
        return false;
    // What lies between two kept ids goes; ids start at 1.
    QList<qint64> bounds = keep;
    bounds << 0 << std::numeric_limits<qint64>::max();
    std::sort(bounds.begin(), bounds.end());
    Impl::Txn write(*d);
    for (qsizetype i = 1; write && i < bounds.size(); ++i)
        if (!Impl::Query(*d, "DELETE FROM visits WHERE id > ?1 AND id < ?2", bounds[i - 1],
                         bounds[i])
                 .run())
            return false;
    return write && write.commit();
}

} // namespace kelvoran::platform
