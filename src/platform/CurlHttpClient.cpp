#include "platform/HttpClient.h"

#include "platform/Log.h"
#include "platform/Windows1252.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace kelvoran::platform {

namespace {

// libcurl's global set-up must come once before the first handle is made; the function-local
// static makes that safe when the first two fetches start on different threads.
bool curlReady()
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

// Why a transfer that libcurl ended with an error stopped short.
FetchResult::Failure failureOf(CURLcode result, bool opened)
{
    switch (result) {
    case CURLE_COULDNT_CONNECT:
        return FetchResult::Failure::Refused;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchResult::Failure::HostNotFound;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchResult::Failure::TimedOut;
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_WRITE_ERROR:
        return FetchResult::Failure::BrokeOff;
    default:
        return opened ? FetchResult::Failure::BrokeOff : FetchResult::Failure::Other;
    }
}

} // namespace

struct CurlHttpClient::Shared
{
    std::mutex mutex;
    std::vector<CURLM *> running; // the transfers in progress, for abort()
    bool aborted = false;
};

CurlHttpClient::CurlHttpClient(Timeouts timeouts)
    : m_timeouts(timeouts), m_shared(std::make_unique<Shared>())
{
}

CurlHttpClient::~CurlHttpClient() = default;

void CurlHttpClient::abort()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->aborted = true;
    for (CURLM *multi : m_shared->running)
        curl_multi_wakeup(multi);
}

FetchResult CurlHttpClient::get(const QString &url, const QString &user, const QString &password,
                                const ChunkSink &onChunk)
{
    FetchResult outcome;
    outcome.failure = FetchResult::Failure::Other;
    if (!curlReady()) {
        qCWarning(lcKelvoran) << "page fetch: libcurl's set-up failed";
        return outcome;
    }
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, decltype(&curl_multi_cleanup)> multi(curl_multi_init(),
                                                                &curl_multi_cleanup);
    if (!easy || !multi) {
        qCWarning(lcKelvoran) << "page fetch: no libcurl handle";
        return outcome;
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
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "VB OpenUrl");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A host-name lookup that gets no answer is left to end on its own: without this, ending the
    // transfer (abort() at Exit) waits for the lookup's thread, 10 to 30 s.
    curl_easy_setopt(h, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, m_timeouts.connectMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, m_timeouts.transferMs);
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

    // The multi interface waits in curl_multi_poll(), which abort() can wake from another thread.
    {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->aborted) {
            outcome.failure = FetchResult::Failure::Aborted;
            return outcome;
        }
        m_shared->running.push_back(multi.get());
    }
    curl_multi_add_handle(multi.get(), h);
    CURLcode result = CURLE_OK;
    bool aborted = false;
    for (int active = 1; active > 0;) {
        if (curl_multi_perform(multi.get(), &active) != CURLM_OK) {
            result = CURLE_RECV_ERROR;
            break;
        }
        {
            std::lock_guard lock(m_shared->mutex);
            aborted = m_shared->aborted;
        }
        if (aborted ||
            (active > 0 && curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr) != CURLM_OK))
            break;
    }
    int queued = 0;
    while (CURLMsg *msg = curl_multi_info_read(multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE)
            result = msg->data.result;
    }
    curl_multi_remove_handle(multi.get(), h);
    {
        std::lock_guard lock(m_shared->mutex);
        std::erase(m_shared->running, multi.get());
    }

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    outcome.httpStatus = status;
    outcome.opened = status != 0 || transfer.delivered > 0;

    if (aborted) {
        qCInfo(lcKelvoran).noquote() << "page fetch from" << urlForLog(url) << "abandoned";
        outcome.failure = FetchResult::Failure::Aborted;
        return outcome;
    }
    if (transfer.capped) {
        qCWarning(lcKelvoran).noquote() << "page fetch from" << urlForLog(url)
                                        << "stopped at the size limit of" << kPageCap << "bytes";
        outcome.failure = FetchResult::Failure::None;
        return outcome;
    }
    if (result == CURLE_OK) {
        outcome.failure = FetchResult::Failure::None;
        return outcome;
    }

    outcome.detail = errorText[0] ? QString::fromLocal8Bit(errorText)
                                  : QString::fromLatin1(curl_easy_strerror(result));
    outcome.failure = failureOf(result, outcome.opened);
    if (transfer.sinkFailed) {
        qCWarning(lcKelvoran).noquote()
            << "page fetch from" << urlForLog(url) << "ended: the page could not be stored";
    } else if (outcome.opened) {
        qCWarning(lcKelvoran).noquote() << "page fetch from" << urlForLog(url) << "broke off after"
                                        << transfer.delivered << "bytes:" << outcome.detail;
    } else {
        qCWarning(lcKelvoran).noquote()
            << "page fetch from" << urlForLog(url) << "failed:" << outcome.detail;
    }
    return outcome;
}

} // namespace kelvoran::platform
