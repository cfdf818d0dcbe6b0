#include "settings/ServerStore.h"

#include "watchlist/WatchList.h"

#include <algorithm>

namespace kelvoran::settings {

namespace {

const QString kKind = QStringLiteral("Kind");
const QString kPublicKind = QStringLiteral("public");
// The values of a server's key, and the member each one keeps.
const QList<std::pair<QString, QString watch::ServerConfig::*>> kValues{
    {QStringLiteral("Name"), &watch::ServerConfig::name},
    {QStringLiteral("Address"), &watch::ServerConfig::address},
    {QStringLiteral("Port"), &watch::ServerConfig::port},
    {QStringLiteral("AdminName"), &watch::ServerConfig::adminName},
    {QStringLiteral("Password"), &watch::ServerConfig::password},
    {QStringLiteral("QueryPort"), &watch::ServerConfig::queryPort},
};

bool validPort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    return ok && port >= 1 && port <= 65535 && text == QString::number(port);
}

} // namespace

QList<watch::ServerConfig> storedServers(Module1 &registry)
{
    QList<watch::ServerConfig> servers;
    for (const QString &id : registry.entryNames(kServersKey)) {
        const RegPath key = subPath(kServersKey, id);
        watch::ServerConfig server{.id = id};
        for (const auto &[value, member] : kValues)
            server.*member = registry.queryRegText(key, value);
        if (registry.queryRegText(key, kKind) == kPublicKind)
            server.kind = watch::ServerConfig::Kind::Public;
        servers.append(server);
    }
    // By number, which is the order they were added in.
    std::stable_sort(servers.begin(), servers.end(), [](const auto &a, const auto &b) {
        return a.id.toLongLong() < b.id.toLongLong();
    });
    return servers;
}

bool storeServer(Module1 &registry, watch::ServerConfig &server)
{
    if (server.id.isEmpty()) {
        qlonglong last = 0;
        for (const QString &id : registry.entryNames(kServersKey))
            last = std::max(last, id.toLongLong());
        server.id = QString::number(last + 1);
    }
    const RegPath key = subPath(kServersKey, server.id);
    bool ok = registry.createRegKey(key);
    const bool isPublic = server.kind == watch::ServerConfig::Kind::Public;
    ok = ok && registry.setRegKeyValue(key, kKind,
                                       isPublic ? kPublicKind : QStringLiteral("web admin"),
                                       Module1::REG_SZ);
    for (const auto &[value, member] : kValues)
        ok = ok && registry.setRegKeyValue(key, value, server.*member, Module1::REG_SZ);
    return ok;
}

bool removeStoredServer(Module1 &registry, const QString &id)
{
    platform::RegistryStore &store = registry.HKEY_LOCAL_MACHINE();
    const platform::KeyHandle checklist = store.openKey(kChecklistKey);
    // The flags go first: a server whose key is gone must leave none behind.
    if (checklist != platform::kNoKey && !store.deleteValueOfSubKeys(checklist, flagValueFor(id)))
        return false;
    const platform::KeyHandle servers = store.openKey(kServersKey);
    return servers == platform::kNoKey || !store.openKey(subPath(kServersKey, id)) ||
           store.deleteSubKey(servers, id);
}

QString serverFieldsProblem(const watch::ServerConfig &server)
{
    const bool isPublic = server.kind == watch::ServerConfig::Kind::Public;
    if (server.address.isEmpty() || server.port.isEmpty() ||
        (!isPublic && (server.adminName.isEmpty() || server.password.isEmpty())))
        return QStringLiteral("Please enter all fields!");
    if (!validPort(server.port) || (isPublic && !server.queryPort.isEmpty() &&
                                    !validPort(server.queryPort)))
        return QStringLiteral("A port is a number from 1 to 65535.");
    return QString();
}

} // namespace kelvoran::settings
