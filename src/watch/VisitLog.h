#pragma once
// The log of the visits of watched players, kept in the store beside the settings: a visit begins
// with its announcement and ends at the first poll that no longer sees the player, or when
// watching stops or the server cannot be read.
#include "platform/RegistryStore.h"
#include "watch/PollReport.h"

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace kelvoran::watch {

using platform::VisitRow;

class VisitLog : public QObject
{
    Q_OBJECT

public:
    explicit VisitLog(platform::RegistryStore &store, QObject *parent = nullptr);

    // One poll's outcome, once its announcements are made: each announcement begins a visit
    // (unless that entry's visit still runs); a running visit ends when its entry is no longer
    // matched by anyone on line, or with "server not read" when the page held no player table.
    void record(const PollReport &report);
    // Ends every running visit with "polling stopped".
    void pollingStopped(const QDateTime &when);

    // The stored log, newest first.
    QList<VisitRow> visits() const;
    // Empties the stored log; false when it could not.
    bool clear();
    // Whether the stored visit `id` is one this run follows. A visit left open by a run that was
    // killed never ends: nobody saw him leave.
    bool isRunning(qint64 id) const;
    // The visit that ended last in this run, even when the store could not keep it.
    std::optional<VisitRow> lastEnded() const { return m_lastEnded; }
    // Why the first store write that failed did so, in the words of the store's problem()
    // ("may not be written (...)"); given once, "" afterwards and while none failed.
    QString takeWriteFailure();

signals:
    void changed();

private:
    void end(qsizetype index, const QDateTime &when, const QString &note);
    void wrote(bool ok);

    struct Running
    {
        QString subkey;
        VisitRow row; // id 0: the store did not take it
    };
    platform::RegistryStore &m_store;
    QList<Running> m_running; // in the order they began
    std::optional<VisitRow> m_lastEnded;
    QString m_failure;
    bool m_failureSaid = false;
};

} // namespace kelvoran::watch
