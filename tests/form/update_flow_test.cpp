// SPDX-License-Identifier: GPL-3.0-or-later
// The update check's run as the window takes it from form/: which steps
// run, in which order, and where the run ends, told by a fake window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "form/texts.h"
#include "form/update_flow.h"

namespace {

// A stand-in for the system's 8-bit code page: Latin-1.
std::u16string Latin1(std::string_view bytes) {
    std::u16string out;
    for (const char c : bytes) out += static_cast<char16_t>(static_cast<unsigned char>(c));
    return out;
}

struct TFakeSteps : form::TUpdateSteps {
    std::optional<std::string> Served;
    bool KeepFails = false;
    std::u16string Running = u"1.0.0.0";
    std::string Url = "https://example.invalid/update/Lumbra.exe";
    bool Yes = true;
    std::string Log;  // one letter a step: F K S R A W D H

    std::optional<std::string> FetchVersionFile() override {
        Log += 'F';
        return Served;
    }
    std::optional<std::u16string> KeepVersionFile(const std::string& bytes) override {
        Log += 'K';
        if (KeepFails) return std::nullopt;
        return form::DecodeVersionFile(bytes, Latin1);
    }
    void ShowVersionFile(const std::vector<std::u16string>& lines) override {
        Log += 'S';
        Lines = lines;
    }
    std::u16string RunningVersion() override {
        Log += 'R';
        return Running;
    }
    std::string ExecutableUrl() override { return Url; }
    bool Ask(std::u16string_view text, form::TQuestionKind kind) override {
        Log += 'A';
        Asked = text;
        AskedKind = kind;
        return Yes;
    }
    void ShowWaitHint() override { Log += 'W'; }
    void HideWaitHint() override { Log += 'H'; }
    void DownloadAndSwap(const std::optional<form::TSha256>& digest) override {
        Log += 'D';
        Digest = digest;
    }
    std::vector<std::u16string> Lines;
    std::optional<form::TSha256> Digest;
    std::u16string Asked;
    form::TQuestionKind AskedKind = form::TQuestionKind::Caution;
};

TEST(UpdateFlow, StepsRunInOrderAndEndWhereTheyMust) {
    const std::string digest(64, 'a');
    struct TCase {
        const char* Name;
        std::optional<std::string> Served;
        bool KeepFails = false;
        std::string Url = "https://example.invalid/update/Lumbra.exe";
        bool Yes = true;
        std::string Log;
    };
    const TCase cases[] = {
        {"nothing fetched", std::nullopt, false, {}, true, "F"},
        {"not kept", "v\r\n1.0.0.1\r\n", true, {}, true, "FK"},
        {"not newer", "v\r\n1.0.0.0\r\n", false, {}, true, "FKSR"},
        {"executable not over https", "v\r\n1.0.0.1\r\n", false, "http://example.invalid/x", true, "FKSR"},
        {"declined", "v\r\n1.0.0.1\r\n", false, {}, false, "FKSRA"},
        {"newer, no digest", "v\r\n1.0.0.1\r\n", false, {}, true, "FKSRAWDH"},
        {"newer, digest", "v\r\n1.0.0.1\r\nsha256=" + digest, false, {}, true, "FKSRAWDH"},
        // A digest claimed but unreadable: the box comes and goes, nothing is fetched.
        {"newer, broken digest", "v\r\n1.0.0.1\r\nsha256=zz", false, {}, true, "FKSRAWH"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFakeSteps steps;
        steps.Served = c.Served;
        steps.KeepFails = c.KeepFails;
        if (!c.Url.empty()) steps.Url = c.Url;
        steps.Yes = c.Yes;
        form::RunUpdateCheck(steps);
        EXPECT_EQ(steps.Log, c.Log);
        if (c.Log.find('S') != std::string::npos) {
            const std::u16string published(c.Served->begin() + 3, c.Served->begin() + 10);
            EXPECT_EQ(steps.Lines.at(1), published);  // the second line, as the memo shows it
        }
        if (c.Log.find('A') != std::string::npos) {
            // The offer, in the box whose default is Yes.
            EXPECT_EQ(steps.Asked, form::texts::kUpdateQuestion);
            EXPECT_EQ(steps.AskedKind, form::TQuestionKind::Information);
        }
        if (c.Log.find('D') != std::string::npos) {
            EXPECT_EQ(steps.Digest.has_value(), c.Served->find("sha256") != std::string::npos);
        }
    }
}

TEST(UpdateFlow, VersionFileEncodings) {
    const auto latin = Latin1;
    EXPECT_EQ(form::DecodeVersionFile("\xEF\xBB\xBF\xE7\x89\x88\n1", latin), u"\u7248\n1");
    EXPECT_EQ(form::DecodeVersionFile(std::string_view("\xFF\xFE\x48\x72\n\0001\0", 8), latin), u"\u7248\n1");
    EXPECT_EQ(form::DecodeVersionFile(std::string_view("\xFE\xFF\x72\x48\0\n\0001", 8), latin), u"\u7248\n1");
    EXPECT_EQ(form::DecodeVersionFile("v\xE9\n1", latin), u"v\u00e9\n1");  // no mark: the system's code page
    EXPECT_EQ(form::DecodeVersionFile("", latin), u"");
}

}  // namespace
