// SPDX-License-Identifier: GPL-3.0-or-later
// The WinHTTP client against a local server (tests/windows/update_server.py,
// started by scripts/test-windows): LUMBRA_TEST_HTTP_URL is its http base,
// LUMBRA_TEST_HTTPS_URL the same files over https with a certificate no
// store trusts, LUMBRA_TEST_HTTP_ROOT (a Windows path) the folder it serves
// and logs each request's headers into. Without them the tests skip.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "update/http_client.h"
#include "windows/win_support.h"

namespace {

using namespace std::chrono_literals;
using testing_support::Env;

std::string ReadFile(const std::string& path) {
    std::ifstream in(std::filesystem::path(platform::Widen(path)), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct TCase {
    const char* What;
    const char* Path;  // under the http base; a full URL when it has "://"
    bool Secure;       // under the https base instead
    std::chrono::milliseconds Total, Stall;
    bool AllowHttp;
    bool Ok;
    // Longest the call may take: a failure must come within its limits.
    std::chrono::milliseconds Within;
};

TEST(WinHttpClient, AnswersAsTheServerDoes) {
    const auto base = Env("LUMBRA_TEST_HTTP_URL");
    const auto root = Env("LUMBRA_TEST_HTTP_ROOT");
    if (!base || !root) GTEST_SKIP() << "no local HTTP server (scripts/test-windows starts one)";
    const auto secure = Env("LUMBRA_TEST_HTTPS_URL");
    const std::string whole = ReadFile(*root + "\\ok.bin");
    ASSERT_GT(whole.size(), 100'000u);

    const TCase cases[] = {
        {"a whole 2xx body", "/ok.bin", false, 10s, 10s, true, true, 10s},
        {"a 404", "/missing.bin", false, 10s, 10s, true, false, 10s},
        {"a body cut short", "/cut.bin", false, 10s, 10s, true, false, 10s},
        {"no answer within the whole limit", "/hang.bin", false, 1s, 0ms, true, false, 4s},
        {"no byte within the stall limit", "/slow.bin", false, 0ms, 1s, true, false, 4s},
        {"http where only https may be used", "/ok.bin", false, 10s, 10s, false, false, 1s},
        {"a reserved .invalid host, without a lookup", "http://update.lumbra.invalid/update/ver.txt", false,
         0ms, 0ms, true, false, 1s},
        {"a scheme other than http(s)", "ftp://127.0.0.1/ok.bin", false, 10s, 10s, true, false, 1s},
        {"https with a certificate no store trusts", "/ok.bin", true, 10s, 10s, true, false, 10s},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        if (c.Secure && !secure) continue;
        const std::string path = c.Path;
        update::TRequest request;
        request.Url = path.find("://") != std::string::npos ? path : (c.Secure ? *secure : *base) + path;
        request.Total = c.Total;
        request.Stall = c.Stall;
        request.AllowHttp = c.AllowHttp;
        auto client = update::MakeHttpClient();
        const auto start = std::chrono::steady_clock::now();
        const auto body = update::GetToMemory(*client, request);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(body.has_value(), c.Ok);
        if (c.Ok && body) {
            EXPECT_TRUE(*body == whole) << body->size() << " bytes of " << whole.size();
        }
        EXPECT_LT(took, c.Within);
    }
}

TEST(WinHttpClient, SendsOnlyItsHeadersAndStopsWhenTheSinkRefuses) {
    const auto base = Env("LUMBRA_TEST_HTTP_URL");
    const auto root = Env("LUMBRA_TEST_HTTP_ROOT");
    if (!base || !root) GTEST_SKIP() << "no local HTTP server (scripts/test-windows starts one)";
    auto client = update::MakeHttpClient();
    update::TRequest request;
    request.Url = *base + "/ok.bin";
    request.Total = 10s;
    std::size_t taken = 0;
    EXPECT_FALSE(client->Get(request, [&](std::span<const std::byte> bytes) {
        taken += bytes.size();
        return false;
    }));
    EXPECT_GT(taken, 0u);

    // The request as the server logged it: Accept and User-Agent exactly,
    // and nothing that would carry state or credentials.
    std::istringstream log(ReadFile(*root + "\\requests.log"));
    std::string line, last;
    while (std::getline(log, line))
        if (line.find("\"/ok.bin\"") != std::string::npos) last = line;
    ASSERT_FALSE(last.empty());
    EXPECT_NE(last.find(std::string("[\"Accept\", \"") + update::kAccept + "\"]"), std::string::npos) << last;
    EXPECT_NE(last.find(std::string("[\"User-Agent\", \"") + update::kUserAgent + "\"]"), std::string::npos)
        << last;
    for (const char* unwanted : {"Cookie", "Authorization", "Proxy", "Referer"})
        EXPECT_EQ(last.find(unwanted), std::string::npos) << last;
}

}  // namespace
