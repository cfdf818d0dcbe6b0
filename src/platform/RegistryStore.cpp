#include "platform/RegistryStore.h"

#include "platform/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kelvoran::platform {

namespace {

// Marks a database file as ours ("KLVR"); a database of any other program is never touched.
constexpr int kApplicationId = 0x4B4C5652;
constexpr int kSchemaVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

// The root stands for the hive; it has no row of its own.
constexpr qint64 kRootId = 0;

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

enum Stmt {
    Begin,
    BeginImmediate,
    Commit,
    Rollback,
    DataVersion,
    StructureVersion,
    BumpStructure,
    AllKeys,
    InsertKey,
    AllValues,
    UpsertValue,
    DeleteSubtreeValues,
    DeleteSubtreeKeys,
    StmtCount
};

const std::array<const char *, StmtCount> kStatements = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "PRAGMA data_version",
    "SELECT v FROM meta WHERE k = 'structure'",
    "UPDATE meta SET v = v + 1 WHERE k = 'structure'",
    "SELECT id, parent, name, folded FROM keys",
    "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)",
    "SELECT key, folded, type, data FROM vals",
    "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    "DELETE FROM vals WHERE key IN sub",
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL "
    "SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id) "
    "DELETE FROM keys WHERE id IN sub",
};

QString columnText(sqlite3_stmt *st, int col)
{
    const void *p = sqlite3_column_text16(st, col);
    const int bytes = sqlite3_column_bytes16(st, col);
    if (!p)
        return QString();
    return QString(static_cast<const QChar *>(p), bytes / int(sizeof(QChar)));
}

QByteArray columnBlob(sqlite3_stmt *st, int col)
{
    const void *p = sqlite3_column_blob(st, col);
    const int bytes = sqlite3_column_bytes(st, col);
    if (!p || bytes <= 0)
        return QByteArray();
    return QByteArray(static_cast<const char *>(p), bytes);
}

int bindText(sqlite3_stmt *st, int idx, const QString &text)
{
    return sqlite3_bind_text16(st, idx, text.utf16(), int(text.size() * sizeof(QChar)),
                               SQLITE_TRANSIENT);
}

// A name component may hold any character but NUL, and may not be empty.
bool validName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QChar(0));
}

// Creates every missing folder of `dir` with mode 0700; existing folders are left as they are.
bool makeFolders(const QString &dir)
{
    const QString clean = QDir::cleanPath(QDir(dir).absolutePath());
    QStringList parts = clean.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current;
    for (const QString &part : parts) {
        current += QLatin1Char('/') + part;
        const QByteArray native = QFile::encodeName(current);
        struct stat st;
        if (::stat(native.constData(), &st) == 0) {
            if (!S_ISDIR(st.st_mode))
                return false;
            continue;
        }
        if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        // The mode is exact whatever the umask says.
        ::chmod(native.constData(), 0700);
    }
    return true;
}

struct Value
{
    quint32 type = 0;
    QByteArray data;
};

// A value is found by its key's id and its folded name.
using ValueId = std::pair<qint64, QString>;

struct Node
{
    qint64 parent = -1;
    QString name;
    QString folded;
    QHash<QString, qint64> children; // folded name -> id
    // Child names in folded order; built on demand, dropped when the children change.
    std::shared_ptr<const QStringList> sorted;
};

struct OpenKey
{
    qint64 id = kRootId;
    // The child list the current walk reads, the index it expects next and the cache generation
    // it was taken from.
    std::shared_ptr<const QStringList> walk;
    quint32 next = 0;
    quint64 generation = 0;
    quint32 serial = 0;
    bool inUse = false;
};

} // namespace

struct RegistryStore::Impl
{
    QString path;
    sqlite3 *db = nullptr;
    bool usable = false;
    bool warned = false;
    quint64 writes = 0;
    std::array<sqlite3_stmt *, StmtCount> stmts{};

    // In-memory picture of the key tree and of the values. `dataVersion` is the last
    // "PRAGMA data_version" seen: it changes whenever another connection commits, and then the
    // stored structure counter tells whether the tree must be read again or only the values.
    // Our own writes update the picture directly.
    bool cacheValid = false;
    qint64 dataVersion = -1;
    qint64 structureVersion = -1;
    quint64 generation = 1; // bumped on every change of the cached tree
    std::unordered_map<qint64, Node> nodes;
    // All values, read in one go with the tree. Values of deleted keys may linger here until the
    // next reload: key ids are never used twice, so nothing can reach them.
    QHash<ValueId, Value> values;

