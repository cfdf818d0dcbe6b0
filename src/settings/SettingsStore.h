#pragma once
// The seven settings: four in the store under Software\Kelvoran, three in the game server's INI
// file, where the server itself reads them.
#include <QString>

namespace kelvoran {
class Module1;
}

namespace kelvoran::settings {

inline const QString kServerAddressValue = QStringLiteral("UTServerAddress");
inline const QString kIniFileValue = QStringLiteral("UTIniFile");
inline const QString kFriendValue = QStringLiteral("Friend");
inline const QString kEnemyValue = QStringLiteral("Enemy");
inline const QString kGameFolderValue = QStringLiteral("Folder");
inline const QString kMuteValue = QStringLiteral("Mute");

struct SettingsFields
{
    QString iniFile;
    QString ipAddress;
    QString portNumber;
    QString adminName;
    QString password;
    QString friendWav;
    QString enemyWav;
};

// A stored setting of Software\Kelvoran; "" when missing.
QString storedSetting(Module1 &registry, const QString &valueName);

// The four connection fields must hold something (blanks count) before anything is saved.
bool saveAllowed(const SettingsFields &fields);

// What a save did: ok, or the message that says which write failed or was refused first (the
// INI file's or the store's, naming the file and the reason), for the window to show.
struct SaveResult
{
    bool ok = true;
    QString message;
};

// Writes the settings: the keys Software\Kelvoran and its checklist, the server address, the
// login and port into the INI file named in the fields (nothing when that path is empty, which
// is no failure), then the INI path and the two sound paths. Every write is tried even after a
// failed one.
SaveResult saveSettings(Module1 &registry, const SettingsFields &fields);

// Whether announcements were muted when the program last ran.
bool storedMute(Module1 &registry);
// Keeps the mute for the next start; false when the store refused it.
bool storeMute(Module1 &registry, bool muted);

// The game's install folder as its installer recorded it; "" when there is none.
QString gameInstallFolder(Module1 &registry);

} // namespace kelvoran::settings
