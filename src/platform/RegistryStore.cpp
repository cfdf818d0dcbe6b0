#include "platform/RegistryStore.h"

#include "platform/RegistryStoreImpl.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace kelvoran::platform {

namespace {

// Marks a database file as ours ("KLVR"); a database of any other program is never touched.
constexpr int kApplicationId = 0x4B4C5652;
constexpr int kSchemaVersion = 3;
constexpr int kBusyTimeoutMs = 5000;

// The unique index on (parent, folded) serves both the lookup of a name and the listing of a
// key's subkeys in folded-name order. The "meta" table is kept for files shared with older
// versions of the program.
const char *const kSchema = R"(
CREATE TABLE meta(k TEXT PRIMARY KEY, v INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    UNIQUE(parent, folded));
CREATE TABLE vals(
    key INTEGER NOT NULL,
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, folded)) WITHOUT ROWID;
INSERT INTO meta(k, v) VALUES('structure', 0);
)";

// Added in version 2; a file of version 1 gains it the first time it is opened for writing. The
// ids only grow, so they give the order in which the visits began.
const char *const kVisitsSchema = R"(
CREATE TABLE visits(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    came INTEGER NOT NULL,
    ended INTEGER,
    note TEXT NOT NULL,
    friend INTEGER NOT NULL,
    watched TEXT NOT NULL,
    name TEXT NOT NULL,
    ip TEXT NOT NULL,
    muted INTEGER NOT NULL,
    server TEXT NOT NULL DEFAULT '',
    came_note TEXT NOT NULL DEFAULT '');
)";
// Version 3 added the last two columns; a file of version 2 gains them like the log above.
const char *const kVisitServerColumns = R"(
ALTER TABLE visits ADD COLUMN server TEXT NOT NULL DEFAULT '';
ALTER TABLE visits ADD COLUMN came_note TEXT NOT NULL DEFAULT '';
)";

// A name component may hold any character but NUL, and may not be empty.
bool validName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QChar(0));
}

bool validPath(const KeyPath &path)
{
    return !path.isEmpty() && std::all_of(path.cbegin(), path.cend(), validName);
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(strerror(err));
}

// Whether the file may be written. The write bits count even for root, who could write anyway:
// a file made read-only on purpose stays unwritten.
bool mayWrite(const QByteArray &native, const struct stat &st)
{
    return (st.st_mode & 0222) != 0 && ::access(native.constData(), W_OK) == 0;
}

// Creates the store's folder (and any missing parent), private to the user; an existing folder is
// left as it is.
bool makeFolder(const QString &dir, QString *why)
{
    if (QFileInfo(dir).isDir())
        return true;
    if (!QDir().mkpath(dir)) {
        *why = QStringLiteral("cannot be created: its folder %1 cannot be made").arg(dir);
        return false;
    }
    ::chmod(QFile::encodeName(dir).constData(), 0700); // exact, whatever the umask says
    return true;
}

} // namespace

