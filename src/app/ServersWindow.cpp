#include "app/ServersWindow.h"

#include "app/ServerDialog.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

namespace kelvoran::app {

namespace {

enum Column { Name, Address, Kind, Map, LastPoll, Columns };

const QString kFirstIsMain = QStringLiteral("The first server is set in the main window.");

QStringList cells(const watch::Watcher &w)
{
    const watch::ServerConfig &server = w.server();
    const bool isPublic = server.kind == watch::ServerConfig::Kind::Public;
    QString address = server.hostPort();
    if (isPublic && !server.queryPort.isEmpty())
        address += QStringLiteral(" (query %1)").arg(server.queryPort);
    return {w.name(), address, isPublic ? QStringLiteral("public") : QStringLiteral("web admin"),
            w.mapName(), w.summary()};
}

} // namespace

ServersWindow::ServersWindow(watch::WatchGroup &group, Module1 &registry, Dialogs &dialogs,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), m_group(group), m_registry(registry), m_dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("Kelvoran: Servers"));
    editServer = [this](const watch::ServerConfig &start) {
        return ServerDialog::edit(this, start, m_dialogs);
    };
    tblServers = new QTableWidget(0, Columns, this);
    tblServers->setObjectName(QStringLiteral("tblServers"));
    tblServers->setHorizontalHeaderLabels({QStringLiteral("Name"), QStringLiteral("Address"),
                                           QStringLiteral("Kind"), QStringLiteral("Map"),
                                           QStringLiteral("Last poll")});
    tblServers->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblServers->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblServers->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblServers->setWordWrap(false);
    tblServers->verticalHeader()->hide();
    tblServers->horizontalHeader()->setStretchLastSection(true);
    cmdAdd = new QPushButton(QStringLiteral("Add..."), this);
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdEdit = new QPushButton(QStringLiteral("Edit..."), this);
    cmdEdit->setObjectName(QStringLiteral("cmdEdit"));
    cmdRemove = new QPushButton(QStringLiteral("Remove"), this);
    cmdRemove->setObjectName(QStringLiteral("cmdRemove"));
    for (QPushButton *button : {cmdEdit, cmdRemove})
        button->setToolTip(kFirstIsMain + QStringLiteral(" Select another server."));
    lblFirst = new QLabel(kFirstIsMain, this);
    lblFirst->setObjectName(QStringLiteral("lblFirst"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(lblFirst);
    buttons->addStretch();
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdEdit);
    buttons->addWidget(cmdRemove);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tblServers);
    layout->addLayout(buttons);
    resize(640, 260);

    connect(cmdAdd, &QPushButton::clicked, this, &ServersWindow::cmdAdd_Click);
    connect(cmdEdit, &QPushButton::clicked, this, &ServersWindow::cmdEdit_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &ServersWindow::cmdRemove_Click);
    connect(tblServers, &QTableWidget::cellDoubleClicked, this, &ServersWindow::cmdEdit_Click);
    connect(tblServers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ServersWindow::updateButtons);
    connect(&m_group, &watch::WatchGroup::changed, this, &ServersWindow::groupChanged);
    connect(&m_group, &watch::WatchGroup::serversChanged, this, &ServersWindow::groupChanged);
    updateButtons();
}

void ServersWindow::groupChanged()
{
    if (isVisible())
        refresh();
    else
        m_stale = true;
}

void ServersWindow::showEvent(QShowEvent *event)
{
    if (m_stale)
        refresh();
    QWidget::showEvent(event);
}

void ServersWindow::refresh()
{
    m_stale = false;
    const QList<watch::Watcher *> &watchers = m_group.watchers();
    QStringList ids, shown;
    for (const watch::Watcher *w : watchers)
        ids << w->server().id;
    for (int row = 0; row < tblServers->rowCount(); ++row)
        shown << tblServers->item(row, Name)->data(Qt::UserRole).toString();
    const QStringList selected = selectedIds();
    // The cells' texts are set in place: a poll's news leaves the current cell and the
    // selection as they are.
    tblServers->setRowCount(int(ids.size()));
    for (int row = 0; row < ids.size(); ++row) {
        const QStringList texts = cells(*watchers[row]);
        for (int column = 0; column < Columns; ++column) {
            QTableWidgetItem *item = tblServers->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                tblServers->setItem(row, column, item);
            }
            item->setText(texts[column]);
            item->setData(Qt::UserRole, ids[row]);
            item->setToolTip(row == 0 ? kFirstIsMain : QString());
        }
    }
    if (ids != shown) { // servers came or went: the same servers stay selected
        tblServers->clearSelection();
        for (int row = 0; row < ids.size(); ++row) {
            if (selected.contains(ids[row]))
                tblServers->selectionModel()->select(tblServers->model()->index(row, Name),
                                                     QItemSelectionModel::Select |
                                                         QItemSelectionModel::Rows);
        }
        tblServers->resizeColumnsToContents();
    }
    updateButtons();
}

QStringList ServersWindow::selectedIds() const
{
    QList<int> rows;
    for (const QModelIndex &index : tblServers->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    QStringList ids;
    for (int row : std::as_const(rows))
        ids << tblServers->item(row, Name)->data(Qt::UserRole).toString();
    return ids;
}

void ServersWindow::updateButtons()
{
    QStringList others = selectedIds();
    others.removeAll(QString());
    cmdEdit->setEnabled(others.size() == 1 && selectedIds().size() == 1);
    cmdRemove->setEnabled(!others.isEmpty());
}

void ServersWindow::saveFailed()
{
    refresh(); // what the group holds: the server as it was
    m_dialogs.message(
        this, QStringLiteral("Could not keep the server in Kelvoran's own settings file.\n\n") +
                  m_registry.writeFailure());
}

void ServersWindow::cmdAdd_Click()
{
    const std::optional<watch::ServerConfig> added = editServer(watch::ServerConfig{});
    if (added && !m_group.saveServer(*added))
        saveFailed();
}

void ServersWindow::cmdEdit_Click()
{
    const QStringList ids = selectedIds();
    if (ids == QStringList{QString()}) {
        m_dialogs.message(this, kFirstIsMain);
        return;
    }
    const watch::Watcher *w = ids.size() == 1 ? m_group.watcher(ids.first()) : nullptr;
    if (!w)
        return;
    const std::optional<watch::ServerConfig> edited = editServer(w->server());
    if (edited && !m_group.saveServer(*edited))
        saveFailed();
}

void ServersWindow::cmdRemove_Click()
{
    QStringList ids = selectedIds();
    if (ids == QStringList{QString()}) {
        m_dialogs.message(this, kFirstIsMain + QStringLiteral(" It cannot be removed here."));
        return;
    }
    ids.removeAll(QString());
    if (ids.isEmpty())
        return;
    const watch::Watcher *one = ids.size() == 1 ? m_group.watcher(ids.first()) : nullptr;
    if (!m_dialogs.question(this, one ? QStringLiteral("Remove the server %1?").arg(one->name())
                                      : QStringLiteral("Remove the selected servers?")))
        return;
    for (const QString &id : std::as_const(ids)) {
        if (!m_group.removeServer(id)) {
            saveFailed();
            return;
        }
    }
}

} // namespace kelvoran::app
