#include "app/frmMain.h"

#include "app/Artwork.h"
#include "app/VisitsWindow.h"
#include "settings/PanelState.h"
#include "settings/ServerIni.h"
#include "settings/SettingsStore.h"
#include "watchlist/WatchList.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace kelvoran::app {

using namespace kelvoran::settings;

namespace {

const QString kTitle = QStringLiteral("Kelvoran");
const QString kNoPlayers = QStringLiteral("No players on-line.");
const QString kEnterAllFields = QStringLiteral("Please enter all fields!");

// The layout is given in twips; at 96 dpi 15 twips make one pixel. Qt's pixels are
// device-independent, so HiDPI screens scale the whole window.
constexpr int kTwipsPerPixel = 15;
int px(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

template <typename W>
W *place(QWidget *parent, const char *name, int left, int top, int width, int height)
{
    auto *w = new W(parent);
    w->setObjectName(QLatin1String(name));
    w->setGeometry(px(left), px(top), px(width), px(height));
    return w;
}

// Tahoma, as the window was laid out for. Debian's fonts-wine ships a free Tahoma that fontconfig
// does not list; it is loaded from there when present. Where no Tahoma exists, fontconfig gives
// the default sans-serif face for the name. (Asking the font database for its families instead
// would cost a full scan of the installed fonts at every start.)
QFont windowFont()
{
    static const bool loaded = [] {
        for (const char *file :
             {"/usr/share/wine/fonts/tahoma.ttf", "/usr/local/share/wine/fonts/tahoma.ttf"}) {
            if (QFile::exists(QLatin1String(file)))
                return QFontDatabase::addApplicationFont(QLatin1String(file)) >= 0;
        }
        return false;
    }();
    Q_UNUSED(loaded);
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    return font;
}

// Wider faces than Tahoma would clip some captions in their fixed-size controls: such a control
// gets a slightly smaller size of the same face, just enough for its caption.
void fitCaption(QWidget *w, const QString &caption, int padding)
{
    QFont font = w->font();
    while (font.pointSizeF() > 6.0 &&
           QFontMetrics(font).horizontalAdvance(caption) + padding > w->width())
        font.setPointSizeF(font.pointSizeF() - 0.25);
    if (font != w->font())
        w->setFont(font);
}

// The polling interval; tests shorten it through KELVORAN_POLL_INTERVAL_MS.
int pollIntervalMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KELVORAN_POLL_INTERVAL_MS", &ok);
    return ok && ms > 0 ? ms : frmMain::kPollIntervalMs;
}

// How often a window minimised for want of a tray looks for one; tests shorten it through
// KELVORAN_TRAY_LOOKOUT_MS.
int trayLookoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KELVORAN_TRAY_LOOKOUT_MS", &ok);
    return ok && ms > 0 ? ms : 2000;
}

} // namespace

frmMain::frmMain(Module1 &registry, platform::HttpClient &http, platform::SoundPlayer &sound,
                 platform::Notifier &notifier, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent), m_registry(registry), m_dialogs(dialogs), m_sound(sound),
      m_notifier(notifier), m_watch(registry, sound, notifier),
      m_visits(registry.HKEY_LOCAL_MACHINE()), m_icon(kelvoranIcon()), m_failingIcon(failingIcon()),
      m_pollFetch(http), m_showFetch(http)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    setWindowIcon(m_icon);
    setFont(windowFont());
    setFixedSize(px(7035), px(6090));
    buildControls();

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    connect(Timer, &QTimer::timeout, this, &frmMain::Timer_Timer);

    mPopupSys = new QMenu(QStringLiteral("&SysTray"), this);
    mPopupSys->setObjectName(QStringLiteral("mPopupSys"));
    mPopRestore = mPopupSys->addAction(QStringLiteral("&Restore"));
    mPopRestore->setObjectName(QStringLiteral("mPopRestore"));
    mPopMute = mPopupSys->addAction(QStringLiteral("Mute announcements"));
    mPopMute->setObjectName(QStringLiteral("mPopMute"));
    mPopMute->setCheckable(true);
    mPopVisits = mPopupSys->addAction(QStringLiteral("Show Visits"));
    mPopVisits->setObjectName(QStringLiteral("mPopVisits"));
    mPopExit = mPopupSys->addAction(QStringLiteral("Exit"));
    mPopExit->setObjectName(QStringLiteral("mPopExit"));
    connect(mPopRestore, &QAction::triggered, this, &frmMain::mPopRestore_Click);
    connect(mPopMute, &QAction::toggled, this, &frmMain::mPopMute_Toggled);
    connect(mPopVisits, &QAction::triggered, this, &frmMain::mPopVisits_Click);
    connect(mPopExit, &QAction::triggered, this, &frmMain::mPopExit_Click);

    trayRecord = new QSystemTrayIcon(m_icon, this);
    trayRecord->setObjectName(QStringLiteral("trayRecord"));
    trayRecord->setContextMenu(mPopupSys);
    connect(trayRecord, &QSystemTrayIcon::activated, this, &frmMain::Form_MouseMove);

    m_trayLookout = new QTimer(this);
    m_trayLookout->setInterval(trayLookoutMs());
    connect(m_trayLookout, &QTimer::timeout, this, &frmMain::moveIntoTrayOnceThere);
}