    // Open keys live in reusable keySlots. A handle is the slot number plus one in its low half and
    // the slot's use count in its high half, so a closed handle never reaches a later key.
    std::vector<OpenKey> keySlots;
    std::vector<quint32> freeSlots;

    // The path resolved last and the ids along it: the poll cycle resolves thousands of paths
    // that differ only in their last component.
    KeyPath lastPath;
    std::vector<qint64> lastIds;
    quint64 lastPathGeneration = 0;
    // Likewise the value name folded last ("Annouce", over and over).
    QString lastValueName;
    QString lastValueFolded;

    ~Impl() { close(); }

    void close()
    {
        for (sqlite3_stmt *&st : stmts) {
            sqlite3_finalize(st);
            st = nullptr;
        }
        if (db) {
            sqlite3_close_v2(db);
            db = nullptr;
        }
    }

    void warn(const QString &what)
    {
        qCWarning(lcKelvoran).noquote()
            << QStringLiteral("registry store \"%1\" %2").arg(path, what);
    }

    // The store becomes empty and read-only for the rest of the run. The file stays as it is: no
    // checkpoint runs on close either.
    void giveUp(const QString &why)
    {
        if (db)
            sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        usable = false;
        dropCache();
        if (!warned) {
            warned = true;
            warn(why + QStringLiteral("; it is left untouched and nothing will be saved"));
        }
    }

