// idhtp1, the update's HTTP client: a blocking GET of a whole resource into
// memory, built on libcurl.
//
// The update runs on the UI thread while the window is being shown, and is
// meant to block it; libcurl's blocking transfer does exactly that, with no
// nested event loop re-entering a half-shown window. It also sends only the
// headers we name (besides Host), follows no redirect, uses no proxy even
// when the environment names one, and offers the two limits the check needs.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace app {

class THttpClient : public QObject {
public:
    // The request headers besides Host; no others are sent.
    static constexpr const char* kAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    static constexpr const char* kUserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    // A body beyond this is a failure rather than a way to exhaust memory.
    static constexpr std::size_t kMaxBody = std::size_t{512} << 20;

    struct TLimits {
        // The whole request, connecting included; 0 for none.
        std::chrono::milliseconds Total{0};
        // The longest time without a byte of the response; 0 for none.
        std::chrono::milliseconds Stall{0};
    };

    explicit THttpClient(QObject* parent = nullptr);
    ~THttpClient() override;

    // GETs `url` and returns the whole body of a 2xx answer. Any failure (a
    // name that does not resolve, no connection, another status, a broken
    // transfer, a limit reached) gives nothing. A host under the reserved
    // ".invalid" domain fails at once, without asking a resolver.
    // `whileWaiting` is called now and then during the transfer.
    std::optional<QByteArray> Get(const QString& url, TLimits limits,
                                  const std::function<void()>& whileWaiting = {});

    // Closes the connection kept from the last request, if any.
    void Disconnect();

private:
    void* m_curl = nullptr;  // CURL*, kept between requests with its connection
};

// True for a host under the reserved top-level domain "invalid", which never
// resolves (so it is answered without a lookup).
bool IsReservedInvalidHost(const QString& host);

}  // namespace app