frmMain::~frmMain() = default;

void frmMain::buildControls()
{
    fraAdmin = place<QGroupBox>(this, "fraAdmin", 0, 120, 6975, 3015);
    fraAdmin->setTitle(QStringLiteral("Admin Options"));

    cmdSaveSettings = place<QPushButton>(fraAdmin, "cmdSaveSettings", 2280, 240, 2895, 375);
    cmdSaveSettings->setText(kCaptionChanged);
    cmdSaveSettings->setToolTip(QStringLiteral("Save Setting"));
    Label8 = place<QLabel>(fraAdmin, "Label8", 120, 840, 2055, 255);
    Label8->setText(QStringLiteral("Tournament Server INI File"));
    txtINIfile = place<QLineEdit>(fraAdmin, "txtINIfile", 2160, 840, 4095, 285);
    Command1 = place<QPushButton>(fraAdmin, "Command1", 6360, 840, 495, 285);
    Command1->setText(QStringLiteral("..."));
    Command1->setToolTip(QStringLiteral("Browse for INI files"));
    Label1 = place<QLabel>(fraAdmin, "Label1", 120, 1320, 1455, 255);
    Label1->setText(QStringLiteral("Ut Server address"));
    txtIPAddress = place<QLineEdit>(fraAdmin, "txtIPAddress", 1560, 1320, 2535, 285);
    Label2 = place<QLabel>(fraAdmin, "Label2", 4320, 1320, 975, 255);
    Label2->setText(QStringLiteral("Port Number"));
    txtPortNumber = place<QLineEdit>(fraAdmin, "txtPortNumber", 5280, 1320, 1575, 270);
    Label3 = place<QLabel>(fraAdmin, "Label3", 120, 1680, 1215, 255);
    Label3->setText(QStringLiteral("Admin Name"));
    txtAdminName = place<QLineEdit>(fraAdmin, "txtAdminName", 1560, 1680, 2535, 285);
    Label4 = place<QLabel>(fraAdmin, "Label4", 4320, 1680, 855, 255);
    Label4->setText(QStringLiteral("Password"));
    txtPassword = place<QLineEdit>(fraAdmin, "txtPassword", 5280, 1680, 1575, 285);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    Label5 = place<QLabel>(fraAdmin, "Label5", 120, 2160, 1935, 255);
    Label5->setText(QStringLiteral("Annouce Friend Wave File"));
    txtFriendWav = place<QLineEdit>(fraAdmin, "txtFriendWav", 2160, 2160, 3495, 285);
    CmdBrowseFriend = place<QPushButton>(fraAdmin, "CmdBrowseFriend", 5760, 2160, 495, 285);
    CmdBrowseFriend->setText(QStringLiteral("..."));
    CmdBrowseFriend->setToolTip(QStringLiteral("Browse for WAV files"));
    cmdPlayFriend = place<QPushButton>(fraAdmin, "cmdPlayFriend", 6360, 2160, 495, 285);
    cmdPlayFriend->setIcon(playIcon());
    cmdPlayFriend->setToolTip(QStringLiteral("Play Wav File"));
    Label6 = place<QLabel>(fraAdmin, "Label6", 120, 2520, 1935, 255);
    Label6->setText(QStringLiteral("Annouce Foe Wave File"));
    txtEnemyWav = place<QLineEdit>(fraAdmin, "txtEnemyWav", 2160, 2520, 3495, 285);
    cmdBrowseEnemy = place<QPushButton>(fraAdmin, "cmdBrowseEnemy", 5760, 2520, 495, 285);
    cmdBrowseEnemy->setText(QStringLiteral("..."));
    cmdBrowseEnemy->setToolTip(QStringLiteral("Browse for WAV files"));
    cmdPlayEnemy = place<QPushButton>(fraAdmin, "cmdPlayEnemy", 6360, 2520, 495, 285);
    cmdPlayEnemy->setIcon(playIcon());
    cmdPlayEnemy->setToolTip(QStringLiteral("Play Wav File"));

    fraAnnouce = place<QGroupBox>(this, "fraAnnouce", 0, 3120, 6975, 2895);
    fraAnnouce->setTitle(QStringLiteral("Annouce Names"));
    cmdShowCurrent = place<QPushButton>(fraAnnouce, "cmdShowCurrent", 720, 240, 2055, 375);
    cmdShowCurrent->setText(QStringLiteral("Show Current Players"));
    cmdShowCurrent->setToolTip(QStringLiteral("Show players currently on line."));
    optFriend = place<QRadioButton>(fraAnnouce, "optFriend", 3960, 240, 975, 255);
    optFriend->setText(QStringLiteral("Friend"));
    optFriend->setChecked(true);
    optEnemy = place<QRadioButton>(fraAnnouce, "optEnemy", 3960, 480, 615, 255);
    optEnemy->setText(QStringLiteral("Foe"));
    Label7 = place<QLabel>(fraAnnouce, "Label7", 5040, 480, 1815, 255);
    Label7->setText(QStringLiteral("Annoucing"));
    lstPlayers = place<QListWidget>(fraAnnouce, "lstPlayers", 120, 720, 1695, 2010);
    lstIP = place<QListWidget>(fraAnnouce, "lstIP", 1920, 720, 1695, 2010);
    cmdAddName = place<QPushButton>(fraAnnouce, "cmdAddName", 3720, 840, 1215, 375);
    cmdAddName->setText(QStringLiteral("Add Name ->"));
    cmdAddIP = place<QPushButton>(fraAnnouce, "cmdAddIP", 3720, 1320, 1215, 375);
    cmdAddIP->setText(QStringLiteral("Add IP ->"));
    cmdAddBoth = place<QPushButton>(fraAnnouce, "cmdAddBoth", 3720, 1800, 1215, 375);
    cmdAddBoth->setText(QStringLiteral("Add Both ->"));
    cmdRemoveAll = place<QPushButton>(fraAnnouce, "cmdRemoveAll", 3720, 2400, 1215, 375);
    cmdRemoveAll->setText(QStringLiteral("Remove All"));
    lstAdd = place<QListWidget>(fraAnnouce, "lstAdd", 5040, 720, 1815, 2010);

    for (QListWidget *list : {lstPlayers, lstIP, lstAdd})
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // The address list only mirrors the name list's selection: shown, but greyed out and left out
    // of the Tab order.
    lstIP->setEnabled(false);
    lstIP->setFocusPolicy(Qt::NoFocus);
    // Greyed out, it still shows which addresses the name list's selection has picked.
    QPalette mirrored = lstIP->palette();
    mirrored.setColor(QPalette::Disabled, QPalette::Highlight,
                      mirrored.color(QPalette::Active, QPalette::Highlight).lighter(160));
    mirrored.setColor(QPalette::Disabled, QPalette::HighlightedText,
                      mirrored.color(QPalette::Active, QPalette::Text));
    lstIP->setPalette(mirrored);

    // Tab order by the layout's tab indexes.
    const QList<QWidget *> tabOrder{txtINIfile,     Command1,       txtIPAddress,   txtPortNumber,
                                    txtAdminName,   txtPassword,    txtFriendWav,   CmdBrowseFriend,
                                    cmdPlayFriend,  txtEnemyWav,    cmdBrowseEnemy, cmdPlayEnemy,
                                    cmdShowCurrent, optFriend,      optEnemy,       lstPlayers,
                                    cmdAddName,     cmdAddIP,       cmdAddBoth,     cmdRemoveAll,
                                    lstAdd,         cmdSaveSettings};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));

    for (QLabel *label : findChildren<QLabel *>())
        fitCaption(label, label->text(), 0);
    for (QAbstractButton *button : findChildren<QAbstractButton *>()) {
        if (!button->text().isEmpty())
            fitCaption(button, button->text(), qobject_cast<QRadioButton *>(button) ? 20 : 6);
    }

    m_watchControls = {cmdShowCurrent, lstPlayers,   lstAdd,   cmdAddBoth, cmdAddIP,
                       cmdAddName,     cmdRemoveAll, optEnemy, optFriend};

    connect(cmdSaveSettings, &QPushButton::clicked, this, &frmMain::cmdSaveSettings_Click);
    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(CmdBrowseFriend, &QPushButton::clicked, this, &frmMain::CmdBrowseFriend_Click);
    connect(cmdBrowseEnemy, &QPushButton::clicked, this, &frmMain::cmdBrowseEnemy_Click);
    connect(cmdPlayFriend, &QPushButton::clicked, this, &frmMain::cmdPlayFriend_Click);
    connect(cmdPlayEnemy, &QPushButton::clicked, this, &frmMain::cmdPlayEnemy_Click);
    connect(cmdShowCurrent, &QPushButton::clicked, this, &frmMain::cmdShowCurrent_Click);
    connect(cmdAddName, &QPushButton::clicked, this, &frmMain::cmdAddName_Click);
    connect(cmdAddIP, &QPushButton::clicked, this, &frmMain::cmdAddIP_Click);
    connect(cmdAddBoth, &QPushButton::clicked, this, &frmMain::cmdAddBoth_Click);
    connect(cmdRemoveAll, &QPushButton::clicked, this, &frmMain::cmdRemoveAll_Click);
    connect(lstPlayers, &QListWidget::itemSelectionChanged, this, &frmMain::lstPlayers_Click);

    connect(txtAdminName, &QLineEdit::textChanged, this, &frmMain::txtAdminName_Change);
    connect(txtEnemyWav, &QLineEdit::textChanged, this, &frmMain::txtEnemyWav_Change);
    connect(txtFriendWav, &QLineEdit::textChanged, this, &frmMain::txtFriendWav_Change);
    connect(txtINIfile, &QLineEdit::textChanged, this, &frmMain::txtINIfile_Change);
    connect(txtIPAddress, &QLineEdit::textChanged, this, &frmMain::txtIPAddress_Change);
    connect(txtPassword, &QLineEdit::textChanged, this, &frmMain::txtPassword_Change);
    connect(txtPortNumber, &QLineEdit::textChanged, this, &frmMain::txtPortNumber_Change);
    for (QWidget *w : {static_cast<QWidget *>(txtAdminName), static_cast<QWidget *>(txtEnemyWav),
                       static_cast<QWidget *>(txtFriendWav), static_cast<QWidget *>(txtINIfile),
                       static_cast<QWidget *>(txtIPAddress), static_cast<QWidget *>(txtPassword),
                       static_cast<QWidget *>(txtPortNumber), static_cast<QWidget *>(Command1),
                       static_cast<QWidget *>(lstAdd)})
        w->installEventFilter(this);
}

