#pragma once
// The window that lists the watched servers and how their last polls went, with Add, Edit and
// Remove for the servers beside the first (the first is the main window's).
#include "app/Dialogs.h"
#include "watch/ServerConfig.h"
#include "watch/WatchGroup.h"
#include "watchlist/Module1.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QTableWidget;

namespace kelvoran::app {

class ServersWindow : public QWidget
{
    Q_OBJECT

public:
    // Opens the dialog for a server (a new one has no id): the server on OK, nothing on Cancel.
    using EditServer =
        std::function<std::optional<watch::ServerConfig>(const watch::ServerConfig &)>;

    ServersWindow(watch::WatchGroup &group, Module1 &registry, Dialogs &dialogs,
                  QWidget *parent = nullptr);

    // Controls, also their object names.
    QTableWidget *tblServers = nullptr; // Name, Address, Kind, Map, Last poll
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdEdit = nullptr;
    QPushButton *cmdRemove = nullptr;
    QLabel *lblFirst = nullptr; // the first server is set in the main window

    // The server dialog; ServerDialog::edit over this window unless replaced.
    EditServer editServer;

public slots:
    // Fills the table from the group again, keeping the selected servers selected.
    void refresh();
    // A new server from the dialog, kept and watched.
    void cmdAdd_Click();
    // The selected server (not the first) changed in the dialog, kept and watched as it is now.
    void cmdEdit_Click();
    // The selected servers (not the first) no longer watched nor kept, when the user says yes.
    void cmdRemove_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void groupChanged();
    void updateButtons();
    // The ids of the selected servers, the first's ("") included, in the table's order.
    QStringList selectedIds() const;
    void saveFailed();

    watch::WatchGroup &m_group;
    Module1 &m_registry;
    Dialogs &m_dialogs;
    bool m_stale = true; // the group changed while the window was hidden
};

} // namespace kelvoran::app
