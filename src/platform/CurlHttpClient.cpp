#include "platform/HttpClient.h"

#include "platform/Log.h"
#include "platform/Windows1252.h"

#include <QUrl>

#include <algorithm>
#include <curl/curl.h>
#include <memory>

namespace kelvoran::platform {

namespace {

// libcurl's global set-up must run once before the first handle is made; a function-local
// static makes that safe when the first two fetches start on different threads.
bool ensureCurlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
};

struct SlistDeleter
{
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

struct Transfer
{
    const HttpClient::ChunkSink *sink = nullptr;
    qsizetype delivered = 0;
    bool capped = false;
    bool sinkFailed = false;
};

// Hands the body on in pieces of at most kChunkSize bytes and stops the transfer at the page cap:
// what fits under the cap is still handed on, then the short count makes libcurl stop reading.
size_t onBody(char *data, size_t size, size_t count, void *userData)
{
    auto *transfer = static_cast<Transfer *>(userData);
    const size_t incoming = size * count;
    const auto room = static_cast<size_t>(CurlHttpClient::kPageCap - transfer->delivered);
    const size_t taken = std::min(incoming, room);
    try {
        for (size_t offset = 0; offset < taken; offset += CurlHttpClient::kChunkSize) {
            const size_t piece = std::min<size_t>(CurlHttpClient::kChunkSize, taken - offset);
            (*transfer->sink)(QByteArrayView(data + offset, static_cast<qsizetype>(piece)));
            transfer->delivered += static_cast<qsizetype>(piece);
        }
    } catch (...) {
        // Nothing may unwind through libcurl's C frames; end the transfer here instead.
        transfer->sinkFailed = true;
        return 0;
    }
    if (taken < incoming) {
        transfer->capped = true;
        return 0;
    }
    return incoming;
}

// The URL for messages, without any user information that the address field may carry.
QString urlForLog(const QString &url)
{
    const QUrl parsed(url);
    if (!parsed.isValid())
        return QStringLiteral("(malformed URL)");
    return parsed.toDisplayString(QUrl::RemoveUserInfo);
}

} // namespace

CurlHttpClient::CurlHttpClient()
{
    ensureCurlReady();
}

CurlHttpClient::~CurlHttpClient() = default;

bool CurlHttpClient::get(const QString &url, const QString &user, const QString &password,
                         const ChunkSink &onChunk)
{
    if (!ensureCurlReady()) {
        qCWarning(lcKelvoran) << "page fetch: libcurl could not be initialised";
        return false;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) {
        qCWarning(lcKelvoran) << "page fetch: no libcurl handle";
        return false;
    }
    CURL *h = easy.get();

    const QByteArray urlBytes = url.toUtf8();
    // The server reads its page and its login as Windows-1252 text.
    const QByteArray userBytes = toWindows1252(user);
    const QByteArray passwordBytes = toWindows1252(password);

    curl_slist *rawHeaders = curl_slist_append(nullptr, "Cache-Control: no-cache");
    rawHeaders = rawHeaders ? curl_slist_append(rawHeaders, "Pragma: no-cache") : nullptr;
    std::unique_ptr<curl_slist, SlistDeleter> headers(rawHeaders);

    Transfer transfer;
    transfer.sink = &onChunk;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_URL, urlBytes.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
#else
    curl_easy_setopt(h, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP));
#endif
    curl_easy_setopt(h, CURLOPT_USERAGENT, "VB OpenUrl");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, long(kChunkSize));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    // The login travels in the Authorization header, never in the URL, so no character of the
    // password can move the request elsewhere. With both fields empty no login is presented.
    if (!user.isEmpty() || !password.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(h, CURLOPT_USERNAME, userBytes.constData());
        curl_easy_setopt(h, CURLOPT_PASSWORD, passwordBytes.constData());
    }

    const CURLcode result = curl_easy_perform(h);

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    const bool answered = status != 0 || transfer.delivered > 0;

    if (transfer.capped) {
        qCWarning(lcKelvoran).noquote() << "page fetch from" << urlForLog(url)
                                        << "stopped at the size limit of" << kPageCap << "bytes";
        return true;
    }
    if (result == CURLE_OK)
        return true;

    const QString detail = errorText[0] ? QString::fromLocal8Bit(errorText)
                                        : QString::fromLatin1(curl_easy_strerror(result));
    if (transfer.sinkFailed) {
        qCWarning(lcKelvoran).noquote()
            << "page fetch from" << urlForLog(url) << "ended: the page could not be stored";
    } else if (answered) {
        qCWarning(lcKelvoran).noquote() << "page fetch from" << urlForLog(url) << "broke off after"
                                        << transfer.delivered << "bytes:" << detail;
    } else {
        qCWarning(lcKelvoran).noquote()
            << "page fetch from" << urlForLog(url) << "failed:" << detail;
    }
    return answered;
}

} // namespace kelvoran::platform
