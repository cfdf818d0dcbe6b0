#pragma once
// A registry store on a file in a fresh temporary folder, set as the program's hive for as long
// as it lives. The folder and everything in it go away with the fixture.
#include "platform/RegistryStore.h"

#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace kelvoran::test {

class TempStore
{
public:
    TempStore();
    ~TempStore();
    TempStore(const TempStore &) = delete;
    TempStore &operator=(const TempStore &) = delete;

    // False when the temporary folder could not be made or the store cannot be used.
    bool isValid() const;

    platform::RegistryStore &store() { return *m_store; }
    platform::RegistryStore *operator->() { return m_store.get(); }

    // The temporary folder, and the store's file inside it (in a "kelvoran" sub-folder).
    QString dirPath() const;
    QString filePath() const;

    // Closes the store and opens the same file again, as a restart of the program would.
    void reopen();
    // Closes the store (the hive is then unset); reopen() opens it again.
    void close();

private:
    QTemporaryDir m_dir;
    QString m_filePath;
    std::unique_ptr<platform::RegistryStore> m_store;
};

} // namespace kelvoran::test
