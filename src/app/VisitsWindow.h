#pragma once
// The window that shows the log of visits, newest first, with Copy and Clear.
#include "app/Dialogs.h"
#include "watch/VisitLog.h"

#include <QWidget>

class QPushButton;
class QTableWidget;

namespace kelvoran::app {

class VisitsWindow : public QWidget
{
    Q_OBJECT

public:
    VisitsWindow(watch::VisitLog &log, Dialogs &dialogs, QWidget *parent = nullptr);

    // Controls, also their object names.
    QTableWidget *tblVisits = nullptr; // Came, Left, Kind, Watched as, Name, IP, Server
    QPushButton *cmdCopy = nullptr;
    QPushButton *cmdClear = nullptr;

public slots:
    // Fills the table from the log again, keeping the selected visits selected.
    void refresh();
    // The selected rows, or all rows when none is selected, to the clipboard as tab-separated
    // text, one line a row.
    void cmdCopy_Click();
    // Empties the log when the user says yes.
    void cmdClear_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void logChanged();

    watch::VisitLog &m_log;
    Dialogs &m_dialogs;
    bool m_stale = true; // the log changed while the window was hidden
};

} // namespace kelvoran::app
