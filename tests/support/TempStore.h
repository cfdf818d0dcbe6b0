#pragma once
// A registry store on a file in a fresh temporary folder, with the program's routines over it and
// the watch-list helpers the store-backed tests share. The folder goes with the fixture.
#include "watchlist/Module1.h"
#include "watchlist/WatchList.h"

#include <QTemporaryDir>
#include <optional>

namespace kelvoran::test {

class TempStore
{
public:
    // False when the folder could not be made or the store cannot be written.
    bool isValid() const { return m_dir.isValid() && m_store && m_store->problem().isEmpty(); }
    platform::RegistryStore &store() { return *m_store; }
    Module1 &registry() { return m_registry; }
    QString dirPath() const { return m_dir.path(); }
    QString filePath() const { return m_dir.filePath(QStringLiteral("kelvoran/registry.sqlite3")); }
    void close() { m_store.reset(); } // for good: the file is left to others
    // Creates the watch entry `subkey` with that "Annouce" text; the entry's flag, "" if none.
    void setEntry(const QString &subkey, const QString &flag)
    {
        m_registry.createRegKey(subPath(kChecklistKey, subkey));
        m_registry.setRegKeyValue(subPath(kChecklistKey, subkey), kAnnounceValue, flag,
                                  Module1::REG_SZ);
    }
    QString flagOf(const QString &subkey)
    {
        return m_registry.queryRegText(subPath(kChecklistKey, subkey), kAnnounceValue);
    }

private:
    QTemporaryDir m_dir;
    std::optional<platform::RegistryStore> m_store{std::in_place, filePath()};
    Module1 m_registry{*m_store};
};

} // namespace kelvoran::test
