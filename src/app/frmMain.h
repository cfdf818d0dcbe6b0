#pragma once
// The program's one window: the settings panel above, the watch-list panel below, the polling
// timer and the tray icon with its menu. The handlers are thin: they read the fields and call the
// core.
#include "app/Dialogs.h"
#include "platform/HttpClient.h"
#include "platform/Notifier.h"
#include "platform/SoundPlayer.h"
#include "watch/PageFetchWorker.h"
#include "watch/ServerWatch.h"
#include "watch/VisitLog.h"
#include "watch/WatchState.h"
#include "watchlist/WatchList.h"

#include <QListWidget>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

#include <optional>

namespace kelvoran::app {

class frmMain : public QWidget
{
    Q_OBJECT

public:
    frmMain(Module1 &registry, platform::HttpClient &http, platform::SoundPlayer &sound,
            platform::Notifier &notifier, Dialogs &dialogs, QWidget *parent = nullptr);
    ~frmMain() override;

    // The start-up sequence: show the window, add the tray icon, load the settings, fill the
    // watch list, set the settings panel's state.
    void Form_Load();
    // Start-up straight into the tray (--minimized), instead of Form_Load: the window is not shown
    // and polling starts as after a minimise. Without a system tray the window starts minimised.
    void startInTray();

    static constexpr int kPollIntervalMs = 32768; // 65535 / 2, rounded half to even

    // Controls, named as everywhere in the program (also their object names).
    QGroupBox *fraAdmin = nullptr;
    QPushButton *cmdSaveSettings = nullptr;
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

    QTimer *Timer = nullptr;
    FileDialog cmDialog;
    QMenu *mPopupSys = nullptr;
    QAction *mPopRestore = nullptr;
    QAction *mPopMute = nullptr;
    QAction *mPopVisits = nullptr;
    QAction *mPopExit = nullptr;
    QSystemTrayIcon *trayRecord = nullptr;

    // The text a field held when it got the focus, or the path a browse is about to replace.
    QString textBeforeEdit;

    // The polling timer's interval; 0 means stopped.
    int timerInterval() const;
    // Whether a poll's page download is in flight.
    bool pollInFlight() const { return m_pollFetch.isBusy(); }

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

    // Polling, window state and tray.
    void Timer_Timer();
    void Form_Resize();
    void Form_Unload();
    void Form_MouseMove(QSystemTrayIcon::ActivationReason reason);
    void mPopRestore_Click();
    void mPopMute_Toggled(bool muted);
    void mPopVisits_Click();
    void mPopExit_Click();

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls();
    void setSaveMode(bool changed);
    void setTimerInterval(int ms);
    void restoreWindow();
    void addFromList(QListWidget *list, const QString &friendPrompt, const QString &foePrompt);
    void addEntry(const QString &prefix, const QString &identifier);
    void showCurrentPlayers(const watch::PlayerTable &table);
    void pollDone(const watch::FetchedPage &page);
    void updateTray();
    void noteVisits();
    void moveIntoTrayOnceThere();
    // Says a failure: in a message box over the window, or as a notification while it is hidden.
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
    watch::WatchFields watchFields() const;

    Module1 &m_registry;
    Dialogs &m_dialogs;
    platform::SoundPlayer &m_sound;
    platform::Notifier &m_notifier;
    watch::ServerWatch m_watch;
    watch::WatchState m_state;
    watch::VisitLog m_visits;
    std::optional<watch::VisitRow> m_awayVisit; // the last visit that ended while hidden
    QWidget *m_visitsWindow = nullptr;
    QIcon m_icon;
    QIcon m_failingIcon;
    // While the window sits minimised in the task bar for want of a tray, this looks for a tray
    // now and then (a panel that starts after the program) and moves the window into it.
    QTimer *m_trayLookout = nullptr;
    QList<AddResult> m_added; // by the add command running now
    watch::PageFetchWorker m_pollFetch;
    watch::PageFetchWorker m_showFetch;
    QList<QWidget *> m_watchControls;
    // The field whose GotFocus ran last: coming back to the window into that same field is no
    // new focus.
    QObject *m_gotFocusField = nullptr;
    int m_interval = 0;
    bool m_unloaded = false;
};

} // namespace kelvoran::app
