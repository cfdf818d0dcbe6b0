#pragma once
// The dialog that edits one watched server beside the first: its kind, name, address, ports and
// the web admin's login.
#include "app/Dialogs.h"
#include "watch/ServerConfig.h"

#include <QDialog>

#include <optional>

class QFormLayout;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace kelvoran::app {

class ServerDialog : public QDialog
{
    Q_OBJECT

public:
    ServerDialog(const watch::ServerConfig &start, Dialogs &dialogs, QWidget *parent = nullptr);

    // Runs the dialog over `parent`: the server as the user left it on OK, nothing on Cancel.
    static std::optional<watch::ServerConfig>
    edit(QWidget *parent, const watch::ServerConfig &start, Dialogs &dialogs);

    // The server as the fields give it now, keeping the id it started with. Only the fields of
    // the chosen kind count: a public server has no login, a web admin no query port.
    watch::ServerConfig config() const;

    // Controls, also their object names.
    QRadioButton *optWebAdmin = nullptr;
    QRadioButton *optPublic = nullptr;
    QLineEdit *txtName = nullptr;
    QLineEdit *txtAddress = nullptr;
    QLineEdit *txtPort = nullptr;
    QLineEdit *txtAdminName = nullptr;
    QLineEdit *txtPassword = nullptr;
    QLineEdit *txtQueryPort = nullptr;
    QLabel *lblPublicNote = nullptr; // names only: entries by IP address never match there

public slots:
    // Closes the dialog when the fields hold a server; else says what is wrong and stays open.
    void accept() override;

private:
    void kindChanged();
    // An "unreal://HOST:PORT/..." link in the Address field becomes its host, and its port goes
    // to the Port field.
    void splitLink();

    Dialogs &m_dialogs;
    QString m_id;
    QString m_addressBefore; // the Address field before the user's latest edit
    QFormLayout *m_fields = nullptr;
};

} // namespace kelvoran::app
