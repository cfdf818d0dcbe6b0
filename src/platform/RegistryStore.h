#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

namespace kelvoran::platform {

// A key path as a list of name components under the one root (the stand-in for
// HKEY_LOCAL_MACHINE). A component may hold any character, a backslash included.
using KeyPath = QStringList;

// An open key: the key's row id. Nothing needs closing. 0 is no key.
using KeyHandle = qint64;
constexpr KeyHandle kNoKey = 0;

// Value type codes as the registry has them.
constexpr quint32 kRegSz = 1;
constexpr quint32 kRegDword = 4;

// One stored value: its type code and its bytes.
struct StoredValue
{
    quint32 type = 0;
    QByteArray data;
};

// A subkey's name with one of its values (a null `value.data` and type 0 when it has none).
struct SubKeyValue
{
    QString name;
    StoredValue value;
};

// One visit of a watched player, as the visit log keeps it. Every member has an initialiser, so
// a designated initialiser may name only some.
struct VisitRow
{
    qint64 id = 0;
    QDateTime came{};
    QDateTime left{};  // null while the visit runs
    QString endNote{}; // "", "polling stopped" or "server not read"
    bool isFriend = false;
    QString watchedAs{}; // the identifier of the watch entry that matched
    QString name{};      // the player's name and address, as the page showed them
    QString ip{};
    bool muted = false; // came while announcements were muted
    QString server{};   // the watched server's name as the user sees it; "" in older files
    QString cameNote{}; // "" or how the visit began ("already on line when watching began", ...)
};

// The hierarchical key/value store in one SQLite file. Names of keys and values compare without
// regard to case (Unicode case folding) and keep the case they were created with. Subkeys are
// listed in case-insensitive name order. Every operation is its own short transaction and reads
// the file as it is now, so changes made by a second running copy are seen at once; a write that
// would not change anything does not touch the disk.
//
// A file that cannot be used is never overwritten, moved or deleted. A damaged or foreign file,
// or a path that is not a regular file, leaves the store empty; a file or folder that may not be
// written leaves it readable. Either way every write fails, and problem() says why.
class RegistryStore
{
public:
    explicit RegistryStore(const QString &filePath);
    ~RegistryStore();
    RegistryStore(const RegistryStore &) = delete;
    RegistryStore &operator=(const RegistryStore &) = delete;

    // $XDG_CONFIG_HOME/kelvoran/registry.sqlite3, or ~/.config/kelvoran/registry.sqlite3.
    static QString defaultFilePath();

    QString filePath() const;
    // Why writes fail ("is damaged (...)", "may not be written (...)", ...); "" when they do not.
    QString problem() const;

    // Creates the key and every missing key along the path; an existing key is opened.
    KeyHandle createKey(const KeyPath &path);
    // Creates the key like createKey() and stores one value in it, in one transaction: a crash
    // leaves either both or neither.
    bool createKeyWithValue(const KeyPath &path, const QString &valueName,
                            const StoredValue &value);
    // Opens an existing key; kNoKey when it does not exist.
    KeyHandle openKey(const KeyPath &path);

    // Stores the value under its name, replacing any value of that name.
    bool setValue(KeyHandle key, const QString &name, const StoredValue &value);
    // The named value; false when there is none.
    bool queryValue(KeyHandle key, const QString &name, StoredValue *value);

    // The subkeys' names in case-insensitive name order.
    QStringList subKeyNames(KeyHandle key);
    // The same, each with its value of the given name, read in one go.
    QList<SubKeyValue> subKeysWithValue(KeyHandle key, const QString &valueName);
    // Removes the named subkey of `key` with its values and anything under it.
    bool deleteSubKey(KeyHandle key, const QString &name);
    // Removes the value of that name from every direct subkey of `parent`, in one transaction.
    // True also when none has it; then nothing is written.
    bool deleteValueOfSubKeys(KeyHandle parent, const QString &valueName);
    // Removes every value of `key` whose name begins with `namePrefix` (in any letter case), in one
    // transaction; true when done, also when there is none (then nothing is written).
    bool deleteValuesStartingWith(KeyHandle key, const QString &namePrefix);

    // The visit log, in a table of its own beside the keys. Times are kept as UTC milliseconds
    // and read back in local time. Adding a visit drops all but the newest kMaxVisits; it returns
    // the new visit's id, 0 when it could not be written.
    static constexpr int kMaxVisits = 1000;
    qint64 addVisit(const VisitRow &visit);
    bool endVisit(qint64 id, const QDateTime &left, const QString &endNote);
    // Newest first.
    QList<VisitRow> visits();
    // Deletes every visit but those in `keep` (the visits still running), in one transaction.
    bool clearVisits(const QList<qint64> &keep = {});

    // Number of write transactions that changed the file since this store was opened.
    quint64 committedWrites() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kelvoran::platform
