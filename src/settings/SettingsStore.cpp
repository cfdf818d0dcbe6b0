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

SaveResult saveSettings(const SettingsFields &fields)
{
    SaveResult result;
    const auto writeIni = [&](const QString &section, const QString &key, const QString &value) {
        QString why;
        if (!writeIniValue(section, key, fields.iniFile, value, &why) && result.ok)
            result = {false, why};
    };
    createRegKey(kSettingsKey, HKEY_LOCAL_MACHINE());
    createRegKey(kChecklistKey, HKEY_LOCAL_MACHINE());
    setRegKeyValue(kSettingsKey, kServerAddressValue, fields.ipAddress, REG_SZ);
    if (!fields.iniFile.isEmpty()) {
        writeIni(kAdminSection, kAdminUserKey, fields.adminName);
        writeIni(kAdminSection, kAdminPasswordKey, fields.password);
        writeIni(kWebServerSection, kListenPortKey, fields.portNumber);
    }
    setRegKeyValue(kSettingsKey, kIniFileValue, fields.iniFile, REG_SZ);
    setRegKeyValue(kSettingsKey, kFriendValue, fields.friendWav, REG_SZ);
    setRegKeyValue(kSettingsKey, kEnemyValue, fields.enemyWav, REG_SZ);
    return result;
}

QString gameInstallFolder()
{
    return queryRegText(kGameInstallKey, kGameFolderValue);
}

} // namespace kelvoran::settings