// Looks at the file through a read-only connection first, so that nothing is written to a file
// that turns out to be damaged or someone else's.
bool RegistryStore::Impl::checkContents(QString *why)
{
    sqlite3 *ro = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &ro,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    auto closeRo = qScopeGuard([&] { sqlite3_close_v2(ro); });
    if (rc != SQLITE_OK) {
        *why = QStringLiteral("cannot be opened (%1)")
                   .arg(QString::fromUtf8(ro ? sqlite3_errmsg(ro) : sqlite3_errstr(rc)));
        return false;
    }
    sqlite3_db_config(ro, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(ro, kBusyTimeoutMs);

    // The first column of every row of `sql`; false (and `why` set) when it cannot be read.
    auto rows = [&](const char *sql, QStringList *out) {
        sqlite3_stmt *st = nullptr;
        int r = sqlite3_prepare_v2(ro, sql, -1, &st, nullptr);
        if (r == SQLITE_OK) {
            while ((r = sqlite3_step(st)) == SQLITE_ROW)
                out->append(columnText(st, 0));
        }
        sqlite3_finalize(st);
        if (r != SQLITE_DONE && r != SQLITE_OK) {
            const int primary = sqlite3_errcode(ro) & 0xff;
            const QString msg = QString::fromUtf8(sqlite3_errmsg(ro));
            *why = primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT
                       ? QStringLiteral("is damaged or not a database (%1)").arg(msg)
                       : QStringLiteral("cannot be read (%1)").arg(msg);
            return false;
        }
        return true;
    };

    QStringList check, appId, userVersion, objects, tables;
    if (!rows("PRAGMA quick_check", &check))
        return false;
    if (check != QStringList{QStringLiteral("ok")}) {
        *why = QStringLiteral("is damaged (%1)").arg(check.value(0));
        return false;
    }
    if (!rows("PRAGMA application_id", &appId) || !rows("PRAGMA user_version", &userVersion) ||
        !rows("SELECT name FROM sqlite_schema", &objects))
        return false;
    if (objects.isEmpty())
        return true; // a new, empty database: ours to set up
    if (appId.value(0).toInt() != kApplicationId) {
        *why = QStringLiteral("is not a Kelvoran registry store");
        return false;
    }
    version = userVersion.value(0).toInt();
    if (version > kSchemaVersion) {
        *why = QStringLiteral("was written by a newer version of Kelvoran");
        return false;
    }
    if (!rows("SELECT name FROM sqlite_schema WHERE type = 'table' AND name IN ('keys', 'vals')",
              &tables))
        return false;
    if (tables.size() != 2) {
        *why = QStringLiteral("is damaged (tables missing)");
        return false;
    }
    return true;
}

bool RegistryStore::Impl::prepareSchema(QString *why)
{
    auto exec = [&](const char *sql) {
        char *err = nullptr;
        const int rc = sqlite3_exec(db, sql, nullptr, nullptr, &err);
        if (rc != SQLITE_OK)
            *why = QStringLiteral("cannot be set up (%1)")
                       .arg(QString::fromUtf8(err ? err : sqlite3_errstr(rc)));
        sqlite3_free(err);
        return rc == SQLITE_OK;
    };
    // WAL lets a second copy of the program read while this one writes; FULL makes every commit
    // durable before it returns.
    if (!exec("PRAGMA journal_mode = WAL") || !exec("PRAGMA synchronous = FULL") ||
        !exec("BEGIN IMMEDIATE"))
        return false;
    auto number = [&](const char *sql) {
        sqlite3_stmt *st = nullptr;
        int n = -1;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        return n;
    };
    // Read inside the transaction: another copy may have set the file up or stepped it meanwhile.
    const int count = number("SELECT count(*) FROM sqlite_schema");
    const int fileVersion = number("PRAGMA user_version");
    bool ok = count >= 0 && fileVersion >= 0;
    if (!ok)
        *why = QStringLiteral("cannot be read (%1)").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    const QByteArray ids = "PRAGMA application_id = " + QByteArray::number(kApplicationId) +
                           "; PRAGMA user_version = " + QByteArray::number(kSchemaVersion) + ";";
    if (ok && count == 0)
        ok = exec(ids.constData()) && exec(kSchema) && exec(kVisitsSchema);
    else if (ok && fileVersion < kVisitsVersion)
        ok = exec(kVisitsSchema) && exec(ids.constData());
    else if (ok && fileVersion < kVisitServerVersion)
        ok = exec(kVisitServerColumns) && exec(ids.constData());
    if (ok && exec("COMMIT")) {
        version = kSchemaVersion;
        return true;
    }
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool RegistryStore::Impl::openFile()
{
    QString why;
    if (path.isEmpty()) {
        refuseWrites(QStringLiteral("has no file path"));
        return false;
    }
    const QString dir = QFileInfo(path).absolutePath();
    if (!makeFolder(dir, &why)) {
        refuseWrites(why);
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0) {
        // A new file, made private before anything is written into it.
        const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            refuseWrites(QStringLiteral("cannot be created (%1)").arg(errnoText(errno)));
            return false;
        }
        if (fd >= 0) {
            ::fchmod(fd, 0600);
            ::close(fd);
        }
        if (::stat(native.constData(), &st) != 0) {
            refuseWrites(QStringLiteral("cannot be opened (%1)").arg(errnoText(errno)));
            return false;
        }
    }
    // SQLite would block for good opening a FIFO, and has no business with a device or a folder.
    if (!S_ISREG(st.st_mode)) {
        refuseWrites(QStringLiteral("is not a regular file"));
        return false;
    }
    // SQLite keeps its journal beside the file, so the folder must be writable too.
    struct stat dirSt;
    const QByteArray nativeDir = QFile::encodeName(dir);
    QString readOnly;
    if (!mayWrite(native, st))
        readOnly = QStringLiteral("may not be written (no write permission)");
    else if (::stat(nativeDir.constData(), &dirSt) != 0 || !mayWrite(nativeDir, dirSt))
        readOnly =
            QStringLiteral("may not be written (its folder %1 has no write permission)").arg(dir);
    if (!checkContents(&why)) {
        // Read-only permissions can keep SQLite from reading the file at all: then they are the
        // cause to tell.
        refuseWrites(readOnly.isEmpty() || why.contains(QLatin1String("damaged")) ? why : readOnly);
        return false;
    }

    const int flags =
        (readOnly.isEmpty() ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(native.constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        giveUp(QStringLiteral("cannot be opened (%1)")
                   .arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc))));
        close(); // nothing is in use yet
        return false;
    }
    // Until the file is known to be good, closing must not write anything into it.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // Room for a watch list of many thousand entries, so a poll's read stays in memory.
    sqlite3_exec(db, "PRAGMA cache_size = -16384", nullptr, nullptr, nullptr);
    if (!readOnly.isEmpty()) {
        refuseWrites(readOnly);
        return true; // readable: the watch list shows, nothing is saved
    }
    if (!prepareSchema(&why)) {
        giveUp(why);
        close();
        return false;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    writable = true;
    return true;
}

