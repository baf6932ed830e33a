// SPDX-License-Identifier: GPL-3.0-or-later
// The self-update's pieces without a network: the digest, the version file's
// rules, and the download-and-swap against a scripted client.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "form/update_rules.h"
#include "update/http_client.h"
#include "update/sha256.h"
#include "update/swap.h"

namespace {

namespace fs = std::filesystem;

std::string Hex(const std::array<std::uint8_t, 32>& digest) {
    std::ostringstream out;
    for (const std::uint8_t b : digest) out << "0123456789abcdef"[b >> 4] << "0123456789abcdef"[b & 15];
    return out.str();
}

std::array<std::uint8_t, 32> Digest(std::string_view text, std::size_t chunk = 1000) {
    update::TSha256 sha;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        const auto part = text.substr(at, chunk);
        sha.Add({reinterpret_cast<const std::uint8_t*>(part.data()), part.size()});
    }
    return sha.Finish();
}

TEST(UpdateSha256, KnownDigestsWhateverTheChunks) {
    struct TCase {
        std::string Text;
        const char* Digest;
    };
    const TCase cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the length no longer fits the first block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1'000'000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const TCase& c : cases) {
        for (const std::size_t chunk :
             {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{4096}}) {
            if (chunk == 1 && c.Text.size() > 100'000) continue;
            EXPECT_EQ(Hex(Digest(c.Text, chunk)), c.Digest) << c.Text.size() << " bytes by " << chunk;
        }
    }
}

TEST(UpdateRules, PublishedDigestIsTheThirdLineOnly) {
    const std::string hex = "bed48b44066883c10714d14715a668ac482884f8aaf10d84bce58c6b88ffa8a9";
    const std::u16string good(hex.begin(), hex.end());
    struct TCase {
        std::u16string Text;
        bool Parsed;
        bool Claimed;
    };
    const TCase cases[] = {
        {u"x\r\n1.0.0.1\r\nsha256=" + good + u"\r\n", true, true},
        {u"x\n1.0.0.1\n  sha256=" + good, true, true},
        {u"x\r1.0.0.1\rsha256=" + good, true, true},
        {u"x\n1.0.0.1\n", false, false},
        {u"x\n1.0.0.1\nnotes", false, false},
        {u"sha256=" + good + u"\n1.0.0.1\n", false, false},  // first line: not the digest
        {u"x\n1.0.0.1\nsha256=" + good.substr(1), false, true},
        {u"x\n1.0.0.1\nsha256=" + good + u"0", false, true},
        {u"x\n1.0.0.1\nsha256=" + good.substr(1) + u"z", false, true},
        {u"x\n1.0.0.1\nSHA256=" + good, false, false},
    };
    for (const TCase& c : cases) {
        const auto digest = form::PublishedSha256(c.Text);
        EXPECT_EQ(digest.has_value(), c.Parsed);
        EXPECT_EQ(form::ClaimsSha256(c.Text), c.Claimed);
        if (digest) {
            EXPECT_EQ(Hex(*digest), hex);
        }
    }
}

TEST(UpdateRules, AskedOnlyForANewerVersionThatCanComeOverHttps) {
    EXPECT_TRUE(form::ShouldAskForUpdate(u"1.0.0.1", u"1.0.0.0", "https://h/update/Lumbra.exe"));
    EXPECT_TRUE(form::ShouldAskForUpdate(u"1.0.0.1", u"1.0.0.0", "HTTPS://h/update/Lumbra.exe"));
    EXPECT_FALSE(form::ShouldAskForUpdate(u"1.0.0.1", u"1.0.0.0", "http://h/update/Lumbra.exe"));
    EXPECT_FALSE(form::ShouldAskForUpdate(u"1.0.0.1", u"1.0.0.0", "https:/h"));
    EXPECT_FALSE(form::ShouldAskForUpdate(u"1.0.0.0", u"1.0.0.0", "https://h/update/Lumbra.exe"));
    EXPECT_EQ(form::VersionText({1, 0, 65535, 7}), u"1.0.65535.7");
}

// Serves one body, or fails, and records what it was asked.
class TScriptedClient final : public update::THttpClient {
public:
    std::string Body;
    bool Fail = false;
    std::vector<update::TRequest> Asked;

    bool Get(const update::TRequest& request, const update::TSink& sink) override {
        Asked.push_back(request);
        // Half the body, then the failure: what a cut transfer hands over.
        const std::size_t sent = Fail ? Body.size() / 2 : Body.size();
        if (!sink({reinterpret_cast<const std::byte*>(Body.data()), sent})) return false;
        return !Fail;
    }
    void Disconnect() override {}
};

