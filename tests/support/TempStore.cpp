#include "TempStore.h"

#include "watchlist/Module1.h"

namespace kelvoran::test {

TempStore::TempStore() : m_filePath(m_dir.filePath(QStringLiteral("kelvoran/registry.sqlite3")))
{
    if (m_dir.isValid())
        reopen();
}

TempStore::~TempStore()
{
    close();
}

bool TempStore::isValid() const
{
    return m_dir.isValid() && m_store && m_store->isUsable();
}

QString TempStore::dirPath() const
{
    return m_dir.path();
}

QString TempStore::filePath() const
{
    return m_filePath;
}

void TempStore::reopen()
{
    close();
    m_store = std::make_unique<platform::RegistryStore>(m_filePath);
    Module1::setHive(m_store.get());
}

void TempStore::close()
{
    if (m_store && Module1::HKEY_LOCAL_MACHINE() == m_store.get())
        Module1::setHive(nullptr);
    m_store.reset();
}

} // namespace kelvoran::test
