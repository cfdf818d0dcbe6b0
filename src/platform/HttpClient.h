#pragma once
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

namespace kelvoran::platform {

// How one download ended: whether the server answered, its status, and why the transfer stopped
// short when it did. Taken from the transfer itself, never from the page.
struct FetchResult
{
    enum class Failure {
        None,         // the body came to its end (or to the page cap)
        Refused,      // the connection was refused
        HostNotFound, // the host name could not be resolved
        TimedOut,     // no answer, or no end of the page, within the time limit
        BrokeOff,     // the transfer broke off part way
        Aborted,      // abort() ended it
        Other,        // anything else the transfer reports (a malformed URL, say)
    };
    Failure failure = Failure::None;
    long httpStatus = 0; // the answer's status; 0 when none came
    bool opened = false; // the server answered: a status came or some of the body was handed over
    QString detail;      // the transport's own words, for the log
};

// One blocking HTTP GET. The credentials travel apart from the URL (Basic authentication), so a
// password holding "@", ":", "/" or "#" cannot change where the request goes.
class HttpClient
{
public:
    using ChunkSink = std::function<void(QByteArrayView chunk)>;

    virtual ~HttpClient() = default;

    // Fetches `url` and hands the body to `onChunk` in pieces of at most 2048 bytes, in order.
    // `opened` is false when the URL could not be opened at all (nothing was handed over then). A
    // transfer that breaks off part way has handed over what arrived, is `opened`, and says why
    // it stopped in `failure`.
    virtual FetchResult get(const QString &url, const QString &user, const QString &password,
                     const ChunkSink &onChunk) = 0;

    // Ends the transfer in progress at once, from any thread, and every later one before it
    // starts: for shutting down while a download may be waiting on a silent server.
    virtual void abort() = 0;
};

// The real client, on libcurl: agent "VB OpenUrl", no cache, no redirects, bounded waits, pages
// capped at 4 MiB.
class CurlHttpClient final : public HttpClient
{
public:
    struct Timeouts
    {
        long connectMs;
        long transferMs; // the whole transfer: a server that accepts and never answers
    };
    static constexpr Timeouts kDefaultTimeouts{5000, 20000};

    explicit CurlHttpClient(Timeouts timeouts = kDefaultTimeouts);
    ~CurlHttpClient() override;
    FetchResult get(const QString &url, const QString &user, const QString &password,
                    const ChunkSink &onChunk) override;
    void abort() override;

    static constexpr int kChunkSize = 2048;
    static constexpr qsizetype kPageCap = 4 * 1024 * 1024;

private:
    struct Shared;
    Timeouts m_timeouts;
    std::unique_ptr<Shared> m_shared;
};

} // namespace kelvoran::platform
