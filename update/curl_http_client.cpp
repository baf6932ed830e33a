// SPDX-License-Identifier: GPL-3.0-or-later
// THttpClient on libcurl.
#include <curl/curl.h>

#include <mutex>

#include "update/http_client.h"

namespace update {

namespace {

struct TTransfer {
    const TSink* Sink = nullptr;
    bool Refused = false;
    std::chrono::milliseconds Stall{0};
    std::chrono::steady_clock::time_point LastByte = std::chrono::steady_clock::now();
    curl_off_t Received = 0;
    const std::function<void()>* WhileWaiting = nullptr;
    std::chrono::steady_clock::time_point LastPump{};
};

size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<TTransfer*>(user);
    const size_t n = size * count;
    if (!(*t->Sink)({reinterpret_cast<const std::byte*>(data), n})) {
        t->Refused = true;
        return 0;  // aborts the transfer
    }
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

class TCurlHttpClient final : public THttpClient {
public:
    explicit TCurlHttpClient(TClientOptions options) : m_options(std::move(options)) {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }
    ~TCurlHttpClient() override { Disconnect(); }

    void Disconnect() override {
        if (m_curl) curl_easy_cleanup(m_curl);
        m_curl = nullptr;
    }

    bool Get(const TRequest& request, const TSink& sink) override {
        const auto scheme = SchemeOf(request.Url);
        if (!scheme || (*scheme == TScheme::Http && !request.AllowHttp)) return false;
        if (!HostIsUsable(request.Url)) return false;
        if (!m_curl) m_curl = curl_easy_init();
        CURL* curl = m_curl;
        if (!curl) return false;
        curl_easy_reset(curl);  // options only; the open connection stays

        TTransfer transfer;
        transfer.Sink = &sink;
        transfer.Stall = request.Stall;
        transfer.WhileWaiting = &request.WhileWaiting;
        const std::string accept = std::string("Accept: ") + kAccept;
        curl_slist* headers = curl_slist_append(nullptr, accept.c_str());

        curl_easy_setopt(curl, CURLOPT_URL, request.Url.c_str());
        // libcurl enforces the scheme too, so nothing but the allowed one is
        // ever spoken, whatever the URL turns out to be.
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, request.AllowHttp ? "http,https" : "https");
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        const std::string caFile = m_options.CaFile.string();
        if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
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
        if (request.Total.count() > 0)
            curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(request.Total.count()));

        const CURLcode result = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(headers);
        return result == CURLE_OK && !transfer.Refused && status >= 200 && status <= 299;
    }

private:
    static bool HostIsUsable(const std::string& url) {
        CURLU* parts = curl_url();
        if (!parts) return false;
        bool usable = false;
        char* host = nullptr;
        if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
            curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host) {
            usable = !IsReservedInvalidHost(host);
        }
        curl_free(host);
        curl_url_cleanup(parts);
        return usable;
    }

    TClientOptions m_options;
    CURL* m_curl = nullptr;  // kept between requests with its connection
};

}  // namespace

std::unique_ptr<THttpClient> MakeHttpClient(const TClientOptions& options) {
    return std::make_unique<TCurlHttpClient>(options);
}

}  // namespace update
