#pragma once
// The program's main window: the settings panel of the first server above, the watch-list panel
// below. Minimising it starts the watching of every server, and it hides in the tray icon. The
// handlers are thin: they read the fields and call the core.
#include "app/Dialogs.h"
#include "app/TrayIcon.h"
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"
#include "watch/Announcer.h"
#include "watch/WatchGroup.h"
#include "watchlist/WatchList.h"

#include <QListWidget>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kelvoran::app {

class frmMain : public QWidget
{
    Q_OBJECT

public:
    frmMain(Module1 &registry, watch::WatchGroup &group, watch::Announcer &announcer,
            watch::VisitLog &visits, platform::SoundPlayer &sound, platform::Notifier &notifier,
            Dialogs &dialogs, QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up sequence: show the window, add the tray icon, load the settings, fill the
    // watch list, set the settings panel's state.
    void Form_Load();
    // Start-up straight into the tray (--minimized), instead of Form_Load: the window is not shown
    // and polling starts as after a minimise. Without a system tray the window starts minimised.
    void startInTray();

    // Controls, named as everywhere in the program (also their object names).
    QGroupBox *fraAdmin = nullptr;
    QPushButton *cmdSaveSettings = nullptr;
    QPushButton *cmdServers = nullptr;
    QLabel *Label8 = nullptr;
    QLineEdit *txtINIfile = nullptr;
    QPushButton *Command1 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtIPAddress = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtPortNumber = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtAdminName = nullptr;
    QLabel *Label4 = nullptr;
    QLineEdit *txtPassword = nullptr;
    QLabel *Label5 = nullptr;
    QLineEdit *txtFriendWav = nullptr;
    QPushButton *CmdBrowseFriend = nullptr;
    QPushButton *cmdPlayFriend = nullptr;
    QLabel *Label6 = nullptr;
    QLineEdit *txtEnemyWav = nullptr;
    QPushButton *cmdBrowseEnemy = nullptr;
    QPushButton *cmdPlayEnemy = nullptr;

    QGroupBox *fraAnnouce = nullptr;
    QPushButton *cmdShowCurrent = nullptr;
    QRadioButton *optFriend = nullptr;
    QRadioButton *optEnemy = nullptr;
    QLabel *Label7 = nullptr;
    QListWidget *lstPlayers = nullptr;
    QListWidget *lstIP = nullptr;
    QPushButton *cmdAddName = nullptr;
    QPushButton *cmdAddIP = nullptr;
    QPushButton *cmdAddBoth = nullptr;
    QPushButton *cmdRemoveAll = nullptr;
    QListWidget *lstAdd = nullptr;

    FileDialog cmDialog;

    // The text a field held when it got the focus, or the path a browse is about to replace.
    QString textBeforeEdit;

    // The polling interval of the first server; 0 while watching is off.
    int timerInterval() const;
    // The icon in the notification area, with its menu.
    TrayIcon &tray() const { return *m_tray; }
    // The first server, as the fields give it now.
    watch::ServerConfig firstServer() const;

public slots:
    // Settings panel.
    void cmdSaveSettings_Click();
    void Command1_Click();
    void Command1_LostFocus();
    void readServerIni();
    void checkSettingsChanged(const QString &text);
    void updateWatchControls();

    // The seven fields: GotFocus, Change and LostFocus each.
    void txtAdminName_GotFocus();
    void txtAdminName_Change();
    void txtAdminName_LostFocus();
    void txtEnemyWav_GotFocus();
    void txtEnemyWav_Change();
    void txtEnemyWav_LostFocus();
    void txtFriendWav_GotFocus();
    void txtFriendWav_Change();
    void txtFriendWav_LostFocus();
    void txtINIfile_GotFocus();
    void txtINIfile_Change();
    void txtINIfile_LostFocus();
    void txtIPAddress_GotFocus();
    void txtIPAddress_Change();
    void txtIPAddress_LostFocus();
    void txtPassword_GotFocus();
    void txtPassword_Change();
    void txtPassword_LostFocus();
    void txtPortNumber_GotFocus();
    void txtPortNumber_Change();
    void txtPortNumber_LostFocus();

    // Sounds.
    void CmdBrowseFriend_Click();
    void cmdBrowseEnemy_Click();
    void cmdPlayFriend_Click();
    void cmdPlayEnemy_Click();

    // Watch-list panel.
    void cmdShowCurrent_Click();
    void cmdAddName_Click();
    void cmdAddIP_Click();
    void cmdAddBoth_Click();
    void cmdRemoveAll_Click();
    void lstAdd_KeyDown(int keyCode, Qt::KeyboardModifiers shift);
    void lstPlayers_Click();
    void enumregkey(const QStringList &path);

    // The list of watched servers, in a window of its own.
    void cmdServers_Click();

    // Window state and tray.
    void Form_Resize();
    void Form_Unload();
    void Form_MouseMove(QSystemTrayIcon::ActivationReason reason);
    void mPopRestore_Click();
    void mPopExit_Click();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void setSaveMode(bool changed);
    void restoreWindow();
    void addFromList(QListWidget *list, const QString &friendPrompt, const QString &foePrompt);
    void addEntry(const QString &prefix, const QString &identifier);
    void showCurrentPlayers(const watch::PlayerTable &table);
    void moveIntoTrayOnceThere();
    void say(const QString &text);
    struct FocusHandlers
    {
        QObject *widget;
        void (frmMain::*gotFocus)();
        void (frmMain::*lostFocus)();
    };
    QList<FocusHandlers> focusHandlers() const;
    void runGotFocus(QObject *field);
    void deleteRows(bool selectedOnly);
    void browseWav(QLineEdit *field);
    QString kindPrefix() const;
    QStringList sevenFields() const;

    Module1 &m_registry;
    watch::WatchGroup &m_group;
    watch::Announcer &m_announcer;
    Dialogs &m_dialogs;
    platform::SoundPlayer &m_sound;
    platform::Notifier &m_notifier;
    TrayIcon *m_tray = nullptr;
    QWidget *m_serversWindow = nullptr;
    // While the window sits minimised in the task bar for want of a tray, this looks for a tray
    // now and then (a panel that starts after the program) and moves the window into it.
    QTimer *m_trayLookout = nullptr;
    QList<AddResult> m_added;     // by the add command running now
    QObject *m_showJob = nullptr; // Show Current Players' reading, while on its way
    QList<QWidget *> m_watchControls;
    // The field whose GotFocus ran last: coming back to the window into that same field is no
    // new focus.
    QObject *m_gotFocusField = nullptr;
    bool m_unloaded = false;
};

} // namespace kelvoran::app
