#pragma once
// The store's inside, shared by the files that make it up: the connection with its prepared
// statements, one statement's run, one write transaction.
#include "platform/Log.h"
#include "platform/RegistryStore.h"

#include <sqlite3.h>
#include <unordered_map>
#include <utility>

namespace kelvoran::platform::store {

// A time in milliseconds since the epoch, or SQL's NULL. (Not std::optional: GCC's -O3 warns
// wrongly that its value may be read uninitialised.)
struct TimeOrNull
{
    bool set = false;
    qint64 ms = 0;
};

// The root stands for the hive; it has no row of its own. Key ids start at 1.
constexpr qint64 kRootId = 0;

// The version whose files hold the visit log, and the one whose visits name their server.
constexpr int kVisitsVersion = 2;
constexpr int kVisitServerVersion = 3;

inline QString columnText(sqlite3_stmt *st, int col)
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(st, col));
    return p ? QString::fromUtf8(p, sqlite3_column_bytes(st, col)) : QString();
}

inline QByteArray columnBlob(sqlite3_stmt *st, int col)
{
    const void *p = sqlite3_column_blob(st, col);
    const int bytes = sqlite3_column_bytes(st, col);
    return p && bytes > 0 ? QByteArray(static_cast<const char *>(p), bytes) : QByteArray("");
}

} // namespace kelvoran::platform::store

namespace kelvoran::platform {

using namespace store;

struct RegistryStore::Impl
{
    QString path;
    sqlite3 *db = nullptr;
    bool writable = false;
    int version = 0; // the file's schema version
    QString problem;
    quint64 writes = 0;
    std::unordered_map<const char *, sqlite3_stmt *> stmts; // prepared once, by their text
    bool broken = false;                                    // gave up: no statement runs any more

    ~Impl() { close(); }

    void close()
    {
        for (const auto &[sql, st] : stmts)
            sqlite3_finalize(st);
        stmts.clear();
        sqlite3_close_v2(db);
        db = nullptr;
    }

    // Records why writes fail and says so once on standard error.
    void refuseWrites(const QString &why)
    {
        writable = false;
        if (!problem.isEmpty())
            return;
        problem = why;
        qCWarning(lcKelvoran).noquote()
            << QStringLiteral("registry store \"%1\" %2; nothing will be saved").arg(path, why);
    }

    // The store becomes empty for the rest of the run: reads give nothing, writes fail. The
    // statements and the connection stay until the store goes, as a caller up the stack may still
    // be using one of them. The file stays as it is: no checkpoint runs on close either.
    void giveUp(const QString &why)
    {
        if (db)
            sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        broken = true;
        refuseWrites(why);
    }

    // Handles the result code of a failed statement: damage found while running ends all use.
    void failed(int rc, const char *sql)
    {
        const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
        const int primary = rc & 0xff;
        if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
            giveUp(QStringLiteral("is damaged (%1)").arg(msg));
            return;
        }
        qCWarning(lcKelvoran).noquote()
            << QStringLiteral("registry store \"%1\": \"%2\" failed: %3").arg(path, sql, msg);
    }

