#include "app/VisitsWindow.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace kelvoran::app {

namespace {

enum Column { Came, Left, Kind, WatchedAs, Name, Ip, Server, Columns };

// The texts of one visit's cells. An end on the day the visit began shows its time only.
QStringList cells(const watch::VisitRow &v, bool running)
{
    const QLocale locale;
    QString left =
        running ? QStringLiteral("on line") : QStringLiteral("unknown (Kelvoran stopped)");
    if (v.left.isValid()) {
        left = v.left.date() == v.came.date() ? locale.toString(v.left.time(), QLocale::ShortFormat)
                                              : locale.toString(v.left, QLocale::ShortFormat);
        if (!v.endNote.isEmpty())
            left += QStringLiteral(" (%1)").arg(v.endNote);
    }
    QString kind = v.isFriend ? QStringLiteral("friend") : QStringLiteral("foe");
    if (v.muted)
        kind += QStringLiteral(" (muted)");
    QString came = locale.toString(v.came, QLocale::ShortFormat);
    if (!v.cameNote.isEmpty())
        came += QStringLiteral(" (%1)").arg(v.cameNote);
    return {came, left, kind, v.watchedAs, v.name, v.ip, v.server};
}

} // namespace

VisitsWindow::VisitsWindow(watch::VisitLog &log, Dialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_log(log), m_dialogs(dialogs)
{
    setWindowTitle(QStringLiteral("Kelvoran: Visits"));
    tblVisits = new QTableWidget(0, Columns, this);
    tblVisits->setObjectName(QStringLiteral("tblVisits"));
    tblVisits->setHorizontalHeaderLabels({QStringLiteral("Came"), QStringLiteral("Left"),
                                          QStringLiteral("Kind"), QStringLiteral("Watched as"),
                                          QStringLiteral("Name"), QStringLiteral("IP"),
                                          QStringLiteral("Server")});
    tblVisits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblVisits->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblVisits->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblVisits->setWordWrap(false);
    tblVisits->verticalHeader()->hide();
    tblVisits->horizontalHeader()->setStretchLastSection(true);
    // Column widths from the first rows only: measuring all 1,000 would keep the window busy.
    tblVisits->horizontalHeader()->setResizeContentsPrecision(50);
    cmdCopy = new QPushButton(QStringLiteral("Copy"), this);
    cmdCopy->setObjectName(QStringLiteral("cmdCopy"));
    cmdClear = new QPushButton(QStringLiteral("Clear"), this);
    cmdClear->setObjectName(QStringLiteral("cmdClear"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdCopy);
    buttons->addWidget(cmdClear);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(tblVisits);
    layout->addLayout(buttons);
    resize(720, 400);

    connect(cmdCopy, &QPushButton::clicked, this, &VisitsWindow::cmdCopy_Click);
    connect(cmdClear, &QPushButton::clicked, this, &VisitsWindow::cmdClear_Click);
    connect(&m_log, &watch::VisitLog::changed, this, &VisitsWindow::logChanged);
}

void VisitsWindow::logChanged()
{
    if (isVisible())
        refresh();
    else
        m_stale = true;
}

void VisitsWindow::showEvent(QShowEvent *event)
{
    if (m_stale)
        refresh();
    QWidget::showEvent(event);
}

void VisitsWindow::refresh()
{
    m_stale = false;
    QSet<qint64> selected;
    for (const QModelIndex &index : tblVisits->selectionModel()->selectedRows())
        selected.insert(index.data(Qt::UserRole).toLongLong());
    const QList<watch::VisitRow> visits = m_log.visits();
    tblVisits->setUpdatesEnabled(false);
    tblVisits->clearSelection();
    tblVisits->setRowCount(0); // dropping all items at once is much cheaper than one by one
    tblVisits->setRowCount(int(visits.size()));
    for (int row = 0; row < visits.size(); ++row) {
        const QStringList texts = cells(visits[row], m_log.isRunning(visits[row].id));
        for (int column = 0; column < Columns; ++column)
            tblVisits->setItem(row, column, new QTableWidgetItem(texts[column]));
        tblVisits->item(row, Came)->setData(Qt::UserRole, visits[row].id);
        if (selected.contains(visits[row].id))
            tblVisits->selectionModel()->select(tblVisits->model()->index(row, Came),
                                                QItemSelectionModel::Select |
                                                    QItemSelectionModel::Rows);
    }
    tblVisits->resizeColumnsToContents();
    tblVisits->setUpdatesEnabled(true);
}

void VisitsWindow::cmdCopy_Click()
{
    QList<int> rows;
    for (const QModelIndex &index : tblVisits->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    if (rows.isEmpty()) {
        for (int row = 0; row < tblVisits->rowCount(); ++row)
            rows.append(row);
    }
    QString text;
    for (int row : std::as_const(rows)) {
        QStringList line;
        for (int column = 0; column < Columns; ++column)
            line << tblVisits->item(row, column)->text().replace(u'\t', u' ').replace(u'\n', u' ');
        text += line.join(u'\t') + u'\n';
    }
    QGuiApplication::clipboard()->setText(text);
}

void VisitsWindow::cmdClear_Click()
{
    if (!m_dialogs.question(this, QStringLiteral("Remove every visit from the log?")) ||
        m_log.clear())
        return;
    // The table still shows what the store keeps; say why.
    const QString why = m_log.takeWriteFailure();
    m_dialogs.message(this, QStringLiteral("Could not clear the log of visits: the file %1.")
                                .arg(why.isEmpty() ? QStringLiteral("could not be written") : why));
}

} // namespace kelvoran::app
