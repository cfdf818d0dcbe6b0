#include "settings/SettingsStore.h"

#include "settings/ServerIni.h"
#include "watchlist/Module1.h"

namespace kelvoran::settings {

QString storedSetting(Module1 &registry, const QString &valueName)
{
    return registry.queryRegText(kSettingsKey, valueName);
}

bool saveAllowed(const SettingsFields &fields)
{
    return !fields.ipAddress.isEmpty() && !fields.portNumber.isEmpty() &&
           !fields.adminName.isEmpty() && !fields.password.isEmpty();
}

void saveSettings(Module1 &registry, const SettingsFields &fields)
{
    registry.createRegKey(kSettingsKey);
    registry.createRegKey(kChecklistKey);
    registry.setRegKeyValue(kSettingsKey, kServerAddressValue, fields.ipAddress, Module1::REG_SZ);
    writeIniValue(kAdminSection, kAdminUserKey, fields.iniFile, fields.adminName);
    writeIniValue(kAdminSection, kAdminPasswordKey, fields.iniFile, fields.password);
    writeIniValue(kWebServerSection, kListenPortKey, fields.iniFile, fields.portNumber);
    registry.setRegKeyValue(kSettingsKey, kIniFileValue, fields.iniFile, Module1::REG_SZ);
    registry.setRegKeyValue(kSettingsKey, kFriendValue, fields.friendWav, Module1::REG_SZ);
    registry.setRegKeyValue(kSettingsKey, kEnemyValue, fields.enemyWav, Module1::REG_SZ);
}

QString gameInstallFolder(Module1 &registry)
{
    return registry.queryRegText(kGameInstallKey, kGameFolderValue);
}

} // namespace kelvoran::settings
