#pragma once
// The icon in the notification area: its picture and tooltip tell how watching goes, its menu
// holds Restore, Mute, the visit log, the server list and Exit, and it says what the user must
// hear of while the window is hidden.
#include "app/Dialogs.h"
#include "platform/Notifier.h"
#include "watch/Announcer.h"
#include "watch/VisitLog.h"
#include "watch/WatchGroup.h"

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace kelvoran::app {

class TrayIcon : public QObject
{
    Q_OBJECT

public:
    // `window` is the main window: messages go over it while it is shown.
    TrayIcon(Module1 &registry, watch::WatchGroup &group, watch::Announcer &announcer,
             watch::VisitLog &visits, platform::Notifier &notifier, Dialogs &dialogs,
             QWidget *window);
    ~TrayIcon() override;

    // Muted or not as when the program last ran, then the icon goes into the notification area.
    void show();
    // The icon leaves the notification area; nothing more is said (the program is ending).
    void hide();

    // Parts, named as everywhere in the program (also their object names).
    QSystemTrayIcon *trayRecord = nullptr;
    QMenu *mPopupSys = nullptr;
    QAction *mPopRestore = nullptr;
    QAction *mPopMute = nullptr;
    QAction *mPopVisits = nullptr;
    QAction *mPopServers = nullptr;
    QAction *mPopExit = nullptr;

public slots:
    void mPopMute_Toggled(bool muted);
    void mPopVisits_Click();
    // Icon and tooltip as the watching is now.
    void update();

signals:
    void serversRequested();

private:
    void visitsChanged();
    void noteStoreTrouble();

    Module1 &m_registry;
    watch::WatchGroup &m_group;
    watch::Announcer &m_announcer;
    watch::VisitLog &m_visits;
    platform::Notifier &m_notifier;
    Dialogs &m_dialogs;
    QWidget *m_window;
    QIcon m_icon;
    QIcon m_failingIcon;
    QWidget *m_visitsWindow = nullptr;
    std::optional<watch::VisitRow> m_awayVisit; // the last visit that ended while hidden
    // What was said of the store at start-up, so that only a later trouble is said again.
    QString m_problemSaid;
    bool m_shown = false;
};

} // namespace kelvoran::app
