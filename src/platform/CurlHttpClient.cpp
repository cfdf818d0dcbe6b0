#include "platform/HttpClient.h"

#include "platform/Log.h"
#include "platform/RuntimeLibrary.h"
#include "platform/Windows1252.h"

#include <QUrl>

// libcurl is called through pointers looked up at run time; its type-checking macros would wrap
// curl_easy_setopt by name and cannot stand in front of a pointer.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace kelvoran::platform {

namespace {

// The libcurl functions in use, from libcurl.so.4 opened at the first fetch.
struct CurlApi
{
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr; // variadic, as declared
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    QString error; // empty when libcurl is ready for use
};

// Opens libcurl and runs its global set-up, which must come once before the first handle is
// made; the function-local static makes that safe when the first two fetches start on different
// threads.
const CurlApi &curl()
{
    static const CurlApi api = [] {
        CurlApi a;
        RuntimeLibrary library(QStringLiteral("curl"), 4);
        library.resolve("curl_global_init", a.global_init);
        library.resolve("curl_easy_init", a.easy_init);
        library.resolve("curl_easy_setopt", a.easy_setopt);
        library.resolve("curl_easy_perform", a.easy_perform);
        library.resolve("curl_easy_getinfo", a.easy_getinfo);
        library.resolve("curl_easy_strerror", a.easy_strerror);
        library.resolve("curl_easy_cleanup", a.easy_cleanup);
        library.resolve("curl_slist_append", a.slist_append);
        library.resolve("curl_slist_free_all", a.slist_free_all);
        a.error = library.error();
        if (a.error.isEmpty() && a.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            a.error = QStringLiteral("its global set-up failed");
        return a;
    }();
    return api;
}

struct EasyDeleter
{
    void operator()(CURL *handle) const { curl().easy_cleanup(handle); }
};

struct SlistDeleter
{
    void operator()(curl_slist *list) const { curl().slist_free_all(list); }
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

// Nothing of libcurl is touched here: it is opened by the first get().
CurlHttpClient::CurlHttpClient() = default;

CurlHttpClient::~CurlHttpClient() = default;

bool CurlHttpClient::get(const QString &url, const QString &user, const QString &password,
                         const ChunkSink &onChunk)
{
    const CurlApi &api = curl();
    if (!api.error.isEmpty()) {
        qCWarning(lcKelvoran).noquote()
            << "page fetch from" << urlForLog(url) << "failed: libcurl is not usable:" << api.error;
        return false;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(api.easy_init());
    if (!easy) {
        qCWarning(lcKelvoran) << "page fetch: no libcurl handle";
        return false;
    }
    CURL *h = easy.get();

    const QByteArray urlBytes = url.toUtf8();
    // The server reads its page and its login as Windows-1252 text.
    const QByteArray userBytes = toWindows1252(user);
    const QByteArray passwordBytes = toWindows1252(password);

    curl_slist *rawHeaders = api.slist_append(nullptr, "Cache-Control: no-cache");
    rawHeaders = rawHeaders ? api.slist_append(rawHeaders, "Pragma: no-cache") : nullptr;
    std::unique_ptr<curl_slist, SlistDeleter> headers(rawHeaders);

    Transfer transfer;
    transfer.sink = &onChunk;
    char errorText[CURL_ERROR_SIZE] = {};

    api.easy_setopt(h, CURLOPT_URL, urlBytes.constData());
#if LIBCURL_VERSION_NUM >= 0x075500
    api.easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
#else
    api.easy_setopt(h, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP));
#endif
    api.easy_setopt(h, CURLOPT_USERAGENT, "VB OpenUrl");
    api.easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    api.easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    api.easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    api.easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
    api.easy_setopt(h, CURLOPT_TIMEOUT_MS, kTransferTimeoutMs);
    api.easy_setopt(h, CURLOPT_BUFFERSIZE, long(kChunkSize));
    api.easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    api.easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    api.easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    // The login travels in the Authorization header, never in the URL, so no character of the
    // password can move the request elsewhere. With both fields empty no login is presented.
    if (!user.isEmpty() || !password.isEmpty()) {
        api.easy_setopt(h, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        api.easy_setopt(h, CURLOPT_USERNAME, userBytes.constData());
        api.easy_setopt(h, CURLOPT_PASSWORD, passwordBytes.constData());
    }

    const CURLcode result = api.easy_perform(h);

    long status = 0;
    api.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    const bool answered = status != 0 || transfer.delivered > 0;

    if (transfer.capped) {
        qCWarning(lcKelvoran).noquote() << "page fetch from" << urlForLog(url)
                                        << "stopped at the size limit of" << kPageCap << "bytes";
        return true;
    }
    if (result == CURLE_OK)
        return true;

    const QString detail = errorText[0] ? QString::fromLocal8Bit(errorText)
                                        : QString::fromLatin1(api.easy_strerror(result));
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