// ---- start-up, window state, tray -------------------------------------------------------------

void frmMain::Form_Load()
{
    show();
    repaint();

    // Muted or not as when the program last ran; the item's handler brings the watch along.
    {
        const QSignalBlocker quiet(mPopMute);
        mPopMute->setChecked(storedMute(m_registry));
    }
    m_watch.setMuted(mPopMute->isChecked());
    m_state.setMuted(mPopMute->isChecked());
    updateTray();
    trayRecord->show();

    txtINIfile->setText(storedSetting(m_registry, kIniFileValue));
    if (!txtINIfile->text().isEmpty())
        readServerIni();
    txtIPAddress->setText(storedSetting(m_registry, kServerAddressValue));
    txtFriendWav->setText(storedSetting(m_registry, kFriendValue));
    txtEnemyWav->setText(storedSetting(m_registry, kEnemyValue));

    enumregkey(kChecklistKey);

    const QStringList fields = sevenFields();
    if (std::any_of(fields.begin(), fields.end(), [](const QString &f) { return f.isEmpty(); })) {
        for (QWidget *w : m_watchControls)
            w->setEnabled(false);
    } else {
        setSaveMode(false);
        for (QWidget *w : m_watchControls)
            w->setEnabled(true);
    }

    // The field that took the focus when the window appeared holds its loaded text now: that is
    // what a later edit is compared with. (If the window gets its focus only later, the first
    // focus-in does the same.)
    if (focusWidget())
        runGotFocus(focusWidget());

    const QString problem = m_registry.HKEY_LOCAL_MACHINE().problem();
    if (!problem.isEmpty())
        m_dialogs.warning(
            this,
            QStringLiteral("The file that keeps Kelvoran's settings and watch list, %1, %2.\n\n"
                           "Kelvoran runs on, but nothing will be saved.")
                .arg(m_registry.HKEY_LOCAL_MACHINE().filePath(), problem));
}

