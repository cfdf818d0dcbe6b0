#include "app/frmMain.h"

#include "app/Artwork.h"
#include "app/ServersWindow.h"
#include "settings/PanelState.h"
#include "settings/ServerIni.h"
#include "settings/SettingsStore.h"
#include "watch/PollJob.h"
#include "watchlist/WatchList.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>

namespace kelvoran::app {

using namespace kelvoran::settings;

namespace {

const QString kTitle = QStringLiteral("Kelvoran");
const QString kNoPlayers = QStringLiteral("No players on-line.");
const QString kEnterAllFields = QStringLiteral("Please enter all fields!");

// How often a window minimised for want of a tray looks for one; tests shorten it through
// KELVORAN_TRAY_LOOKOUT_MS.
int trayLookoutMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("KELVORAN_TRAY_LOOKOUT_MS", &ok);
    return ok && ms > 0 ? ms : 2000;
}

} // namespace

frmMain::frmMain(Module1 &registry, watch::WatchGroup &group, watch::Announcer &announcer,
                 watch::VisitLog &visits, platform::SoundPlayer &sound,
                 platform::Notifier &notifier, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent), m_registry(registry), m_group(group), m_announcer(announcer),
      m_dialogs(dialogs), m_sound(sound), m_notifier(notifier)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    setWindowIcon(kelvoranIcon());
    buildControls();

    m_tray = new TrayIcon(registry, group, announcer, visits, notifier, dialogs, this);
    connect(m_tray->mPopRestore, &QAction::triggered, this, &frmMain::mPopRestore_Click);
    connect(m_tray->mPopExit, &QAction::triggered, this, &frmMain::mPopExit_Click);
    connect(m_tray->trayRecord, &QSystemTrayIcon::activated, this, &frmMain::Form_MouseMove);
    connect(m_tray, &TrayIcon::serversRequested, this, &frmMain::cmdServers_Click);

    m_trayLookout = new QTimer(this);
    m_trayLookout->setInterval(trayLookoutMs());
    connect(m_trayLookout, &QTimer::timeout, this, &frmMain::moveIntoTrayOnceThere);
}

frmMain::~frmMain() = default;

// ---- start-up, window state, tray -------------------------------------------------------------

void frmMain::Form_Load()
{
    show();
    repaint();

    m_tray->show();

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
    return m_group.watching() ? m_group.first().interval() : 0;
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
    if (QSystemTrayIcon::isSystemTrayAvailable() && m_tray->trayRecord->isVisible()) {
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
    m_group.start();
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

void frmMain::say(const QString &text)
{
    app::say(this, m_dialogs, m_notifier, text);
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

void frmMain::cmdServers_Click()
{
    if (!m_serversWindow)
        m_serversWindow = new ServersWindow(m_group, m_registry, m_dialogs, this);
    m_serversWindow->setWindowFlag(Qt::Window);
    m_serversWindow->show();
    m_serversWindow->raise();
    m_serversWindow->activateWindow();
}

void frmMain::mPopRestore_Click()
{
    restoreWindow();
    m_group.stop();
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
    m_tray->hide();
    m_group.stop();
    QCoreApplication::quit();
}

// ---- settings panel ----------------------------------------------------------------------------

QStringList frmMain::sevenFields() const
{
    return {txtINIfile->text(),  txtIPAddress->text(), txtPortNumber->text(), txtAdminName->text(),
            txtPassword->text(), txtEnemyWav->text(),  txtFriendWav->text()};
}

watch::ServerConfig frmMain::firstServer() const
{
    return {.address = txtIPAddress->text(),
            .port = txtPortNumber->text(),
            .adminName = txtAdminName->text(),
            .password = txtPassword->text()};
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
    if (m_showJob)
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
    if (m_showJob)
        return;
    m_showJob = new watch::PollJob(
        m_group.sources()(firstServer()),
        [this](const watch::FetchedPage &page) {
            m_showJob = nullptr;
            showCurrentPlayers(page.table);
        },
        this);
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
        m_group.first().cycle().resetToYES();
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