class UpdateSwap : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("lumbra-swap-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        Write(m_dir / "Lumbra.exe", "old");
        m_plan.Request.Url = "https://h/update/Lumbra.exe";
        m_plan.Target = m_dir / "Lumbra.exe";
        m_plan.Old = m_dir / "Lumbra.old";
        m_client.Body = "new";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(m_dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path m_dir;
    update::TSwapPlan m_plan;
    TScriptedClient m_client;
};

TEST_F(UpdateSwap, OnlyHttpsAndTheRightBytesReplaceTheExecutable) {
    struct TCase {
        const char* Name;
        const char* Url;
        bool Fail;
        std::optional<std::string> Sha256Of;  // digest of this text published
        update::TSwapResult Result;
    };
    const TCase cases[] = {
        {"https", "https://h/u", false, std::nullopt, update::TSwapResult::Swapped},
        {"https, digest", "https://h/u", false, "new", update::TSwapResult::Swapped},
        {"https, other digest", "https://h/u", false, "neW", update::TSwapResult::DigestMismatch},
        {"http", "http://h/u", false, std::nullopt, update::TSwapResult::NotHttps},
        {"http, digest", "http://h/u", false, "new", update::TSwapResult::NotHttps},
        {"no scheme", "h/u", false, std::nullopt, update::TSwapResult::NotHttps},
        {"cut short", "https://h/u", true, std::nullopt, update::TSwapResult::DownloadFailed},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(m_plan.Old);
        Write(m_plan.Target, "old");
        m_client.Asked.clear();
        m_client.Fail = c.Fail;
        m_plan.Request.Url = c.Url;
        m_plan.Sha256.reset();
        if (c.Sha256Of) m_plan.Sha256 = Digest(*c.Sha256Of);
        EXPECT_EQ(update::DownloadAndSwap(m_client, m_plan), c.Result);
        if (c.Result == update::TSwapResult::Swapped) {
            EXPECT_EQ(Names(), (std::vector<std::string>{"Lumbra.exe", "Lumbra.old"}));
            EXPECT_EQ(Read(m_plan.Target), "new");
            EXPECT_EQ(Read(m_plan.Old), "old");
            EXPECT_TRUE((fs::status(m_plan.Target).permissions() & fs::perms::owner_exec) != fs::perms::none);
        } else {
            // Untouched, with nothing of the download left behind.
            EXPECT_EQ(Names(), std::vector<std::string>{"Lumbra.exe"});
            EXPECT_EQ(Read(m_plan.Target), "old");
        }
        // Never asked for over anything but https, and never allowed to fall back.
        if (c.Result == update::TSwapResult::NotHttps) {
            EXPECT_TRUE(m_client.Asked.empty());
        }
        for (const auto& r : m_client.Asked) {
            EXPECT_FALSE(r.AllowHttp);
        }
    }
}

TEST_F(UpdateSwap, NoCurrentOneGetsTheNewOneAndAFailurePutsTheOldOneBack) {
    fs::remove(m_plan.Target);
    EXPECT_EQ(update::DownloadAndSwap(m_client, m_plan), update::TSwapResult::Swapped);
    EXPECT_EQ(Names(), std::vector<std::string>{"Lumbra.exe"});

    fs::remove(m_plan.Target);
    Write(m_plan.Old, "older");
    m_client.Fail = true;
    EXPECT_EQ(update::DownloadAndSwap(m_client, m_plan), update::TSwapResult::DownloadFailed);
    EXPECT_EQ(Names(), std::vector<std::string>{"Lumbra.exe"});
    EXPECT_EQ(Read(m_plan.Target), "older");
}

TEST(UpdateHttp, SchemesAndReservedHosts) {
    EXPECT_EQ(update::SchemeOf("https://a"), update::TScheme::Https);
    EXPECT_EQ(update::SchemeOf("HTTP://a"), update::TScheme::Http);
    EXPECT_EQ(update::SchemeOf("ftp://a"), std::nullopt);
    EXPECT_EQ(update::SchemeOf("http:/a"), std::nullopt);
    EXPECT_TRUE(update::IsReservedInvalidHost("update.lumbra.INVALID."));
    EXPECT_FALSE(update::IsReservedInvalidHost("invalid.example"));
}

}  // namespace
