#pragma once
// The log of the visits of watched players to every watched server, kept in the store beside the
// settings: a visit begins with its announcement (or, for a player already on line when watching
// began, at the first reading of the server) and ends at the first poll that no longer sees the
// player, or when watching stops or the server cannot be read.
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

    // One poll of the server `serverId` (named `server` in the log), once its announcements are
    // made: each announcement begins a visit (unless that entry's visit still runs); a running
    // visit ends when its entry is no longer matched by anyone on line, as left when the server
    // was read in full, else with "server not read".
    void record(const QString &serverId, const QString &server, const PollReport &report);
    // Ends every running visit to that server with "polling stopped".
    void pollingStopped(const QString &serverId, const QDateTime &when);

    // The stored log, newest first.
    QList<VisitRow> visits() const;
    // Empties the stored log but for the visits that still run; false when it could not.
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

    void begin(const QString &serverId, const QString &subkey, const VisitRow &row);
    bool runs(const QString &serverId, const QString &subkey) const;

    struct Running
    {
        QString serverId;
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
