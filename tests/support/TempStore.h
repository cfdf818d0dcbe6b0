#pragma once
// A registry store on a file in a fresh temporary folder, with the program's routines over it,
// and the two watch-list helpers every store-backed test needs. The folder goes with the fixture.
#include "platform/RegistryStore.h"
#include "watchlist/Module1.h"

#include <QTemporaryDir>
#include <memory>

namespace kelvoran::test {

class TempStore
{
public:
    TempStore();

    // False when the temporary folder could not be made or the store cannot be written.
    bool isValid() const;

    platform::RegistryStore &store() { return *m_store; }
    Module1 &registry() { return *m_registry; }
    QString dirPath() const { return m_dir.path(); }
    QString filePath() const { return m_filePath; }

    // Closes the store and opens the same file again, as a restart of the program would.
    void reopen();
    // Closes the store (until reopen()).
    void close();

    // Creates the watch entry `subkey` with that "Annouce" text; the entry's flag, "" if none.
    void setEntry(const QString &subkey, const QString &flag);
    QString flagOf(const QString &subkey);

private:
    QTemporaryDir m_dir;
    QString m_filePath;
    std::unique_ptr<Module1> m_registry;
    std::unique_ptr<platform::RegistryStore> m_store;
};

} // namespace kelvoran::test