int frmMain::timerInterval() const
{
    return m_interval;
}

void frmMain::setTimerInterval(int ms)
{
    // A zero-interval QTimer would fire continuously; here 0 means stopped.
    if (ms == 0 && m_interval != 0) {
        m_visits.pollingStopped(QDateTime::currentDateTime());
        noteVisits();
    }
    m_interval = ms;
    if (ms == 0) {
        Timer->stop();
    } else {
        Timer->start(ms);
        m_state.setServer(txtIPAddress->text(), txtPortNumber->text());
    }
    m_state.setPolling(ms != 0);
    updateTray();
}

void frmMain::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::Form_Resize()
{
    if (!(windowState() & Qt::WindowMinimized))
        return;
    // Hidden, the window comes back only through the tray icon; with no tray to hold the icon it
    // stays minimised in the task bar instead.
    // The hide waits for the event loop: showMinimized() shows the window again after the state
    // change that brought us here.
    if (QSystemTrayIcon::isSystemTrayAvailable() && trayRecord->isVisible()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (windowState() & Qt::WindowMinimized)
                    hide();
            },
            Qt::QueuedConnection);
    } else {
        m_trayLookout->start();
    }
    setTimerInterval(pollIntervalMs());
}

void frmMain::moveIntoTrayOnceThere()
{
    if (!(windowState() & Qt::WindowMinimized) || !isVisible()) {
        m_trayLookout->stop();
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    // A panel that came after the program: Qt docks the icon into its tray, and the window goes
    // there too.
    m_trayLookout->stop();
    hide();
}

void frmMain::Timer_Timer()
{
    // The page comes in on a worker thread; a tick while it is still on its way starts nothing.
    m_pollFetch.start(watchFields(), [this](const watch::FetchedPage &page) { pollDone(page); });
}

void frmMain::pollDone(const watch::FetchedPage &page)
{
    // The sound paths are taken now, as the announcements happen now.
    const watch::WatchFields fields = watchFields();
    watch::PollReport report = m_watch.PollCycle(page.table, fields);
    report.when = QDateTime::currentDateTime();
    report.fetch = page.fetch;
    m_state.setServer(fields.ipAddress, fields.portNumber);
    if (const auto notice = m_state.record(report))
        m_notifier.notify(notice->summary, notice->body);
    // Logged once the sounds are on their way: the store's work never delays them.
    m_visits.record(report);
    noteVisits();
    updateTray();
}

void frmMain::noteVisits()
{
    const QString failure = m_visits.takeWriteFailure();
    // A store that could not be used at all was said at start-up already; on the way out
    // nothing is said.
    if (!failure.isEmpty() && !m_unloaded && m_registry.HKEY_LOCAL_MACHINE().problem().isEmpty())
        say(QStringLiteral("Could not keep the log of visits in %1: it %2.")
                .arg(m_registry.HKEY_LOCAL_MACHINE().filePath(), failure));
    const auto ended = m_visits.lastEnded();
    if (ended && (!isVisible() || isMinimized()))
        m_awayVisit = ended;
}

void frmMain::mPopVisits_Click()
{
    if (!m_visitsWindow)
        m_visitsWindow = new VisitsWindow(m_visits, m_dialogs, this);
    m_visitsWindow->setWindowFlag(Qt::Window);
    m_visitsWindow->show();
    m_visitsWindow->raise();
    m_visitsWindow->activateWindow();
}

void frmMain::updateTray()
{
    // Set only on a change: each setting goes out to the tray host (a D-Bus signal, say).
    const QIcon &icon = m_state.failing() ? m_failingIcon : m_icon;
    if (trayRecord->icon().cacheKey() != icon.cacheKey())
        trayRecord->setIcon(icon);
    const QString tip = m_state.toolTip(
        QLocale(),
        m_awayVisit ? QStringList{watch::lastVisitLine(*m_awayVisit, QLocale())} : QStringList());
    if (trayRecord->toolTip() != tip)
        trayRecord->setToolTip(tip);
}

void frmMain::mPopMute_Toggled(bool muted)
{
    m_watch.setMuted(muted);
    m_state.setMuted(muted);
    updateTray();
    if (!storeMute(m_registry, muted))
        say(QStringLiteral("Could not keep the mute setting for the next start.\n\n%1.")
                .arg(m_registry.writeFailure()));
}

void frmMain::say(const QString &text)
{
    if (isVisible() && !isMinimized() && !testAttribute(Qt::WA_DontShowOnScreen))
        m_dialogs.message(this, text);
    else
        m_notifier.notify(kTitle, text);
}

void frmMain::restoreWindow()
{
    setWindowState(Qt::WindowNoState);
    show();
    raise();
    activateWindow();
}

void frmMain::Form_MouseMove(QSystemTrayIcon::ActivationReason reason)
{
    // The tray reports its own event kinds: a left click or double click brings the window back
    // and leaves the polling as it is; the right button's menu is opened by the tray itself.
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        restoreWindow();
        break;
    default:
        break;
    }
}

