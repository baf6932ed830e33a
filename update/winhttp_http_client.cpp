// SPDX-License-Identifier: GPL-3.0-or-later
// THttpClient on WinHTTP.
//
// The transfer runs on a thread of its own while the calling thread waits
// for its pieces, hands them to the sink and keeps the limits: WinHTTP has no
// limit for a whole request, and wine's WinHTTP keeps none of its per-step
// time-outs either, so a server that never answers would block the caller
// for good. When a limit is reached the caller closes the request's handles,
// which ends a blocked call, and leaves; the thread owns what it shares with
// the caller and ends on its own, passing nothing more to the sink.
//
// Each request has a session and connection of its own: the two requests of
// an update are far apart, and nothing shared outlives a request that was
// left running.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "update/http_client.h"

namespace update {

namespace {

using TClock = std::chrono::steady_clock;

std::wstring Wide(std::string_view ascii) {
    // URLs and header values here are ASCII; anything else fails the crack.
    std::wstring out;
    out.reserve(ascii.size());
    for (const char c : ascii) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

struct TUrl {
    bool Secure = false;
    std::wstring Host;
    INTERNET_PORT Port = 0;
    std::wstring PathAndQuery;
};

std::optional<TUrl> Crack(const std::string& url) {
    for (const char c : url)
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) return std::nullopt;
    const std::wstring wide = Wide(url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    // Lengths of -1: point into `wide` rather than copy.
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) return std::nullopt;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return std::nullopt;
    if (parts.lpszHostName == nullptr || parts.dwHostNameLength == 0) return std::nullopt;
    TUrl out;
    out.Secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    out.Host.assign(parts.lpszHostName, parts.dwHostNameLength);
    out.Port = parts.nPort;
    if (parts.lpszUrlPath != nullptr) out.PathAndQuery.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) out.PathAndQuery.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (out.PathAndQuery.empty()) out.PathAndQuery = L"/";
    return out;
}

// A step's limit in milliseconds for WinHttpSetTimeouts: the smaller of the
// two set limits; 0 (no limit) when neither is set. Kept on Windows; the
// caller's own checks do not depend on them.
int StepLimit(const TRequest& request) {
    std::chrono::milliseconds limit{0};
    for (const auto l : {request.Total, request.Stall})
        if (l.count() > 0 && (limit.count() == 0 || l < limit)) limit = l;
    return static_cast<int>(std::min<std::chrono::milliseconds::rep>(limit.count(), INT_MAX));
}

// What the transfer thread and the caller share.
struct TTransfer {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<std::vector<std::byte>> Pieces;  // received, not yet given to the sink
    std::size_t Queued = 0;                     // bytes in Pieces
    bool Done = false;
    bool Ok = false;
    bool Abandoned = false;  // the caller has left: stop, pass nothing on
    // Open while the thread uses them; closed by whoever is first to close.
    HINTERNET Handles[3] = {};

