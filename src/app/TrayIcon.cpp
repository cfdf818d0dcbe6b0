#include "app/TrayIcon.h"

#include "app/Artwork.h"
#include "app/VisitsWindow.h"
#include "settings/SettingsStore.h"

#include <QMenu>
#include <QSignalBlocker>

namespace kelvoran::app {

TrayIcon::TrayIcon(Module1 &registry, watch::WatchGroup &group, watch::Announcer &announcer,
                   watch::VisitLog &visits, platform::Notifier &notifier, Dialogs &dialogs,
                   QWidget *window)
    : QObject(window), m_registry(registry), m_group(group), m_announcer(announcer),
      m_visits(visits), m_notifier(notifier), m_dialogs(dialogs), m_window(window),
      m_icon(kelvoranIcon()), m_failingIcon(failingIcon()),
      m_problemSaid(registry.HKEY_LOCAL_MACHINE().problem())
{
    mPopupSys = new QMenu(QStringLiteral("&SysTray"), window);
    mPopupSys->setObjectName(QStringLiteral("mPopupSys"));
    const auto item = [this](const char *name, const QString &caption) {
        QAction *action = mPopupSys->addAction(caption);
        action->setObjectName(QLatin1String(name));
        return action;
    };
    mPopRestore = item("mPopRestore", QStringLiteral("&Restore"));
    mPopMute = item("mPopMute", QStringLiteral("Mute announcements"));
    mPopMute->setCheckable(true);
    mPopVisits = item("mPopVisits", QStringLiteral("Show Visits"));
    mPopServers = item("mPopServers", QStringLiteral("Servers..."));
    mPopExit = item("mPopExit", QStringLiteral("Exit"));
    connect(mPopMute, &QAction::toggled, this, &TrayIcon::mPopMute_Toggled);
    connect(mPopVisits, &QAction::triggered, this, &TrayIcon::mPopVisits_Click);
    connect(mPopServers, &QAction::triggered, this, &TrayIcon::serversRequested);

    trayRecord = new QSystemTrayIcon(m_icon, this);
    trayRecord->setObjectName(QStringLiteral("trayRecord"));
    trayRecord->setContextMenu(mPopupSys);

    connect(&m_group, &watch::WatchGroup::changed, this, &TrayIcon::update);
    connect(&m_group, &watch::WatchGroup::changed, this, &TrayIcon::noteStoreTrouble);
    connect(
        &m_group, &watch::WatchGroup::notice, this,
        [this](const QString &summary, const QString &body) { m_notifier.notify(summary, body); });
    connect(&m_visits, &watch::VisitLog::changed, this, &TrayIcon::visitsChanged);
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::show()
{
    {
        const QSignalBlocker quiet(mPopMute);
        mPopMute->setChecked(settings::storedMute(m_registry));
    }
    m_announcer.setMuted(mPopMute->isChecked());
    update();
    trayRecord->show();
    m_shown = true;
}

void TrayIcon::hide()
{
    m_shown = false;
    trayRecord->hide();
}

void TrayIcon::update()
{
    // Set only on a change: each setting goes out to the tray host (a D-Bus signal, say).
    const QIcon &icon = m_group.failing() ? m_failingIcon : m_icon;
    if (trayRecord->icon().cacheKey() != icon.cacheKey())
        trayRecord->setIcon(icon);
    const QString tip = m_group.toolTip(
        QLocale(),
        m_awayVisit ? QStringList{watch::lastVisitLine(*m_awayVisit, QLocale())} : QStringList());
    if (trayRecord->toolTip() != tip)
        trayRecord->setToolTip(tip);
}

void TrayIcon::visitsChanged()
{
    const auto ended = m_visits.lastEnded();
    if (ended && (!m_window->isVisible() || m_window->isMinimized())) {
        m_awayVisit = ended;
        update();
    }
    noteStoreTrouble();
}

void TrayIcon::noteStoreTrouble()
{
    // On the way out nothing is said.
    if (!m_shown)
        return;
    const platform::RegistryStore &store = m_registry.HKEY_LOCAL_MACHINE();
    const QString failure = m_visits.takeWriteFailure();
    // A store that finds its file damaged while running gives up: said once, like a store that
    // could not be used at start-up.
    if (store.problem() != m_problemSaid && !store.problem().isEmpty()) {
        m_problemSaid = store.problem();
        say(m_window, m_dialogs, m_notifier,
            QStringLiteral("The file that keeps Kelvoran's settings and watch list, %1, %2.\n\n"
                           "Kelvoran runs on, but nothing will be saved.")
                .arg(store.filePath(), store.problem()));
    } else if (!failure.isEmpty() && store.problem().isEmpty()) {
        say(m_window, m_dialogs, m_notifier,
            QStringLiteral("Could not keep the log of visits in %1: it %2.")
                .arg(store.filePath(), failure));
    }
}

void TrayIcon::mPopMute_Toggled(bool muted)
{
    m_announcer.setMuted(muted);
    update();
    if (!settings::storeMute(m_registry, muted))
        say(m_window, m_dialogs, m_notifier,
            QStringLiteral("Could not keep the mute setting for the next start.\n\n%1.")
                .arg(m_registry.writeFailure()));
}

void TrayIcon::mPopVisits_Click()
{
    if (!m_visitsWindow)
        m_visitsWindow = new VisitsWindow(m_visits, m_dialogs, m_window);
    m_visitsWindow->setWindowFlag(Qt::Window);
    m_visitsWindow->show();
    m_visitsWindow->raise();
    m_visitsWindow->activateWindow();
}

} // namespace kelvoran::app
