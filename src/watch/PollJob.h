#pragma once
// Runs one reading of a player source on a thread of its own, so that a silent server never
// holds up the window, and hands the result back on the owner's thread.
#include "watch/PlayerSource.h"

#include <QObject>

#include <functional>
#include <memory>

class QThread;

namespace kelvoran::watch {

class PollJob : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const FetchedPage &page)>;

    // Starts at once. `done` runs on this object's thread once the reading is in; the job then
    // deletes itself.
    PollJob(std::unique_ptr<PlayerSource> source, Done done, QObject *parent);
    // Aborts a reading in progress and waits the moment its thread takes to notice.
    ~PollJob() override;

    // Aborts the reading; `done` is never called. The job deletes itself once its thread is done.
    void drop();

private:
    void finished(const FetchedPage &page);

    std::unique_ptr<PlayerSource> m_source;
    Done m_done;
    QThread *m_thread = nullptr;
};

} // namespace kelvoran::watch
