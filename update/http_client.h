// SPDX-License-Identifier: GPL-3.0-or-later
// idhtp1, the update's HTTP client, behind a small interface: a blocking GET
// of one URL, its body handed to a sink as it arrives. WinHTTP implements it
// (winhttp_http_client.cpp): only the Windows program updates itself.
//
// The update runs on the UI thread while the window is being shown and is
// meant to block it, so the GET blocks too, with no nested event loop. An
// implementation sends only the headers named here (besides Host), follows
// no redirect, uses no proxy even when the environment names one, and checks
// an https server's certificate and name, against CaFile when one is given.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace update {

// The request headers besides Host; no others are sent.
inline constexpr const char* kAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
inline constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
// A body beyond this is a failure rather than a way to exhaust memory or disk.
inline constexpr std::size_t kMaxBody = std::size_t{512} << 20;

enum class TScheme { Http, Https };

struct TRequest {
    std::string Url;
    // The schemes the transfer may use; a URL of another fails before any
    // connection is made.
    bool AllowHttp = true;
    // The whole request, connecting included; 0 for none.
    std::chrono::milliseconds Total{0};
    // The longest time without a byte of the response; 0 for none.
    std::chrono::milliseconds Stall{0};
    // Called now and then while the transfer waits.
    std::function<void()> WhileWaiting;
};

// Takes the body as it arrives; false stops the transfer as a failure.
using TSink = std::function<bool(std::span<const std::byte>)>;

class THttpClient {
public:
    virtual ~THttpClient() = default;

    // GETs the request's URL; true only for a 2xx answer received whole. Any
    // failure (a name that does not resolve, no connection, a certificate not
    // trusted, another status, a broken transfer, a limit reached, the sink
    // refusing) is false. A host under the reserved ".invalid" domain fails
    // at once, without asking a resolver.
    virtual bool Get(const TRequest& request, const TSink& sink) = 0;

    // Closes the connection kept from the last request, if any.
    virtual void Disconnect() = 0;
};

struct TClientOptions {
    // The certificates an https server's chain must lead to; empty for the
    // system's own store.
    std::filesystem::path CaFile;
};

// WinHTTP; Windows builds only.
std::unique_ptr<THttpClient> MakeHttpClient(const TClientOptions& options = {});

// The scheme of `url`; nothing for one that is neither http nor https.
std::optional<TScheme> SchemeOf(std::string_view url);

// True for a host under the reserved top-level domain "invalid", which never
// resolves (so it is answered without a lookup).
bool IsReservedInvalidHost(std::string_view host);

// The whole body in memory, at most kMaxBody bytes.
std::optional<std::string> GetToMemory(THttpClient& client, const TRequest& request);

}  // namespace update