    void CloseHandles() {
        for (HINTERNET& h : Handles) {
            if (h != nullptr) WinHttpCloseHandle(h);
            h = nullptr;
        }
    }
};

// The caller keeps at most this much unread: a sink slower than the network
// holds the thread back rather than growing the queue.
constexpr std::size_t kMaxQueued = std::size_t{4} << 20;

void Transfer(const std::shared_ptr<TTransfer>& t, const TUrl& url, int step) {
    auto keep = [&](int index, HINTERNET h) {
        const std::lock_guard lock(t->Mutex);
        if (t->Abandoned) {
            if (h != nullptr) WinHttpCloseHandle(h);
            return false;
        }
        t->Handles[index] = h;
        return h != nullptr;
    };
    auto finish = [&](bool ok) {
        const std::lock_guard lock(t->Mutex);
        t->CloseHandles();
        t->Done = true;
        t->Ok = ok && !t->Abandoned;
        t->Changed.notify_all();
    };
    // No proxy, whatever the system or the environment names.
    if (!keep(0, WinHttpOpen(Wide(kUserAgent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0)))
        return finish(false);
    WinHttpSetTimeouts(t->Handles[0], step, step, step, step);
    if (!keep(1, WinHttpConnect(t->Handles[0], url.Host.c_str(), url.Port, 0))) return finish(false);
    if (!keep(2,
              WinHttpOpenRequest(t->Handles[1], L"GET", url.PathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, url.Secure ? WINHTTP_FLAG_SECURE : 0)))
        return finish(false);
    const HINTERNET request = t->Handles[2];
    WinHttpSetTimeouts(request, step, step, step, step);
    DWORD disable = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
    const std::wstring headers = L"Accept: " + Wide(kAccept) + L"\r\n";
    if (!WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr))
        return finish(false);
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
        status < 200 || status > 299)
        return finish(false);
    // The length the server announced, when it did: a body that ends short
    // of it was cut off (wine's WinHTTP reports such an end as a clean one).
    wchar_t lengthText[32] = {};
    DWORD lengthSize = sizeof lengthText;
    std::optional<std::uint64_t> announced;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, lengthText,
                            &lengthSize, WINHTTP_NO_HEADER_INDEX)) {
        std::uint64_t n = 0;
        bool digits = lengthText[0] != L'\0';
        for (const wchar_t* c = lengthText; *c != L'\0' && digits; ++c) {
            digits = *c >= L'0' && *c <= L'9' && n <= (UINT64_MAX - 9) / 10;
            n = n * 10 + static_cast<std::uint64_t>(*c - L'0');
        }
        if (!digits) return finish(false);
        announced = n;
    }
    std::uint64_t received = 0;
    for (;;) {
        std::vector<std::byte> piece(64 * 1024);
        DWORD read = 0;
        if (!WinHttpReadData(request, piece.data(), static_cast<DWORD>(piece.size()), &read))
            return finish(false);
        if (read == 0) return finish(!announced || received == *announced);
        received += read;
        if (announced && received > *announced) return finish(false);
        piece.resize(read);
        std::unique_lock lock(t->Mutex);
        t->Changed.wait(lock, [&] { return t->Abandoned || t->Queued < kMaxQueued; });
        if (t->Abandoned) {
            lock.unlock();
            return finish(false);
        }
        t->Queued += piece.size();
        t->Pieces.push_back(std::move(piece));
        t->Changed.notify_all();
    }
}

class TWinHttpClient final : public THttpClient {
public:
    explicit TWinHttpClient(TClientOptions options) : m_options(std::move(options)) {}

    // Every request closes what it opened.
    void Disconnect() override {}

    bool Get(const TRequest& request, const TSink& sink) override {
        const auto scheme = SchemeOf(request.Url);
        if (!scheme || (*scheme == TScheme::Http && !request.AllowHttp)) return false;
        // WinHTTP trusts only the system's store; a client asked to trust
        // other roots refuses rather than trusting more than it was told.
        if (!m_options.CaFile.empty()) return false;
        const std::optional<TUrl> url = Crack(request.Url);
        if (!url || url->Secure != (*scheme == TScheme::Https)) return false;
        if (IsReservedInvalidHost(Narrow(url->Host))) return false;

        auto t = std::make_shared<TTransfer>();
        const TClock::time_point start = TClock::now();
        TClock::time_point lastByte = start;
        std::thread(Transfer, t, *url, StepLimit(request)).detach();
        bool ok = false;
        for (;;) {
            std::deque<std::vector<std::byte>> pieces;
            bool done = false;
            {
                std::unique_lock lock(t->Mutex);
                t->Changed.wait_for(lock, std::chrono::milliseconds(50),
                                    [&] { return t->Done || !t->Pieces.empty(); });
                pieces.swap(t->Pieces);
                t->Queued = 0;
                done = t->Done;
                ok = t->Ok;
                t->Changed.notify_all();
            }
            const TClock::time_point now = TClock::now();
            bool refused = false;
            for (const auto& piece : pieces) {
                lastByte = now;
                if (!refused && !sink({piece.data(), piece.size()})) refused = true;
            }
            if (done && !refused) return ok;
            const bool late = request.Total.count() > 0 && now - start >= request.Total;
            const bool stalled = request.Stall.count() > 0 && now - lastByte >= request.Stall;
            if (refused || late || stalled) break;
            if (request.WhileWaiting) request.WhileWaiting();
        }
        // Left running: its handles close now, which ends a blocked call.
        const std::lock_guard lock(t->Mutex);
        t->Abandoned = true;
        t->CloseHandles();
        t->Changed.notify_all();
        return false;
    }

private:
    TClientOptions m_options;
};

}  // namespace

std::unique_ptr<THttpClient> MakeHttpClient(const TClientOptions& options) {
    return std::make_unique<TWinHttpClient>(options);
}

}  // namespace update
