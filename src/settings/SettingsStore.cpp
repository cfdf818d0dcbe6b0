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

SaveResult saveSettings(Module1 &registry, const SettingsFields &fields)
{
    SaveResult result;
    const auto writeIni = [&](const QString &section, const QString &key, const QString &value) {
        QString why;
        if (!writeIniValue(section, key, fields.iniFile, value, &why) && result.ok)
            result = {false, why};
    };
    registry.createRegKey(kSettingsKey);
    registry.createRegKey(kChecklistKey);
    registry.setRegKeyValue(kSettingsKey, kServerAddressValue, fields.ipAddress, Module1::REG_SZ);
    if (!fields.iniFile.isEmpty()) {
        writeIni(kAdminSection, kAdminUserKey, fields.adminName);
        writeIni(kAdminSection, kAdminPasswordKey, fields.password);
        writeIni(kWebServerSection, kListenPortKey, fields.portNumber);
    }
    registry.setRegKeyValue(kSettingsKey, kIniFileValue, fields.iniFile, Module1::REG_SZ);
    registry.setRegKeyValue(kSettingsKey, kFriendValue, fields.friendWav, Module1::REG_SZ);
    registry.setRegKeyValue(kSettingsKey, kEnemyValue, fields.enemyWav, Module1::REG_SZ);
    return result;
}

QString gameInstallFolder(Module1 &registry)
{
    return registry.queryRegText(kGameInstallKey, kGameFolderValue);
}

} // namespace kelvoran::settings
