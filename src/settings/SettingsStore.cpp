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
    const auto failed = [&result](const QString &message) {
        if (result.ok)
            result = {false, message};
    };
    const auto writeIni = [&](const QString &section, const QString &key, const QString &value) {
        QString why;
        if (!writeIniValue(section, key, fields.iniFile, value, &why))
            failed(QStringLiteral("Could not save the settings into the game server's INI file."
                                  "\n\n%1.")
                       .arg(why));
    };
    const auto stored = [&](bool ok) {
        if (!ok)
            failed(QStringLiteral("Could not save the settings into Kelvoran's own settings "
                                  "file.\n\n%1.")
                       .arg(registry.writeFailure()));
    };
    stored(registry.createRegKey(kSettingsKey));
    stored(registry.createRegKey(kChecklistKey));
    stored(registry.setRegKeyValue(kSettingsKey, kServerAddressValue, fields.ipAddress,
                                   Module1::REG_SZ));
    if (!fields.iniFile.isEmpty()) {
        writeIni(kAdminSection, kAdminUserKey, fields.adminName);
        writeIni(kAdminSection, kAdminPasswordKey, fields.password);
        writeIni(kWebServerSection, kListenPortKey, fields.portNumber);
    }
    stored(registry.setRegKeyValue(kSettingsKey, kIniFileValue, fields.iniFile, Module1::REG_SZ));
    stored(registry.setRegKeyValue(kSettingsKey, kFriendValue, fields.friendWav, Module1::REG_SZ));
    stored(registry.setRegKeyValue(kSettingsKey, kEnemyValue, fields.enemyWav, Module1::REG_SZ));
    return result;
}

bool storedMute(Module1 &registry)
{
    return storedSetting(registry, kMuteValue) == QLatin1String("1");
}

bool storeMute(Module1 &registry, bool muted)
{
    return registry.createRegKey(kSettingsKey) &&
           registry.setRegKeyValue(kSettingsKey, kMuteValue, muted ? 1 : 0, Module1::REG_DWORD);
}

QString gameInstallFolder(Module1 &registry)
{
    return registry.queryRegText(kGameInstallKey, kGameFolderValue);
}

} // namespace kelvoran::settings
