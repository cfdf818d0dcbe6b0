#pragma once
// Runs the page download of a poll or of the current players view off the GUI thread, so that
// a silent server never freezes the window.
#include "watch/ServerWatch.h"

#include <QObject>
#include <functional>

class QThread;

namespace kelvoran::watch {

class PageFetchWorker : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const FetchedPage &page)>;

    explicit PageFetchWorker(platform::HttpClient &http, QObject *parent = nullptr);
    // Abandons a download in flight (the client is aborted for good) and waits the moment it
    // takes the worker to notice.
    ~PageFetchWorker() override;

    bool isBusy() const { return m_thread != nullptr; }

    // Starts a download with the fields' login and address, unless one is in flight already
    // (then false). `done` runs on this object's thread once the page is in and scraped.
    bool start(const WatchFields &fields, Done done);

private:
    platform::HttpClient &m_http;
    QThread *m_thread = nullptr;
};

} // namespace kelvoran::watch
