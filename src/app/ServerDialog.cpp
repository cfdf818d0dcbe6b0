#include "app/ServerDialog.h"

#include "settings/ServerStore.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace kelvoran::app {

namespace {

using Kind = watch::ServerConfig::Kind;

const QString kLinkScheme = QStringLiteral("unreal://");
// "unreal://HOST[:PORT]" and whatever the game adds after it: "/", a map, "?options".
const QRegularExpression kLink(QStringLiteral(R"(^\s*unreal://([^/:?#\s]+)(?::(\d+))?([/?#].*)?$)"),
                               QRegularExpression::CaseInsensitiveOption);
const QString kDefaultGamePort = QStringLiteral("7777");

} // namespace

ServerDialog::ServerDialog(const watch::ServerConfig &start, Dialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_dialogs(dialogs), m_id(start.id), m_addressBefore(start.address)
{
    setWindowTitle(QStringLiteral("Kelvoran: Server"));

    auto *kind = new QGroupBox(QStringLiteral("Kind"), this);
    optWebAdmin = new QRadioButton(
        QStringLiteral("Web admin (names and addresses; needs the admin login)"), kind);
    optWebAdmin->setObjectName(QStringLiteral("optWebAdmin"));
    optPublic = new QRadioButton(QStringLiteral("Public (names only, no login)"), kind);
    optPublic->setObjectName(QStringLiteral("optPublic"));
    auto *kinds = new QVBoxLayout(kind);
    kinds->addWidget(optWebAdmin);
    kinds->addWidget(optPublic);

    m_fields = new QFormLayout;
    const auto field = [this](const char *name, const QString &label, const QString &text) {
        auto *edit = new QLineEdit(text, this);
        edit->setObjectName(QLatin1String(name));
        auto *caption = new QLabel(label, this);
        caption->setBuddy(edit); // a screen reader names the field by its label
        m_fields->addRow(caption, edit);
        return edit;
    };
    txtName = field("txtName", QStringLiteral("Name"), start.name);
    txtName->setPlaceholderText(QStringLiteral("address:port"));
    txtName->setToolTip(QStringLiteral("Shown in the tray and in notifications"));
    txtAddress = field("txtAddress", QStringLiteral("Address"), start.address);
    txtAddress->setToolTip(QStringLiteral("A host name or an IP address; an unreal:// link is "
                                          "split into address and port"));
    txtPort = field("txtPort", QStringLiteral("Port"), start.port);
    txtAdminName = field("txtAdminName", QStringLiteral("Admin Name"), start.adminName);
    txtPassword = field("txtPassword", QStringLiteral("Password"), start.password);
    txtPassword->setEchoMode(QLineEdit::Password);
    txtPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42")); // "*"
    txtQueryPort = field("txtQueryPort", QStringLiteral("Query port"), start.queryPort);
    txtQueryPort->setPlaceholderText(QStringLiteral("game port + 1"));

    lblPublicNote = new QLabel(QStringLiteral("A public server sends the players' names only: "
                                              "entries watched by IP address never match there."),
                               this);
    lblPublicNote->setObjectName(QStringLiteral("lblPublicNote"));
    lblPublicNote->setWordWrap(true);

    auto *buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Horizontal, this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(kind);
    layout->addLayout(m_fields);
    layout->addWidget(lblPublicNote);
    layout->addStretch();
    layout->addWidget(buttons);

    (start.kind == Kind::Public ? optPublic : optWebAdmin)->setChecked(true);
    kindChanged();

    connect(optPublic, &QRadioButton::toggled, this, &ServerDialog::kindChanged);
    // A link pasted whole is split at once; one typed out is split when the field is left, so
    // that typing is never cut short.
    connect(txtAddress, &QLineEdit::textEdited, this, [this](const QString &text) {
        const bool typing = m_addressBefore.startsWith(kLinkScheme, Qt::CaseInsensitive);
        m_addressBefore = text;
        if (!typing)
            splitLink();
    });
    connect(txtAddress, &QLineEdit::editingFinished, this, &ServerDialog::splitLink);
    connect(buttons, &QDialogButtonBox::accepted, this, &ServerDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ServerDialog::reject);
}

std::optional<watch::ServerConfig>
ServerDialog::edit(QWidget *parent, const watch::ServerConfig &start, Dialogs &dialogs)
{
    ServerDialog dialog(start, dialogs, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.config();
}

watch::ServerConfig ServerDialog::config() const
{
    const bool isPublic = optPublic->isChecked();
    return {.id = m_id,
            .kind = isPublic ? Kind::Public : Kind::WebAdmin,
            .name = txtName->text().trimmed(),
            .address = txtAddress->text().trimmed(),
            .port = txtPort->text().trimmed(),
            .adminName = isPublic ? QString() : txtAdminName->text(),
            .password = isPublic ? QString() : txtPassword->text(),
            .queryPort = isPublic ? txtQueryPort->text().trimmed() : QString()};
}

void ServerDialog::accept()
{
    splitLink();
    const QString problem = settings::serverFieldsProblem(config());
    if (!problem.isEmpty()) {
        m_dialogs.message(this, problem);
        return;
    }
    QDialog::accept();
}

void ServerDialog::kindChanged()
{
    const bool isPublic = optPublic->isChecked();
    m_fields->setRowVisible(txtAdminName, !isPublic);
    m_fields->setRowVisible(txtPassword, !isPublic);
    m_fields->setRowVisible(txtQueryPort, isPublic);
    lblPublicNote->setVisible(isPublic);
    if (isPublic && txtPort->text().trimmed().isEmpty())
        txtPort->setText(kDefaultGamePort);
}

void ServerDialog::splitLink()
{
    const QRegularExpressionMatch link = kLink.match(txtAddress->text());
    if (!link.hasMatch())
        return;
    txtAddress->setText(link.captured(1));
    m_addressBefore = txtAddress->text();
    if (link.hasCaptured(2))
        txtPort->setText(link.captured(2));
}

} // namespace kelvoran::app
