#include "settings/SettingsStore.h"

#include "settings/ServerIni.h"
#include "watchlist/Module1.h"

namespace kelvoran::settings {

using namespace kelvoran::Module1;

QString storedSetting(const QString &valueName)
{
    return queryRegText(kSettingsKey, valueName);
}

bool saveAllowed(const SettingsFields &fields)
{
    return !fields.ipAddress.isEmpty() && !fields.portNumber.isEmpty() &&
           !fields.adminName.isEmpty() && !fields.password.isEmpty();
}

void saveSettings(const SettingsFields &fields)
{
    createRegKey(kSettingsKey, HKEY_LOCAL_MACHINE());
    createRegKey(kChecklistKey, HKEY_LOCAL_MACHINE());
    setRegKeyValue(kSettingsKey, kServerAddressValue, fields.ipAddress, REG_SZ);
    writeIniValue(kAdminSection, kAdminUserKey, fields.iniFile, fields.adminName);
    writeIniValue(kAdminSection, kAdminPasswordKey, fields.iniFile, fields.password);
    writeIniValue(kWebServerSection, kListenPortKey, fields.iniFile, fields.portNumber);
    setRegKeyValue(kSettingsKey, kIniFileValue, fields.iniFile, REG_SZ);
    setRegKeyValue(kSettingsKey, kFriendValue, fields.friendWav, REG_SZ);
    setRegKeyValue(kSettingsKey, kEnemyValue, fields.enemyWav, REG_SZ);
}

QString gameInstallFolder()
{
    return queryRegText(kGameInstallKey, kGameFolderValue);
}

} // namespace kelvoran::settings
