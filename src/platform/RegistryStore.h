#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

namespace kelvoran::platform {

// A key path as a list of name components under the one root (the stand-in for
// HKEY_LOCAL_MACHINE). A component may hold any character, a backslash included.
using KeyPath = QStringList;

// An open key. 0 is no key.
using KeyHandle = quint64;
constexpr KeyHandle kNoKey = 0;

// Value type codes as the registry has them.
constexpr quint32 kRegSz = 1;
constexpr quint32 kRegDword = 4;

// The hierarchical key/value store in one SQLite file. Names of keys and values compare without
// regard to case (Unicode case folding) and keep the case they were created with. Subkeys are
// enumerated by index in case-insensitive name order. Every operation is its own short
// transaction; a write that would not change anything does not touch the disk.
//
// A file that cannot be opened or is damaged is never overwritten, moved or deleted: the store
// then behaves as an empty store whose writes fail, and says so once on standard error.
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
    // False when the file could not be opened or is damaged (the store is then empty, read-only).
    bool isUsable() const;

    // Creates the key and every missing key along the path; an existing key is opened.
    KeyHandle createKey(const KeyPath &path);
    // Opens an existing key; kNoKey when it does not exist.
    KeyHandle openKey(const KeyPath &path);
    void closeKey(KeyHandle key);

    // Stores `data` under the value name with the given type, replacing any value of that name.
    bool setValue(KeyHandle key, const QString &name, quint32 type, const QByteArray &data);
    // Type and size in bytes of a value, without its data.
    bool queryValueInfo(KeyHandle key, const QString &name, quint32 *type, quint32 *size);
    // The value's bytes.
    bool queryValue(KeyHandle key, const QString &name, QByteArray *data);

    // Name of the subkey at `index` in case-insensitive name order; false past the last one.
    // Walking index 0, 1, 2, ... costs O(1) per step.
    bool enumKey(KeyHandle key, quint32 index, QString *name);
    // Removes the named subkey of `key` with its values (and anything under it).
    bool deleteSubKey(KeyHandle key, const QString &name);

    // Number of write transactions that changed the file since this store was opened.
    quint64 committedWrites() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kelvoran::platform
