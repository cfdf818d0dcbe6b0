#include "settings/ServerIni.h"

#include "platform/IniFile.h"

namespace kelvoran::settings {

QString readIniValue(const QString &section, const QString &key, const QString &file)
{
    return platform::readProfileString(section, key, file);
}

bool writeIniValue(const QString &section, const QString &key, const QString &file,
                   const QString &value, QString *error)
{
    return platform::writeProfileString(section, key, value, file, error);
}

bool switchWebServerOn(const QString &file, QString *error)
{
    const QString enabled = readIniValue(kWebServerSection, kEnabledKey, file);
    if (enabled.toUpper() != QLatin1String("FALSE"))
        return true;
    return writeIniValue(kWebServerSection, kEnabledKey, file, QStringLiteral("TRUE"), error);
}

QString iniListenPort(const QString &file)
{
    const QString port = readIniValue(kWebServerSection, kListenPortKey, file);
    return port.isEmpty() ? kDefaultPort : port;
}

QString iniAdminName(const QString &file)
{
    return readIniValue(kAdminSection, kAdminUserKey, file);
}

QString iniAdminPassword(const QString &file)
{
    return readIniValue(kAdminSection, kAdminPasswordKey, file);
}

} // namespace kelvoran::settings
