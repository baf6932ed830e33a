#include "app/http_client.h"

#include <curl/curl.h>

#include <QUrl>
#include <mutex>

namespace app {

namespace {

struct TTransfer {
    QByteArray Body;
    bool TooLarge = false;
    std::chrono::milliseconds Stall{0};
    std::chrono::steady_clock::time_point LastByte = std::chrono::steady_clock::now();
    curl_off_t Received = 0;
    const std::function<void()>* WhileWaiting = nullptr;
    std::chrono::steady_clock::time_point LastPump{};
};

size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<TTransfer*>(user);
    const size_t n = size * count;
    if (static_cast<std::size_t>(t->Body.size()) + n > THttpClient::kMaxBody) {
        t->TooLarge = true;
        return 0;  // aborts the transfer
    }
    t->Body.append(data, static_cast<qsizetype>(n));
    return n;
}

// libcurl calls this often while it waits (at least about once a second), also
// while it connects: the stall limit is measured here to the millisecond.
int Progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* t = static_cast<TTransfer*>(user);
    const auto now = std::chrono::steady_clock::now();
    if (received != t->Received) {
        t->Received = received;
        t->LastByte = now;
    }
    if (t->Stall.count() > 0 && now - t->LastByte >= t->Stall) return 1;
    if (t->WhileWaiting && *t->WhileWaiting && now - t->LastPump >= std::chrono::milliseconds(50)) {
        t->LastPump = now;
        (*t->WhileWaiting)();
    }
    return 0;
}

}  // namespace

bool IsReservedInvalidHost(const QString& host) {
    QString h = host.toLower();
    while (h.endsWith(QLatin1Char('.'))) h.chop(1);
    return h == QLatin1String("invalid") || h.endsWith(QLatin1String(".invalid"));
}

THttpClient::THttpClient(QObject* parent) : QObject(parent) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

THttpClient::~THttpClient() { Disconnect(); }

void THttpClient::Disconnect() {
    if (m_curl) curl_easy_cleanup(static_cast<CURL*>(m_curl));
    m_curl = nullptr;
}

std::optional<QByteArray> THttpClient::Get(const QString& url, TLimits limits,
                                           const std::function<void()>& whileWaiting) {
    const QUrl parsed(url);
    if (!parsed.isValid() || parsed.host().isEmpty() || IsReservedInvalidHost(parsed.host())) {
        return std::nullopt;
    }
    if (!m_curl) m_curl = curl_easy_init();
    CURL* curl = static_cast<CURL*>(m_curl);
    if (!curl) return std::nullopt;
    curl_easy_reset(curl);  // options only; the open connection stays

    TTransfer transfer;
    transfer.Stall = limits.Stall;
    transfer.WhileWaiting = &whileWaiting;
    const QByteArray encodedUrl = parsed.toEncoded();
    const std::string accept = std::string("Accept: ") + kAccept;
    curl_slist* headers = curl_slist_append(nullptr, accept.c_str());

    curl_easy_setopt(curl, CURLOPT_URL, encodedUrl.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");  // none, whatever the environment says
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    if (limits.Total.count() > 0) curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.Total.count()));

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);

    if (result != CURLE_OK || transfer.TooLarge || status < 200 || status > 299) return std::nullopt;
    return std::move(transfer.Body);
}

}  // namespace app