    // Handles the result code of a failed statement: damage found while running ends all use.
    void failed(int rc, const char *what)
    {
        const int primary = rc & 0xff;
        const QString msg = QString::fromUtf8(sqlite3_errmsg(db));
        if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
            giveUp(QStringLiteral("is damaged (%1)").arg(msg));
            return;
        }
        warn(QStringLiteral("%1 failed: %2").arg(QLatin1String(what), msg));
    }

    sqlite3_stmt *stmt(Stmt which)
    {
        sqlite3_stmt *&st = stmts[which];
        if (!st) {
            const int rc = sqlite3_prepare_v3(db, kStatements[which], -1, SQLITE_PREPARE_PERSISTENT,
                                              &st, nullptr);
            if (rc != SQLITE_OK) {
                failed(rc, "preparing a statement");
                st = nullptr;
            }
        }
        return st;
    }

    // Runs a statement that returns no rows (or whose rows do not matter).
    bool run(Stmt which, const char *what)
    {
        sqlite3_stmt *st = stmt(which);
        return st && runBound(st, what);
    }

    bool runBound(sqlite3_stmt *st, const char *what)
    {
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        sqlite3_clear_bindings(st);
        if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
            failed(rc, what);
            return false;
        }
        return true;
    }

    bool queryInt(Stmt which, qint64 *out)
    {
        sqlite3_stmt *st = stmt(which);
        if (!st)
            return false;
        const int rc = sqlite3_step(st);
        if (rc == SQLITE_ROW)
            *out = sqlite3_column_int64(st, 0);
        sqlite3_reset(st);
        if (rc != SQLITE_ROW) {
            failed(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, "reading the store's counters");
            return false;
        }
        return true;
    }

    bool inTransaction() const { return !sqlite3_get_autocommit(db); }

    // One short transaction; rolled back unless committed.
    class Txn
    {
    public:
        Txn(Impl *impl, bool write) : d(impl)
        {
            open = d->run(write ? BeginImmediate : Begin, "starting a transaction");
        }
        ~Txn()
        {
            if (open && d->inTransaction())
                d->run(Rollback, "rolling back");
        }
        explicit operator bool() const { return open; }
        bool commit()
        {
            if (!open)
                return false;
            open = false;
            if (d->run(Commit, "committing"))
                return true;
            if (d->inTransaction())
                d->run(Rollback, "rolling back");
            d->dropCache();
            return false;
        }

    private:
        Impl *d;
        bool open = false;
    };

    void dropCache()
    {
        cacheValid = false;
        nodes.clear();
        values.clear();
        ++generation;
    }

    bool loadTree()
    {
        dropCache();
        nodes[kRootId] = Node{};
        sqlite3_stmt *st = stmt(AllKeys);
        if (!st)
            return false;
        int rc;
        std::vector<qint64> ids;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            const qint64 id = sqlite3_column_int64(st, 0);
            if (id == kRootId)
                continue;
            Node &n = nodes[id];
            n.parent = sqlite3_column_int64(st, 1);
            n.name = columnText(st, 2);
            n.folded = columnText(st, 3);
            ids.push_back(id);
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) {
            failed(rc, "reading the keys");
            nodes.clear();
            return false;
        }
        for (qint64 id : ids) {
            const Node &n = nodes[id];
            auto parent = nodes.find(n.parent);
            if (parent != nodes.end())
                parent->second.children.insert(n.folded, id);
        }
        // Rows whose parent is gone cannot be reached from the root; they are left out.
        std::vector<qint64> pending{kRootId};
        size_t reachable = 0;
        while (!pending.empty()) {
            const qint64 id = pending.back();
            pending.pop_back();
            ++reachable;
            for (qint64 child : std::as_const(nodes[id].children))
                pending.push_back(child);
        }
        if (reachable != nodes.size()) {
            std::unordered_map<qint64, Node> kept;
            pending.push_back(kRootId);
            while (!pending.empty()) {
                const qint64 id = pending.back();
                pending.pop_back();
                Node &n = nodes[id];
                for (qint64 child : std::as_const(n.children))
                    pending.push_back(child);
                kept.emplace(id, std::move(n));
            }
            nodes = std::move(kept);
        }
        return true;
    }

    bool loadValues()
    {
        values.clear();
        sqlite3_stmt *st = stmt(AllValues);
        if (!st)
            return false;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            values.insert(ValueId(sqlite3_column_int64(st, 0), columnText(st, 1)),
                          Value{quint32(sqlite3_column_int64(st, 2)), columnBlob(st, 3)});
        }
        sqlite3_reset(st);
        if (rc != SQLITE_DONE) {
            failed(rc, "reading values");
            values.clear();
            return false;
        }
        return true;
    }

    // Brings the cache up to date with the file. Checking costs one small read transaction; when
    // another connection has committed since the last check, the tree or the values are read
    // again, inside one transaction so that they are one consistent state.
    bool sync()
    {
        if (!usable)
            return false;
        qint64 version = 0;
        if (!queryInt(DataVersion, &version))
            return false;
        if (cacheValid && version == dataVersion)
            return true;
        std::optional<Txn> txn;
        if (!inTransaction()) {
            txn.emplace(this, false);
            if (!*txn || !queryInt(DataVersion, &version))
                return false;
        }
        qint64 structure = 0;
        if (!queryInt(StructureVersion, &structure))
            return false;
        if (!cacheValid || structure != structureVersion) {
            if (!loadTree())
                return false;
            structureVersion = structure;
        }
        if (!loadValues())
            return false;
        dataVersion = version;
        cacheValid = true;
        return true;
    }

    bool alive(qint64 id) const { return nodes.find(id) != nodes.end(); }

    // Id of the key at `path`; -1 when it does not exist. `found` receives how many leading
    // components exist.
    qint64 resolve(const KeyPath &path, qsizetype *found = nullptr)
    {
        // Components equal to those of the path resolved last lead to the same keys.
        qsizetype depth = 0;
        if (lastPathGeneration == generation) {
            const qsizetype common = std::min(path.size(), qsizetype(lastIds.size()));
            while (depth < common && path.at(depth) == lastPath.at(depth))
                ++depth;
        }
        qint64 id = depth > 0 ? lastIds[size_t(depth - 1)] : kRootId;
        lastIds.resize(size_t(depth));
        for (; depth < path.size(); ++depth) {
            const Node &n = nodes.at(id);
            auto it = n.children.constFind(path.at(depth).toCaseFolded());
            if (it == n.children.cend())
                break;
            id = *it;
            lastIds.push_back(id);
        }
        lastPath = path;
        lastPathGeneration = generation;
        if (found)
            *found = depth;
        return depth == path.size() ? id : -1;
    }

    QString foldValueName(const QString &name)
    {
        if (name != lastValueName || lastValueName.isNull()) {
            lastValueName = name;
            lastValueFolded = name.toCaseFolded();
        }
        return lastValueFolded;
    }

    const std::shared_ptr<const QStringList> &sortedChildren(qint64 id)
    {
        Node &n = nodes.at(id);
        if (!n.sorted) {
            std::vector<std::pair<const QString *, const QString *>> order;
            order.reserve(size_t(n.children.size()));
            for (qint64 child : std::as_const(n.children)) {
                const Node &c = nodes.at(child);
                order.emplace_back(&c.folded, &c.name);
            }
            std::sort(order.begin(), order.end(),
                      [](const auto &a, const auto &b) { return *a.first < *b.first; });
            auto names = std::make_shared<QStringList>();
            names->reserve(qsizetype(order.size()));
            for (const auto &entry : order)
                names->append(*entry.second);
            n.sorted = std::move(names);
        }
        return n.sorted;
    }

    // The named value of an open key, as the file holds it now; null when there is none.
    const Value *valueOfOpenKey(KeyHandle key, const QString &name)
    {
        const OpenKey *h = handle(key);
        if (!h || !sync() || !alive(h->id))
            return nullptr;
        return value(h->id, foldValueName(name));
    }

    const Value *value(qint64 id, const QString &folded) const
    {
        auto it = values.constFind(ValueId(id, folded));
        return it == values.cend() ? nullptr : &*it;
    }

    OpenKey *handle(KeyHandle key)
    {
        const quint64 slot = (key & 0xffffffffu) - 1;
        if (slot >= keySlots.size())
            return nullptr;
        OpenKey &open = keySlots[slot];
        return open.inUse && open.serial == quint32(key >> 32) ? &open : nullptr;
    }

    KeyHandle newHandle(qint64 id)
    {
        quint32 slot;
        if (!freeSlots.empty()) {
            slot = freeSlots.back();
            freeSlots.pop_back();
        } else {
            slot = quint32(keySlots.size());
            keySlots.emplace_back();
        }
        OpenKey &open = keySlots[slot];
        open.id = id;
        open.inUse = true;
        open.next = 0;
        return (KeyHandle(open.serial) << 32) | (KeyHandle(slot) + 1);
    }

    void closeHandle(KeyHandle key)
    {
        OpenKey *open = handle(key);
        if (!open)
            return;
        open->inUse = false;
        open->walk.reset();
        ++open->serial;
        freeSlots.push_back(quint32((key & 0xffffffffu) - 1));
    }

    bool openFile();
    bool checkReadOnly(QString *why);
    bool prepareSchema(QString *why);
};