    // The prepared statement of `sql`; nullptr once the store has given up.
    sqlite3_stmt *stmt(const char *sql)
    {
        if (!db || broken)
            return nullptr;
        if (const auto it = stmts.find(sql); it != stmts.end())
            return it->second;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
            failed(sqlite3_errcode(db), sql);
            return nullptr;
        }
        stmts.emplace(sql, st);
        return st;
    }

    // One run of a prepared statement: bound to its arguments, stepped through, reset.
    class Query
    {
    public:
        template <typename... Args>
        Query(Impl &impl, const char *sql, const Args &...args)
            : d(impl), sql(sql), st(impl.stmt(sql))
        {
            if (st)
                (bind(args), ...);
        }
        ~Query()
        {
            if (st) {
                sqlite3_reset(st);
                sqlite3_clear_bindings(st);
            }
        }
        // True while there is a row; false at the end or on a failure (see run()).
        bool next()
        {
            const int rc = st ? sqlite3_step(st) : SQLITE_MISUSE;
            if (rc == SQLITE_ROW)
                return true;
            good = rc == SQLITE_DONE;
            if (st && !good) {
                sqlite3_reset(std::exchange(st, nullptr));
                d.failed(rc, sql);
            }
            return false;
        }
        // Runs a statement whose rows do not matter; true when it ran to its end.
        bool run()
        {
            while (next()) {
            }
            return good;
        }
        sqlite3_stmt *row() const { return st; }

    private:
        void bind(qint64 v) { sqlite3_bind_int64(st, ++n, v); }
        void bind(const TimeOrNull &v)
        {
            v.set ? sqlite3_bind_int64(st, ++n, v.ms) : sqlite3_bind_null(st, ++n);
        }
        void bind(const QString &text)
        {
            const QByteArray utf8 = text.toUtf8();
            sqlite3_bind_text(st, ++n, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        }
        void bind(const QByteArray &blob)
        {
            sqlite3_bind_blob(st, ++n, blob.constData(), int(blob.size()), SQLITE_TRANSIENT);
        }

        Impl &d;
        const char *sql;
        sqlite3_stmt *st;
        int n = 0;
        bool good = false;
    };

    // One write transaction; rolled back unless committed.
    class Txn
    {
    public:
        explicit Txn(Impl &impl)
            : d(impl), open(impl.writable && Query(impl, "BEGIN IMMEDIATE").run())
        {
        }
        // Not a prepared statement: the rollback must run also after the store gave up in the
        // middle, so that the lock on the file is let go.
        ~Txn()
        {
            if (open && !sqlite3_get_autocommit(d.db))
                sqlite3_exec(d.db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        explicit operator bool() const { return open; }
        bool commit()
        {
            if (!open || !Query(d, "COMMIT").run())
                return false;
            open = false;
            ++d.writes;
            return true;
        }

    private:
        Impl &d;
        bool open;
    };

    qint64 findChild(qint64 parent, const QString &name)
    {
        Query q(*this, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2", parent,
                name.toCaseFolded());
        return q.next() ? sqlite3_column_int64(q.row(), 0) : -1;
    }

    // Id of the key at `path`, or -1. With `create`, missing keys are added (inside the caller's
    // write transaction).
    qint64 resolve(const KeyPath &path, bool create)
    {
        qint64 id = kRootId;
        for (const QString &name : path) {
            qint64 child = findChild(id, name);
            if (child < 0 && create &&
                Query(*this, "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)", id, name,
                      name.toCaseFolded())
                    .run())
                child = sqlite3_last_insert_rowid(db);
            if (child < 0)
                return -1;
            id = child;
        }
        return id;
    }

    bool readValue(qint64 key, const QString &name, StoredValue *value)
    {
        Query q(*this, "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2", key,
                name.toCaseFolded());
        if (!q.next())
            return false;
        if (value)
            *value = StoredValue{quint32(sqlite3_column_int64(q.row(), 0)), columnBlob(q.row(), 1)};
        return true;
    }

    bool writeValue(qint64 key, const QString &name, const StoredValue &value)
    {
        return Query(*this,
                     "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                     "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, "
                     "data = excluded.data",
                     key, name, name.toCaseFolded(), qint64(value.type),
                     value.data.isNull() ? QByteArray("") : value.data)
            .run();
    }

    // Deletes the values that `remove` picks, in one transaction, once `exists` (the same
    // condition in "SELECT EXISTS(...)") says there are any; with none, nothing touches the disk.
    // Both take the key's id as ?1 and a folded name as ?2.
    bool deleteValuesIfAny(const char *exists, const char *remove, qint64 key,
                           const QString &folded)
    {
        {
            Query any(*this, exists, key, folded);
            if (!any.next())
                return false; // the file cannot be read
            if (sqlite3_column_int(any.row(), 0) == 0)
                return true;
        }
        Txn write(*this);
        return write && Query(*this, remove, key, folded).run() && write.commit();
    }

    bool openFile();
    bool checkContents(QString *why);
    bool prepareSchema(QString *why);
};

} // namespace kelvoran::platform
