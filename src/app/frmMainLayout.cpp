// The main window's form: its controls laid out as the program always had them, their captions,
// tab order and the wiring of their events to the handlers.
#include "app/Artwork.h"
#include "app/frmMain.h"
#include "settings/PanelState.h"

#include <QFile>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace kelvoran::app {

using namespace kelvoran::settings;

namespace {

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

} // namespace

void frmMain::buildControls()
{
    setFont(windowFont());
    setFixedSize(px(7035), px(6090));

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

    // Beside the Save button (made last, so it is last in the focus chain too), where it moves none of the panel's controls.
    cmdServers = place<QPushButton>(fraAdmin, "cmdServers", 5400, 240, 1455, 375);
    cmdServers->setText(QStringLiteral("Servers..."));
    cmdServers->setToolTip(QStringLiteral("Watch other servers too"));

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
                                    lstAdd,         cmdSaveSettings, cmdServers};
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
    connect(cmdServers, &QPushButton::clicked, this, &frmMain::cmdServers_Click);
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
    // Each poll and each announcement uses the fields' texts as they are then, saved or not.
    for (QLineEdit *f : {txtAdminName, txtPassword, txtIPAddress, txtPortNumber})
        connect(f, &QLineEdit::textChanged, this,
                [this] { m_group.setFirstServer(firstServer()); });
    for (QLineEdit *f : {txtFriendWav, txtEnemyWav})
        connect(f, &QLineEdit::textChanged, this,
                [this] { m_announcer.setSounds(txtFriendWav->text(), txtEnemyWav->text()); });
    for (QWidget *w : {static_cast<QWidget *>(txtAdminName), static_cast<QWidget *>(txtEnemyWav),
                       static_cast<QWidget *>(txtFriendWav), static_cast<QWidget *>(txtINIfile),
                       static_cast<QWidget *>(txtIPAddress), static_cast<QWidget *>(txtPassword),
                       static_cast<QWidget *>(txtPortNumber), static_cast<QWidget *>(Command1),
                       static_cast<QWidget *>(lstAdd)})
        w->installEventFilter(this);
}

} // namespace kelvoran::app