void frmMain::mPopRestore_Click()
{
    restoreWindow();
    setTimerInterval(0);
}

void frmMain::mPopExit_Click()
{
    close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    setTimerInterval(0);
    trayRecord->hide();
    QCoreApplication::quit();
}

// ---- settings panel ----------------------------------------------------------------------------

QStringList frmMain::sevenFields() const
{
    return {txtINIfile->text(),  txtIPAddress->text(), txtPortNumber->text(), txtAdminName->text(),
            txtPassword->text(), txtEnemyWav->text(),  txtFriendWav->text()};
}

watch::WatchFields frmMain::watchFields() const
{
    return {txtAdminName->text(),  txtPassword->text(),  txtIPAddress->text(),
            txtPortNumber->text(), txtFriendWav->text(), txtEnemyWav->text()};
}

void frmMain::setSaveMode(bool changed)
{
    cmdSaveSettings->setText(changed ? kCaptionChanged : kCaptionCurrent);
    cmdSaveSettings->setEnabled(changed);
}

void frmMain::checkSettingsChanged(const QString &text)
{
    setSaveMode(isEdited(text, textBeforeEdit));
    updateWatchControls();
}

void frmMain::updateWatchControls()
{
    const bool usable = watchControlsUsable(cmdSaveSettings->text(), sevenFields());
    for (QWidget *w : m_watchControls)
        w->setEnabled(usable);
    // Show Current Players waits for its page before it can be pressed again.
    if (m_showFetch.isBusy())
        cmdShowCurrent->setEnabled(false);
}

