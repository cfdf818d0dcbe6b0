#include "watch/PollJob.h"

#include <QThread>

namespace kelvoran::watch {

PollJob::PollJob(std::unique_ptr<PlayerSource> source, Done done, QObject *parent)
    : QObject(parent), m_source(std::move(source)), m_done(std::move(done))
{
    m_thread = QThread::create([this] {
        const FetchedPage page = m_source->read();
        // Back on this object's thread; dropped if the object is gone by then.
        QMetaObject::invokeMethod(
            this, [this, page] { finished(page); }, Qt::QueuedConnection);
    });
    m_thread->start();
}

PollJob::~PollJob()
{
    m_source->abort();
    m_thread->wait();
    delete m_thread;
}

void PollJob::drop()
{
    m_done = nullptr;
    m_source->abort();
}

void PollJob::finished(const FetchedPage &page)
{
    m_thread->wait();
    deleteLater();
    if (const Done done = std::exchange(m_done, nullptr))
        done(page);
}

} // namespace kelvoran::watch
