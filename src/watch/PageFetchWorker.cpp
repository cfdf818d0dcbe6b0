#include "watch/PageFetchWorker.h"

#include <QThread>

namespace kelvoran::watch {

PageFetchWorker::PageFetchWorker(platform::HttpClient &http, QObject *parent)
    : QObject(parent), m_http(http)
{
}

PageFetchWorker::~PageFetchWorker()
{
    if (!m_thread)
        return;
    m_http.abort();
    m_thread->wait();
    delete m_thread;
}

bool PageFetchWorker::start(const WatchFields &fields, Done done)
{
    if (m_thread)
        return false;
    m_thread = QThread::create([this, fields, done = std::move(done)] {
        const FetchedPage page = fetchCurrentPlayers(m_http, fields);
        // Back on this object's thread; dropped if the object is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this, page, done] {
                m_thread->wait();
                delete m_thread;
                m_thread = nullptr;
                done(page);
            },
            Qt::QueuedConnection);
    });
    m_thread->start();
    return true;
}

} // namespace kelvoran::watch