void frmMain::Command1_LostFocus()
{
    if (isEdited(txtINIfile->text(), textBeforeEdit))
        setSaveMode(true);
    updateWatchControls();
}

#define KELVORAN_FIELD_HANDLERS(field)                                                             \
    void frmMain::field##_GotFocus()                                                               \
    {                                                                                              \
        textBeforeEdit = field->text();                                                            \
    }                                                                                              \
    void frmMain::field##_Change()                                                                 \
    {                                                                                              \
        checkSettingsChanged(field->text());                                                       \
    }                                                                                              \
    void frmMain::field##_LostFocus()                                                              \
    {                                                                                              \
        checkSettingsChanged(field->text());                                                       \
    }

KELVORAN_FIELD_HANDLERS(txtAdminName)
KELVORAN_FIELD_HANDLERS(txtEnemyWav)
KELVORAN_FIELD_HANDLERS(txtFriendWav)
KELVORAN_FIELD_HANDLERS(txtINIfile)
KELVORAN_FIELD_HANDLERS(txtIPAddress)
KELVORAN_FIELD_HANDLERS(txtPassword)
KELVORAN_FIELD_HANDLERS(txtPortNumber)
#undef KELVORAN_FIELD_HANDLERS

// The focus handlers of the seven fields, and the INI browse button's LostFocus.
QList<frmMain::FocusHandlers> frmMain::focusHandlers() const
{
    return {{txtAdminName, &frmMain::txtAdminName_GotFocus, &frmMain::txtAdminName_LostFocus},
            {txtEnemyWav, &frmMain::txtEnemyWav_GotFocus, &frmMain::txtEnemyWav_LostFocus},
            {txtFriendWav, &frmMain::txtFriendWav_GotFocus, &frmMain::txtFriendWav_LostFocus},
            {txtINIfile, &frmMain::txtINIfile_GotFocus, &frmMain::txtINIfile_LostFocus},
            {txtIPAddress, &frmMain::txtIPAddress_GotFocus, &frmMain::txtIPAddress_LostFocus},
            {txtPassword, &frmMain::txtPassword_GotFocus, &frmMain::txtPassword_LostFocus},
            {txtPortNumber, &frmMain::txtPortNumber_GotFocus, &frmMain::txtPortNumber_LostFocus},
            {Command1, nullptr, &frmMain::Command1_LostFocus}};
}

