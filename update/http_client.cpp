// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/http_client.h"

#include <algorithm>
#include <cctype>

namespace update {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::optional<TScheme> SchemeOf(std::string_view url) {
    const std::string lower = Lower(url.substr(0, 8));
    if (lower.starts_with("https://")) return TScheme::Https;
    if (lower.starts_with("http://")) return TScheme::Http;
    return std::nullopt;
}

bool IsReservedInvalidHost(std::string_view host) {
    std::string h = Lower(host);
    while (!h.empty() && h.back() == '.') h.pop_back();
    return h == "invalid" || h.ends_with(".invalid");
}

std::optional<std::string> GetToMemory(THttpClient& client, const TRequest& request) {
    std::string body;
    const bool ok = client.Get(request, [&body](std::span<const std::byte> bytes) {
        if (body.size() + bytes.size() > kMaxBody) return false;
        body.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return true;
    });
    if (!ok) return std::nullopt;
    return body;
}

}  // namespace update