RegistryStore::RegistryStore(const QString &filePath) : d(std::make_unique<Impl>())
{
    d->path = filePath;
    d->openFile();
}

RegistryStore::~RegistryStore() = default;

QString RegistryStore::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is not a valid setting of the variable and is ignored.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/kelvoran/registry.sqlite3");
}

QString RegistryStore::filePath() const
{
    return d->path;
}

QString RegistryStore::problem() const
{
    return d->problem;
}

KeyHandle RegistryStore::createKey(const KeyPath &path)
{
    if (!validPath(path))
        return kNoKey;
    const qint64 existing = d->resolve(path, false);
    if (existing > 0)
        return existing;
    Impl::Txn write(*d);
    const qint64 id = write ? d->resolve(path, true) : -1;
    return id > 0 && write.commit() ? id : kNoKey;
}

bool RegistryStore::createKeyWithValue(const KeyPath &path, const QString &valueName,
                                       const StoredValue &value)
{
    if (!validPath(path) || !validName(valueName))
        return false;
    const qint64 existing = d->resolve(path, false);
    StoredValue old;
    if (existing > 0 && d->readValue(existing, valueName, &old) && old.type == value.type &&
        old.data == value.data)
        return true; // nothing to write, so nothing touches the disk
    Impl::Txn write(*d);
    const qint64 id = write ? d->resolve(path, true) : -1;
    return id > 0 && d->writeValue(id, valueName, value) && write.commit();
}

KeyHandle RegistryStore::openKey(const KeyPath &path)
{
    const qint64 id = validPath(path) ? d->resolve(path, false) : -1;
    return id > 0 ? id : kNoKey;
}