void frmMain::runGotFocus(QObject *field)
{
    for (const FocusHandlers &f : focusHandlers()) {
        if (f.widget == field && f.gotFocus) {
            (this->*f.gotFocus)();
            m_gotFocusField = field;
        }
    }
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        // Switching to another window and back, or a menu popping up, is no focus change inside
        // the panel; but the focus a field gets when the window first appears is.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const bool in = event->type() == QEvent::FocusIn;
        if ((reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) &&
            (!in || watched == m_gotFocusField))
            return QWidget::eventFilter(watched, event);
        if (in) {
            runGotFocus(watched);
        } else {
            for (const FocusHandlers &f : focusHandlers()) {
                if (f.widget == watched)
                    (this->*f.lostFocus)();
            }
        }
    } else if (event->type() == QEvent::KeyPress && watched == lstAdd) {
        const auto *key = static_cast<QKeyEvent *>(event);
        lstAdd_KeyDown(key->key(), key->modifiers());
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::cmdSaveSettings_Click()
{
    const SettingsFields fields{txtINIfile->text(),   txtIPAddress->text(), txtPortNumber->text(),
                                txtAdminName->text(), txtPassword->text(),  txtFriendWav->text(),
                                txtEnemyWav->text()};
    if (!saveAllowed(fields)) {
        m_dialogs.message(this, kEnterAllFields);
        return;
    }
    const SaveResult saved = saveSettings(m_registry, fields);
    if (!saved.ok) {
        // What was not written would be lost or never reach the game server: the save is not
        // done, and it says so.
        m_dialogs.message(this, saved.message);
        return;
    }
    setSaveMode(false);
    updateWatchControls();
}

void frmMain::readServerIni()
{
    QString why;
    if (!switchWebServerOn(txtINIfile->text(), &why))
        say(QStringLiteral("Could not switch the game server's web admin on in its INI file; "
                           "Kelvoran cannot see the players until it is on.\n\n%1.")
                .arg(why));
    txtPortNumber->setText(iniListenPort(txtINIfile->text()));
    txtAdminName->setText(iniAdminName(txtINIfile->text()));
    txtPassword->setText(iniAdminPassword(txtINIfile->text()));
}

void frmMain::Command1_Click()
{
    textBeforeEdit = txtINIfile->text();
    // No installer writes the game's folder on Linux: then the dialog starts in the home folder.
    const QString folder = gameInstallFolder(m_registry);
    cmDialog.initDir = folder.isEmpty() ? QDir::homePath() : folder + QStringLiteral("/System");
    cmDialog.filters = {QStringLiteral("Ini Files (*.ini)"), QStringLiteral("All Files (*.*)")};
    const QString chosen = m_dialogs.openFile(this, cmDialog);
    if (chosen.isEmpty())
        return;
    txtINIfile->setText(chosen);
    readServerIni();
    checkSettingsChanged(txtINIfile->text());
}

// ---- sounds ------------------------------------------------------------------------------------

void frmMain::browseWav(QLineEdit *field)
{
    textBeforeEdit = field->text();
    cmDialog.initDir = QCoreApplication::applicationDirPath();
    cmDialog.filters = {QStringLiteral("Wav Files (*.wav)")};
    const QString chosen = m_dialogs.openFile(this, cmDialog);
    if (chosen.isEmpty())
        return;
    field->setText(chosen);
    checkSettingsChanged(field->text());
}

void frmMain::CmdBrowseFriend_Click()
{
    browseWav(txtFriendWav);
}

void frmMain::cmdBrowseEnemy_Click()
{
    browseWav(txtEnemyWav);
}

void frmMain::cmdPlayFriend_Click()
{
    m_sound.play(txtFriendWav->text());
}

void frmMain::cmdPlayEnemy_Click()
{
    m_sound.play(txtEnemyWav->text());
}

// ---- watch-list panel --------------------------------------------------------------------------

void frmMain::cmdShowCurrent_Click()
{
    lstPlayers->clear();
    lstIP->clear();
    // Busy until the page is in: the button stays greyed out, the window shows the wait cursor.
    if (!m_showFetch.start(watchFields(), [this](const watch::FetchedPage &page) {
            showCurrentPlayers(page.table);
        }))
        return;
    cmdShowCurrent->setEnabled(false);
    setCursor(Qt::WaitCursor);
}

void frmMain::showCurrentPlayers(const watch::PlayerTable &table)
{
    unsetCursor();
    updateWatchControls();
    // The answer to a question the user walked away from: no box over a hidden window.
    const bool shown = isVisible() && !isMinimized();
    if (!table) {
        if (shown)
            m_dialogs.message(this, kNoPlayers);
        return;
    }
    for (const watch::PlayerRow &row : *table) {
        lstPlayers->addItem(row.name);
        lstIP->addItem(row.ip);
    }
    // A list with rows has a current row, its first, before the user moves it.
    if (lstPlayers->count() > 0) {
        lstPlayers->setCurrentRow(0, QItemSelectionModel::NoUpdate);
        lstIP->setCurrentRow(0, QItemSelectionModel::NoUpdate);
    }
    if (table->isEmpty()) {
        // Armed before the box, which may stay open for minutes while polls announce.
        m_watch.resetToYES();
        if (shown)
            m_dialogs.message(this, kNoPlayers);
    }
}

QString frmMain::kindPrefix() const
{
    return optFriend->isChecked() ? kFriendPrefix : kFoePrefix;
}

void frmMain::addEntry(const QString &prefix, const QString &identifier)
{
    m_added.append(addWatchEntry(m_registry, prefix + identifier));
}

void frmMain::addFromList(QListWidget *list, const QString &friendPrompt, const QString &foePrompt)
{
    // The box shows what the store holds once the command is done, and the user hears of entries
    // that were there already or could not be kept.
    m_added.clear();
    const auto showAdds = qScopeGuard([this] {
        if (m_added.isEmpty())
            return;
        lstAdd->clear();
        enumregkey(kChecklistKey);
        const QString said = describeAdds(std::exchange(m_added, {}));
        if (!said.isEmpty())
            m_dialogs.message(this, said);
    });
    const QListWidgetItem *current = list->currentItem();
    if (!current || current->text().isEmpty()) {
        const QString typed =
            m_dialogs.inputBox(this, optFriend->isChecked() ? friendPrompt : foePrompt);
        if (!typed.isEmpty())
            addEntry(kindPrefix(), typed);
        return;
    }
    QStringList watched;
    for (int j = 0; j < lstAdd->count(); ++j)
        watched << lstAdd->item(j)->text();
    for (int i = 0; i < list->count(); ++i) {
        const QListWidgetItem *row = list->item(i);
        // A bot's address cell is empty: an entry without identifier would stand for every bot.
        if (!row->isSelected() || row->text().isEmpty())
            continue;
        if (!alreadyWatched(kindPrefix(), row->text(), watched)) {
            addEntry(kindPrefix(), row->text());
            watched << kindPrefix() + row->text();
        }
    }
}

void frmMain::cmdAddName_Click()
{
    addFromList(lstPlayers, QStringLiteral("Enter FRIEND Player Name"),
                QStringLiteral("Enter FOE Player Name"));
}

void frmMain::cmdAddIP_Click()
{
    addFromList(lstIP, QStringLiteral("Enter FRIEND IP Address"),
                QStringLiteral("Enter FOE IP Address"));
}

void frmMain::cmdAddBoth_Click()
{
    cmdAddName_Click();
    cmdAddIP_Click();
}

void frmMain::lstPlayers_Click()
{
    const int n = std::min(lstPlayers->count(), lstIP->count());
    for (int i = 0; i < n; ++i)
        lstIP->item(i)->setSelected(lstPlayers->item(i)->isSelected());
}

void frmMain::deleteRows(bool selectedOnly)
{
    for (int i = 0; i < lstAdd->count(); ++i) {
        const QListWidgetItem *row = lstAdd->item(i);
        if (!selectedOnly || row->isSelected())
            m_registry.deleteEntry(row->text());
    }
    lstAdd->clear();
    enumregkey(kChecklistKey);
}

void frmMain::cmdRemoveAll_Click()
{
    deleteRows(false);
}

void frmMain::lstAdd_KeyDown(int keyCode, Qt::KeyboardModifiers shift)
{
    // Delete, or the keypad's decimal point key, which is its Del key with Num Lock on.
    const bool keypadDecimal =
        (shift & Qt::KeypadModifier) && (keyCode == Qt::Key_Period || keyCode == Qt::Key_Comma);
    if (keyCode == Qt::Key_Delete || keypadDecimal)
        deleteRows(true);
}

void frmMain::enumregkey(const QStringList &path)
{
    lstAdd->addItems(m_registry.entryNames(path));
}

// ---- start in the tray -------------------------------------------------------------------------

void frmMain::startInTray()
{
    // The start-up sequence with the window's first showing kept off the screen, then the window
    // minimised: the minimising rule arms the timer and, with a tray, keeps the window hidden;
    // without one the window goes minimised into the task bar.
    setAttribute(Qt::WA_DontShowOnScreen);
    Form_Load();
    hide();
    setAttribute(Qt::WA_DontShowOnScreen, false);
    setWindowState(windowState() | Qt::WindowMinimized);
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        show();
}

} // namespace kelvoran::app
