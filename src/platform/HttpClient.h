#pragma once
#include <QByteArrayView>
#include <QString>
#include <functional>

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
};

// The real client, on libcurl: agent "VB OpenUrl", no cache, no redirects, connect time-out 5 s,
// whole transfer 20 s, pages capped at 4 MiB.
class CurlHttpClient final : public HttpClient
{
public:
    CurlHttpClient();
    ~CurlHttpClient() override;
    bool get(const QString &url, const QString &user, const QString &password,
             const ChunkSink &onChunk) override;

    static constexpr int kChunkSize = 2048;
    static constexpr qsizetype kPageCap = 4 * 1024 * 1024;
    static constexpr long kConnectTimeoutMs = 5000;
    static constexpr long kTransferTimeoutMs = 20000;
};

} // namespace kelvoran::platform
