#include "TempStore.h"

#include "watchlist/WatchList.h"

namespace kelvoran::test {

TempStore::TempStore() : m_filePath(m_dir.filePath(QStringLiteral("kelvoran/registry.sqlite3")))
{
    reopen();
}

bool TempStore::isValid() const
{
    return m_dir.isValid() && m_store->problem().isEmpty();
}

void TempStore::close()
{
    m_registry.reset();
    m_store.reset();
}

void TempStore::reopen()
{
    close();
    m_store = std::make_unique<platform::RegistryStore>(m_filePath);
    m_registry = std::make_unique<Module1>(*m_store);
}

void TempStore::setEntry(const QString &subkey, const QString &flag)
{
    const RegPath path = subPath(kChecklistKey, subkey);
    m_registry->createRegKey(path);
    m_registry->setRegKeyValue(path, kAnnounceValue, flag, Module1::REG_SZ);
}

QString TempStore::flagOf(const QString &subkey)
{
    return m_registry->queryRegText(subPath(kChecklistKey, subkey), kAnnounceValue);
}

} // namespace kelvoran::test