bool RegistryStore::setValue(KeyHandle key, const QString &name, const StoredValue &value)
{
    if (key == kNoKey || !validName(name))
        return false;
    StoredValue old;
    if (d->readValue(key, name, &old) && old.type == value.type && old.data == value.data)
        return true; // nothing to write, so nothing touches the disk
    Impl::Txn write(*d);
    // The key may have been deleted by another copy since it was opened.
    return write && Impl::Query(*d, "SELECT 1 FROM keys WHERE id = ?1", key).next() &&
           d->writeValue(key, name, value) && write.commit();
}

bool RegistryStore::queryValue(KeyHandle key, const QString &name, StoredValue *value)
{
    return key != kNoKey && validName(name) && d->readValue(key, name, value);
}

QStringList RegistryStore::subKeyNames(KeyHandle key)
{
    QStringList names;
    if (key == kNoKey)
        return names;
    Impl::Query q(*d, "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded", key);
    while (q.next())
        names.append(columnText(q.row(), 0));
    return names;
}

QList<SubKeyValue> RegistryStore::subKeysWithValue(KeyHandle key, const QString &valueName)
{
    QList<SubKeyValue> list;
    if (key == kNoKey)
        return list;
    Impl::Query q(*d,
                  "SELECT k.name, v.type, v.data FROM keys AS k LEFT JOIN vals AS v "
                  "ON v.key = k.id AND v.folded = ?2 WHERE k.parent = ?1 ORDER BY k.folded",
                  key, valueName.toCaseFolded());
    while (q.next()) {
        SubKeyValue entry{columnText(q.row(), 0), {}};
        if (sqlite3_column_type(q.row(), 1) != SQLITE_NULL)
            entry.value = {quint32(sqlite3_column_int64(q.row(), 1)), columnBlob(q.row(), 2)};
        list.append(std::move(entry));
    }
    return list;
}

bool RegistryStore::deleteSubKey(KeyHandle key, const QString &name)
{
    if (key == kNoKey || !validName(name) || d->findChild(key, name) < 0)
        return false;
    Impl::Txn write(*d);
    const qint64 target = write ? d->findChild(key, name) : -1;
    // The key and everything under it, values first.
#define KELVORAN_SUBTREE                                                                           \
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "                                              \
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    return target > 0 &&
           Impl::Query(*d, KELVORAN_SUBTREE "DELETE FROM vals WHERE key IN sub", target).run() &&
           Impl::Query(*d, KELVORAN_SUBTREE "DELETE FROM keys WHERE id IN sub", target).run() &&
           write.commit();
#undef KELVORAN_SUBTREE
}

bool RegistryStore::deleteValuesStartingWith(KeyHandle key, const QString &namePrefix)
{
    return key != kNoKey && validName(namePrefix) &&
           d->deleteValuesIfAny("SELECT EXISTS(SELECT 1 FROM vals WHERE key = ?1 AND "
                                "substr(folded, 1, length(?2)) = ?2)",
                                "DELETE FROM vals WHERE key = ?1 AND "
                                "substr(folded, 1, length(?2)) = ?2",
                                key, namePrefix.toCaseFolded());
}

bool RegistryStore::deleteValueOfSubKeys(KeyHandle parent, const QString &valueName)
{
    return parent != kNoKey && validName(valueName) &&
           d->deleteValuesIfAny("SELECT EXISTS(SELECT 1 FROM vals WHERE folded = ?2 AND key IN "
                                "(SELECT id FROM keys WHERE parent = ?1))",
                                "DELETE FROM vals WHERE folded = ?2 AND key IN "
                                "(SELECT id FROM keys WHERE parent = ?1)",
                                parent, valueName.toCaseFolded());
}

quint64 RegistryStore::committedWrites() const
{
    return d->writes;
}

} // namespace kelvoran::platform
