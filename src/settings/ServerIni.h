#pragma once
// The game server's INI file: the web server's switch and port, the web admin's login.
#include <QString>

namespace kelvoran::settings {

inline const QString kWebServerSection = QStringLiteral("UWeb.WebServer");
inline const QString kAdminSection = QStringLiteral("UTServerAdmin.UTServerAdmin");
inline const QString kEnabledKey = QStringLiteral("bEnabled");
inline const QString kListenPortKey = QStringLiteral("ListenPort");
inline const QString kAdminUserKey = QStringLiteral("AdminUsername");
inline const QString kAdminPasswordKey = QStringLiteral("AdminPassword");
inline const QString kDefaultPort = QStringLiteral("8888");

// One key of one section; "" when the file, section or key is missing.
QString readIniValue(const QString &section, const QString &key, const QString &file);
// Writes one key of one section. True when written; false when nothing was written (an empty
// file path, a refused value, an I/O failure), with the reason, naming the file, in `error`.
bool writeIniValue(const QString &section, const QString &key, const QString &file,
                   const QString &value, QString *error = nullptr);

// The first step of reading the server's INI file: a web server switched off ("False" in any
// letter case) is switched on, since the program can only see players through it. False only
// when it was off and could not be switched on, with the reason, naming the file, in `error`.
bool switchWebServerOn(const QString &file, QString *error = nullptr);

// The three connection settings the file holds; the port is "8888" when the file gives none.
QString iniListenPort(const QString &file);
QString iniAdminName(const QString &file);
QString iniAdminPassword(const QString &file);

} // namespace kelvoran::settings
