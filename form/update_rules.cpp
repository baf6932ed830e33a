// SPDX-License-Identifier: GPL-3.0-or-later
#include "form/toolkit_free.h"
// (first: no toolkit in the window logic)
#include "form/update_rules.h"

#include <algorithm>

namespace form {

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string_view Trimmed(std::u16string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

std::optional<TVersion> ParseVersion(std::u16string_view text) {
    text = Trimmed(text);
    if (text.empty()) return std::nullopt;
    TVersion version{};
    std::size_t index = 0;
    for (;;) {
        const std::size_t dot = text.find(u'.');
        const std::u16string_view part = text.substr(0, dot);
        if (index >= version.size() || part.empty() || part.size() > 10) return std::nullopt;
        std::uint64_t n = 0;
        for (const char16_t c : part) {
            // Digits only: no sign, no blank inside.
            if (c < u'0' || c > u'9') return std::nullopt;
            n = n * 10 + static_cast<std::uint64_t>(c - u'0');
        }
        if (n > UINT32_MAX) return std::nullopt;
        version[index++] = static_cast<std::uint32_t>(n);
        if (dot == std::u16string_view::npos) return version;
        text.remove_prefix(dot + 1);
    }
}

std::u16string VersionText(const std::array<std::uint16_t, 4>& version) {
    std::u16string text;
    for (std::size_t i = 0; i < version.size(); ++i) {
        if (i > 0) text += u'.';
        for (const char c : std::to_string(version[i])) text += static_cast<char16_t>(c);
    }
    return text;
}

bool IsNewerVersion(std::u16string_view published, std::u16string_view running) {
    const auto p = ParseVersion(published);
    const auto r = ParseVersion(running);
    return p && r && *p > *r;
}

bool ShouldAskForUpdate(std::u16string_view published, std::u16string_view running,
                        std::string_view executableUrl) {
    return IsNewerVersion(published, running) && IsHttpsUrl(executableUrl);
}

std::vector<std::u16string> SplitLines(std::u16string_view text) {
    std::vector<std::u16string> lines;
    std::size_t start = 0;
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t c = text[i];
        if (c != u'\r' && c != u'\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < n) lines.emplace_back(text.substr(start));
    return lines;
}

std::u16string PublishedVersionLine(std::u16string_view text) {
    const auto lines = SplitLines(text);
    return lines.size() > 1 ? lines[1] : std::u16string();
}

std::optional<TSha256> PublishedSha256(std::u16string_view text) {
    const auto lines = SplitLines(text);
    if (lines.size() < 3) return std::nullopt;
    std::u16string_view line = Trimmed(lines[2]);
    constexpr std::u16string_view kKey = u"sha256=";
    if (line.size() != kKey.size() + 64 || line.substr(0, kKey.size()) != kKey) return std::nullopt;
    line.remove_prefix(kKey.size());
    TSha256 digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexDigit(line[2 * i]);
        const int low = HexDigit(line[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return digest;
}

bool ClaimsSha256(std::u16string_view text) {
    const auto lines = SplitLines(text);
    return lines.size() >= 3 && Trimmed(lines[2]).substr(0, 7) == u"sha256=";
}

bool IsHttpsUrl(std::string_view url) {
    constexpr std::string_view kScheme = "https://";
    if (url.size() < kScheme.size()) return false;
    return std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
        return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
    });
}

}  // namespace form
