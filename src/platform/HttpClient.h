#pragma once
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

namespace kelvoran::platform {

// One blocking HTTP GET. The credentials travel apart from the URL (Basic authentication), so a
// password holding "@", ":", "/" or "#" cannot change where the request goes.
class HttpClient
{
public:
    using ChunkSink = std::function<void(QByteArrayView chunk)>;

    virtual ~HttpClient() = default;

    // Fetches `url` and hands the body to `onChunk` in pieces of at most 2048 bytes, in order.
    // Returns false when the URL could not be opened at all (nothing was handed over then). A
    // transfer that breaks off part way has handed over what arrived and returns true.
    virtual bool get(const QString &url, const QString &user, const QString &password,
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
    bool get(const QString &url, const QString &user, const QString &password,
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