// Looks at the file through a read-only connection first, so that nothing is written to a file
// that turns out to be damaged or someone else's.
bool RegistryStore::Impl::checkReadOnly(QString *why)
{
    sqlite3 *ro = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &ro,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    auto closeRo = qScopeGuard([&] { sqlite3_close_v2(ro); });
    if (rc != SQLITE_OK) {
        *why = QStringLiteral("cannot be opened (%1)")
                   .arg(QString::fromUtf8(ro ? sqlite3_errmsg(ro) : sqlite3_errstr(rc)));
        return false;
    }
    sqlite3_db_config(ro, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(ro, kBusyTimeoutMs);

    auto queryAll = [&](const char *sql, QStringList *rows) {
        sqlite3_stmt *st = nullptr;
        int r = sqlite3_prepare_v2(ro, sql, -1, &st, nullptr);
        if (r == SQLITE_OK) {
            while ((r = sqlite3_step(st)) == SQLITE_ROW)
                rows->append(columnText(st, 0));
            if (r == SQLITE_DONE)
                r = SQLITE_OK;
        }
        sqlite3_finalize(st);
        if (r != SQLITE_OK)
            *why = QStringLiteral("cannot be read, it is damaged or not a database (%1)")
                       .arg(QString::fromUtf8(sqlite3_errmsg(ro)));
        return r == SQLITE_OK;
    };

    QStringList check;
    if (!queryAll("PRAGMA quick_check", &check))
        return false;
    if (check != QStringList{QStringLiteral("ok")}) {
        *why = QStringLiteral("is damaged (%1)").arg(check.value(0));
        return false;
    }
    QStringList appId, userVersion, tables, objects, meta;
    if (!queryAll("PRAGMA application_id", &appId) ||
        !queryAll("PRAGMA user_version", &userVersion) ||
        !queryAll("SELECT name FROM sqlite_schema", &objects))
        return false;
    if (objects.isEmpty())
        return true; // a new, empty database: ours to set up
    if (appId.value(0).toInt() != kApplicationId) {
        *why = QStringLiteral("is not a Kelvoran registry store");
        return false;
    }
    if (userVersion.value(0).toInt() > kSchemaVersion) {
        *why = QStringLiteral("was written by a newer version of Kelvoran");
        return false;
    }
    if (!queryAll("SELECT name FROM sqlite_schema WHERE type = 'table' "
                  "AND name IN ('meta', 'keys', 'vals')",
                  &tables) ||
        !queryAll("SELECT v FROM meta WHERE k = 'structure'", &meta))
        return false;
    if (tables.size() != 3 || meta.size() != 1) {
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
    if (!exec("PRAGMA journal_mode = WAL") || !exec("PRAGMA synchronous = FULL"))
        return false;
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    sqlite3_stmt *st = nullptr;
    int count = -1;
    if (sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_schema", -1, &st, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        count = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    bool ok = count >= 0;
    if (!ok)
        *why = QStringLiteral("cannot be read (%1)").arg(QString::fromUtf8(sqlite3_errmsg(db)));
    if (ok && count == 0) {
        // Another copy may have set the file up meanwhile; only an empty file gets the schema.
        const QByteArray ids =
            QByteArray("PRAGMA application_id = ") + QByteArray::number(kApplicationId) +
            "; PRAGMA user_version = " + QByteArray::number(kSchemaVersion) + ";";
        ok = exec(ids.constData()) && exec(kSchema);
    }
    if (ok)
        return exec("COMMIT");
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool RegistryStore::Impl::openFile()
{
    QString why;
    if (path.isEmpty()) {
        giveUp(QStringLiteral("has no file path"));
        return false;
    }
    const QFileInfo info(path);
    if (!makeFolders(info.absolutePath())) {
        giveUp(QStringLiteral("cannot be created: its folder %1 cannot be made")
                   .arg(info.absolutePath()));
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::fchmod(fd, 0600);
        ::close(fd);
    } else if (errno != EEXIST) {
        giveUp(
            QStringLiteral("cannot be created (%1)").arg(QString::fromLocal8Bit(strerror(errno))));
        return false;
    }

    if (!checkReadOnly(&why)) {
        giveUp(why);
        return false;
    }

    int rc = sqlite3_open_v2(native.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        giveUp(QStringLiteral("cannot be opened (%1)")
                   .arg(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc))));
        return false;
    }
    // Until the file is known to be good, closing must not write anything into it.
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (sqlite3_db_readonly(db, "main") == 1) {
        giveUp(QStringLiteral("cannot be written"));
        return false;
    }
    if (!prepareSchema(&why)) {
        giveUp(why);
        return false;
    }
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    usable = true;
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

bool RegistryStore::isUsable() const
{
    return d->usable;
}

KeyHandle RegistryStore::createKey(const KeyPath &path)
{
    Impl &p = *d;
    if (!std::all_of(path.cbegin(), path.cend(), validName) || !p.sync())
        return kNoKey;
    qint64 id = p.resolve(path);
    if (id >= 0)
        return p.newHandle(id);

    Impl::Txn write(&p, true);
    if (!write || !p.sync())
        return kNoKey;
    qsizetype found = 0;
    id = p.resolve(path, &found);
    if (id >= 0)
        return p.newHandle(id); // made by someone else meanwhile

    // Down to the deepest existing key, then the rest is added below it.
    id = found > 0 ? p.lastIds.back() : kRootId;
    struct Added
    {
        qint64 id;
        qint64 parent;
        QString name;
        QString folded;
    };
    std::vector<Added> added;
    for (qsizetype i = found; i < path.size(); ++i) {
        sqlite3_stmt *st = p.stmt(InsertKey);
        if (!st)
            return kNoKey;
        const QString folded = path.at(i).toCaseFolded();
        sqlite3_bind_int64(st, 1, id);
        bindText(st, 2, path.at(i));
        bindText(st, 3, folded);
        if (!p.runBound(st, "creating a key"))
            return kNoKey;
        const qint64 child = sqlite3_last_insert_rowid(p.db);
        added.push_back({child, id, path.at(i), folded});
        id = child;
    }
    if (!p.run(BumpStructure, "creating a key") || !write.commit())
        return kNoKey;

    for (Added &a : added) {
        Node &n = p.nodes[a.id];
        n.parent = a.parent;
        n.name = std::move(a.name);
        n.folded = std::move(a.folded);
        Node &parent = p.nodes.at(a.parent);
        parent.children.insert(n.folded, a.id);
        parent.sorted.reset();
    }
    ++p.structureVersion;
    ++p.generation;
    ++p.writes;
    return p.newHandle(id);
}

KeyHandle RegistryStore::openKey(const KeyPath &path)
{
    Impl &p = *d;
    if (!std::all_of(path.cbegin(), path.cend(), validName) || !p.sync())
        return kNoKey;
    const qint64 id = p.resolve(path);
    return id >= 0 ? p.newHandle(id) : kNoKey;
}

void RegistryStore::closeKey(KeyHandle key)
{
    d->closeHandle(key);
}

bool RegistryStore::setValue(KeyHandle key, const QString &name, quint32 type,
                             const QByteArray &data)
{
    Impl &p = *d;
    const OpenKey *h = p.handle(key);
    if (!h)
        return false;
    const qint64 id = h->id;
    const QString folded = p.foldValueName(name);
    auto unchanged = [&] {
        const Value *v = p.value(id, folded);
        return v && v->type == type && v->data == data;
    };
    if (!p.sync() || !p.alive(id))
        return false;
    if (unchanged())
        return true; // nothing to write, so nothing touches the disk

    Impl::Txn write(&p, true);
    if (!write || !p.sync() || !p.alive(id))
        return false;
    if (unchanged())
        return true;
    sqlite3_stmt *st = p.stmt(UpsertValue);
    if (!st)
        return false;
    sqlite3_bind_int64(st, 1, id);
    bindText(st, 2, name);
    bindText(st, 3, folded);
    sqlite3_bind_int64(st, 4, type);
    sqlite3_bind_blob(st, 5, data.isNull() ? "" : data.constData(), int(data.size()),
                      SQLITE_TRANSIENT);
    if (!p.runBound(st, "writing a value") || !write.commit())
        return false;
    p.values.insert(ValueId(id, folded), Value{type, data});
    ++p.writes;
    return true;
}

bool RegistryStore::queryValueInfo(KeyHandle key, const QString &name, quint32 *type, quint32 *size)
{
    const Value *v = d->valueOfOpenKey(key, name);
    if (!v)
        return false;
    if (type)
        *type = v->type;
    if (size)
        *size = quint32(v->data.size());
    return true;
}

bool RegistryStore::queryValue(KeyHandle key, const QString &name, QByteArray *data)
{
    const Value *v = d->valueOfOpenKey(key, name);
    if (!v)
        return false;
    if (data)
        *data = v->data;
    return true;
}

bool RegistryStore::enumKey(KeyHandle key, quint32 index, QString *name)
{
    Impl &p = *d;
    OpenKey *h = p.handle(key);
    if (!h)
        return false;
    // A walk that goes on with the next index reads the list it started with, as long as the
    // cached tree has not changed; anything else looks at the file first. Looking costs a read
    // transaction, which the step-by-step walk of a long list cannot afford at every step.
    if (!h->walk || index != h->next || h->generation != p.generation) {
        h->walk.reset();
        if (!p.sync() || !p.alive(h->id))
            return false;
        h->walk = p.sortedChildren(h->id);
        h->generation = p.generation;
    }
    h->next = index + 1;
    if (index >= quint32(h->walk->size()))
        return false;
    if (name)
        *name = h->walk->at(index);
    return true;
}

bool RegistryStore::deleteSubKey(KeyHandle key, const QString &name)
{
    Impl &p = *d;
    const OpenKey *h = p.handle(key);
    if (!h || !validName(name))
        return false;
    const qint64 parent = h->id;
    const QString folded = name.toCaseFolded();
    if (!p.sync() || !p.alive(parent) || !p.nodes.at(parent).children.contains(folded))
        return false;

    Impl::Txn write(&p, true);
    if (!write || !p.sync() || !p.alive(parent))
        return false;
    const qint64 target = p.nodes.at(parent).children.value(folded, -1);
    if (target < 0)
        return false;
    for (Stmt which : {DeleteSubtreeValues, DeleteSubtreeKeys}) {
        sqlite3_stmt *st = p.stmt(which);
        if (!st)
            return false;
        sqlite3_bind_int64(st, 1, target);
        if (!p.runBound(st, "deleting a key"))
            return false;
    }
    if (!p.run(BumpStructure, "deleting a key") || !write.commit())
        return false;

    Node &n = p.nodes.at(parent);
    n.children.remove(folded);
    n.sorted.reset();
    std::vector<qint64> gone{target};
    while (!gone.empty()) {
        const qint64 id = gone.back();
        gone.pop_back();
        auto it = p.nodes.find(id);
        if (it == p.nodes.end())
            continue;
        for (qint64 child : std::as_const(it->second.children))
            gone.push_back(child);
        p.nodes.erase(it);
    }
    ++p.structureVersion;
    ++p.generation;
    ++p.writes;
    return true;
}

quint64 RegistryStore::committedWrites() const
{
    return d->writes;
}

} // namespace kelvoran::platform
