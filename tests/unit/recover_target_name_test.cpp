// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "recover/target_name.h"

namespace {

using recover::TNameRules;
using recover::TNamingChoice;

TEST(TargetName, UntrustedNamesStayInTheFolder) {
    struct TCase {
        std::string name;
        TNameRules rules;
        std::string expected;
    };
    const std::string nul("a\0b", 3);
    const std::vector<TCase> cases = {
        {"report.pdf", TNameRules::Posix, "report.pdf"},
        {"../../etc/passwd", TNameRules::Posix, ".._.._etc_passwd"},
        {"..\\..\\boot.ini", TNameRules::Posix, ".._.._boot.ini"},
        {nul, TNameRules::Posix, "a_b"},
        {"tab\there\x1b[0m\x7f", TNameRules::Posix, "tab_here_[0m_"},
        {"", TNameRules::Posix, "File_7"},
        {".", TNameRules::Posix, "File_7"},
        {"..", TNameRules::Posix, "File_7"},
        {"...", TNameRules::Posix, "..."},
        {"a:b?c*d<e>f|g\"h", TNameRules::Posix, "a:b?c*d<e>f|g\"h"},
        {"a:b?c*d<e>f|g\"h", TNameRules::Windows, "a_b_c_d_e_f_g_h"},
        {"C:\\Windows\\x.dll", TNameRules::Windows, "C__Windows_x.dll"},
        {"trailing. . ", TNameRules::Windows, "trailing"},
        {"trailing. . ", TNameRules::Posix, "trailing. . "},
        {"...", TNameRules::Windows, "File_7"},
        {" ", TNameRules::Windows, "File_7"},
        {"CON", TNameRules::Windows, "_CON"},
        {"nul.txt", TNameRules::Windows, "_nul.txt"},
        {"Com1.tar.gz", TNameRules::Windows, "_Com1.tar.gz"},
        {"LPT9", TNameRules::Windows, "_LPT9"},
        {"AUX .log", TNameRules::Windows, "_AUX .log"},
        {"COM\u00B9", TNameRules::Windows, "_COM\u00B9"},
        {"CONOUT$", TNameRules::Windows, "_CONOUT$"},
        {"CONSOLE.txt", TNameRules::Windows, "CONSOLE.txt"},
        {"COM10", TNameRules::Windows, "COM10"},
        {"nul.txt", TNameRules::Posix, "nul.txt"},
        {"\xff\xfe.txt", TNameRules::Posix, "\uFFFD\uFFFD.txt"},
        {"\u65E5\u672C.txt", TNameRules::Posix, "\u65E5\u672C.txt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(recover::SafeFileName(c.name, 7, c.rules), c.expected)
            << c.name << (c.rules == TNameRules::Windows ? " (Windows)" : " (Posix)");
}

TEST(TargetName, LongNamesAreShortenedBeforeTheExtension) {
    // 255 UTF-16 units of CJK text are 765 bytes of UTF-8: too long for a
    // Linux name, which takes 255 bytes.
    std::u16string cjk(251, u'\u6587');
    cjk += u".txt";
    recover::TWrittenNames none(TNameRules::Posix);
    const std::string posix =
        recover::TargetFileName(cjk, 1, TNamingChoice::OldName, TNameRules::Posix, none);
    EXPECT_LE(posix.size(), 255u);
    EXPECT_EQ(posix.size(), 250u / 3 * 3 + 4);  // whole characters only
    EXPECT_TRUE(posix.ends_with("\u6587.txt"));
    // On Windows the same name fits as it is.
    recover::TWrittenNames noneWin(TNameRules::Windows);
    EXPECT_EQ(recover::TargetFileName(cjk, 1, TNamingChoice::OldName, TNameRules::Windows, noneWin).size(),
              251u * 3 + 4);

    // A number for a second file still fits.
    recover::TWrittenNames written(TNameRules::Posix);
    written.Add(posix);
    const std::string second =
        recover::TargetFileName(cjk, 2, TNamingChoice::OldName, TNameRules::Posix, written);
    EXPECT_LE(second.size(), 255u);
    EXPECT_TRUE(second.ends_with(" (2).txt"));
}

TEST(TargetName, SameNameInOneRunIsNumbered) {
    struct TStep {
        std::string name;
        TNamingChoice choice;
        std::string expected;
    };
    const auto run = [](TNameRules rules, const std::vector<TStep>& steps) {
        recover::TWrittenNames written(rules);
        std::uint64_t row = 0;
        for (const auto& s : steps) {
            const std::string got = recover::TargetFileName(s.name, row++, s.choice, rules, written);
            EXPECT_EQ(got, s.expected) << s.name;
            written.Add(got);
        }
    };
    run(TNameRules::Posix, {
                               {"a.txt", TNamingChoice::OldName, "a.txt"},
                               {"a.txt", TNamingChoice::OldName, "a (2).txt"},
                               {"a.txt", TNamingChoice::OldName, "a (3).txt"},
                               {"A.txt", TNamingChoice::OldName, "A.txt"},
                               {"a (2).txt", TNamingChoice::OldName, "a (2) (2).txt"},
                               {"archive.tar.gz", TNamingChoice::OldName, "archive.tar.gz"},
                               {"archive.tar.gz", TNamingChoice::OldName, "archive.tar (2).gz"},
                               {".profile", TNamingChoice::OldName, ".profile"},
                               {".profile", TNamingChoice::OldName, ".profile (2)"},
                               {"x", TNamingChoice::AutoName, "File_9"},
                               {"File_9", TNamingChoice::OldName, "File_9 (2)"},
                               {"", TNamingChoice::OldName, "File_11"},
                           });
    run(TNameRules::Windows, {
                                 {"a.txt", TNamingChoice::OldName, "a.txt"},
                                 {"A.TXT", TNamingChoice::OldName, "A (2).TXT"},
                                 {"\u00C9t\u00E9.doc", TNamingChoice::OldName, "\u00C9t\u00E9.doc"},
                                 {"\u00E9T\u00C9.DOC", TNamingChoice::OldName, "\u00E9T\u00C9 (2).DOC"},
                                 {"a.", TNamingChoice::OldName, "a"},
                                 {"a", TNamingChoice::OldName, "a (2)"},
                             });
}

TEST(TargetName, UtfSixteenNamesFromRecords) {
    recover::TWrittenNames none(TNameRules::Posix);
    // A lone surrogate (legal in NTFS) becomes U+FFFD.
    const std::u16string name = {u'x', char16_t(0xD800), u'.', u'b', u'i', u'n'};
    EXPECT_EQ(recover::TargetFileName(name, 0, TNamingChoice::OldName, TNameRules::Posix, none),
              "x\uFFFD.bin");
    EXPECT_EQ(recover::TargetFileName(u"\U0001F600/x", 0, TNamingChoice::OldName, TNameRules::Posix, none),
              "\U0001F600_x");
}

TEST(TargetName, JoinsWithOneSeparator) {
    EXPECT_EQ(recover::JoinTargetPath("/out", "a.txt", TNameRules::Posix), "/out/a.txt");
    EXPECT_EQ(recover::JoinTargetPath("/", "a.txt", TNameRules::Posix), "/a.txt");
    EXPECT_EQ(recover::JoinTargetPath("D:\\out", "a.txt", TNameRules::Windows), "D:\\out\\a.txt");
    EXPECT_EQ(recover::JoinTargetPath("D:\\", "a.txt", TNameRules::Windows), "D:\\a.txt");
    EXPECT_EQ(recover::JoinTargetPath("", "a.txt", TNameRules::Posix), "a.txt");
}

namespace run_targets {

namespace fs = std::filesystem;

using TOutcome = recover::TRunTargets::TWriteOutcome;

class TTempFolder {
public:
    // Portable (the Windows tests build this file too): random bits keep
    // test processes that run side by side apart.
    TTempFolder() {
        std::random_device random;
        do {
            m_path = fs::temp_directory_path() /
                     ("lumbra-names-" + std::to_string(random()) + "-" + std::to_string(random()));
        } while (!fs::create_directories(m_path));
    }
    ~TTempFolder() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    std::string Path() const { return m_path.string(); }

private:
    fs::path m_path;
};

// A name in the folder, joined as the program joins it on this host.
std::string In(const TTempFolder& dir, const std::string& name) {
#ifdef _WIN32
    return dir.Path() + "\\" + name;
#else
    return dir.Path() + "/" + name;
#endif
}

// Writes `content` at a path unless `refuse` says the folder does not take
// that name; returns the outcome the way the recovery run reports it.
auto Writer(const std::string& content, bool (*refuse)(const std::string&) = nullptr) {
    return [content, refuse](const std::string& path) {
        if (refuse && refuse(path)) return std::pair{TOutcome::OutputFailed, std::string()};
        std::ofstream(path, std::ios::binary) << content;
        return std::pair{TOutcome::Written, path};
    };
}

TEST(RunTargets, WindowsFolderKeepsEverySpellingApart) {
    TTempFolder dir;
    recover::TRunTargets targets(TNameRules::Windows);
    const struct {
        std::u16string name;
        std::string expected;
    } rows[] = {
        {u"Report.doc", "Report.doc"}, {u"REPORT.DOC", "REPORT (2).DOC"}, {u"report.DOC", "report (3).DOC"},
        {u"what?.txt", "what_.txt"},   {u"what*.txt", "what_ (2).txt"},   {u"aux.log", "_aux.log"},
        {u"trail. ", "trail"},         {u"TRAIL", "TRAIL (2)"},
    };
    std::uint64_t index = 0;
    for (const auto& row : rows) {
        std::string target;
        const std::string written = targets.Write(dir.Path(), row.name, index, TNamingChoice::OldName,
                                                  Writer(std::to_string(index)), target);
        EXPECT_EQ(target, In(dir, row.expected));
        EXPECT_EQ(written, target);
        ++index;
    }
}

TEST(RunTargets, NameTheFolderRefusesFallsBackToASafeName) {
    TTempFolder dir;
    recover::TRunTargets targets(TNameRules::Posix);
    auto refuseOdd = [](const std::string& path) { return path.find("odd") != std::string::npos; };
    std::string target;
    std::string written = targets.Write(dir.Path(), u"odd\u00e9.tar", 4, TNamingChoice::OldName,
                                        Writer("x", refuseOdd), target);
    EXPECT_EQ(target, In(dir, "File_4.tar"));
    EXPECT_EQ(written, target);
    // The fallback name is taken now: a later row whose own fallback would
    // clash is numbered, never written over it.
    written = targets.Write(dir.Path(), u"File_4.tar", 9, TNamingChoice::OldName, Writer("y"), target);
    EXPECT_EQ(target, In(dir, "File_4 (2).tar"));
    // Auto names do not fall back: the name is already the safe one.
    written = targets.Write(dir.Path(), u"odd", 5, TNamingChoice::AutoName, Writer("z", refuseOdd), target);
    EXPECT_EQ(target, In(dir, "File_5"));
    // A failure for the record's own sake is not retried under another name.
    int calls = 0;
    targets.Write(
        dir.Path(), u"bad.bin", 6, TNamingChoice::OldName,
        [&](const std::string&) {
            ++calls;
            return std::pair{TOutcome::OutputFailed, 0};
        },
        target);
    EXPECT_EQ(calls, 2);
    calls = 0;
    targets.Write(
        dir.Path(), u"bad.bin", 7, TNamingChoice::OldName,
        [&](const std::string&) {
            ++calls;
            return std::pair{TOutcome::Skipped, 0};
        },
        target);
    EXPECT_EQ(calls, 1);
}

TEST(RunTargets, FileSystemThatFoldsNamesUnforeseenNeverLosesAnEarlierFile) {
    // Stand-in for a file system that maps two names the rules keep apart to
    // one file: a hard link makes "b.txt" the file the run wrote as "a.txt".
#ifdef _WIN32
    GTEST_SKIP() << "Windows folders fold case already; the identity guard is for Linux hosts";
#endif
    TTempFolder dir;
    recover::TRunTargets targets(TNameRules::Posix);
    std::string target;
    targets.Write(dir.Path(), u"a.txt", 0, TNamingChoice::OldName, Writer("first"), target);
    fs::create_hard_link(In(dir, "a.txt"), In(dir, "b.txt"));
    targets.Write(dir.Path(), u"b.txt", 1, TNamingChoice::OldName, Writer("second"), target);
    EXPECT_EQ(target, In(dir, "b (2).txt"));
    std::ifstream in(In(dir, "a.txt"));
    std::string kept;
    in >> kept;
    EXPECT_EQ(kept, "first");
    // A file that was there before the run is still replaced.
    { std::ofstream(In(dir, "old.txt")) << "old"; }
    targets.Write(dir.Path(), u"old.txt", 2, TNamingChoice::OldName, Writer("new"), target);
    EXPECT_EQ(target, In(dir, "old.txt"));
}

TEST(RunTargets, FolderRulesOfACaseSensitiveFolderAndFallbackNames) {
    TTempFolder dir;
    // /tmp is a case-sensitive POSIX file system here (Windows folders always
    // take the Windows rules); the probe leaves nothing behind.
#ifdef _WIN32
    EXPECT_EQ(recover::FolderNameRules(dir.Path()), TNameRules::Windows);
#else
    EXPECT_EQ(recover::FolderNameRules(dir.Path()), TNameRules::Posix);
#endif
    EXPECT_TRUE(fs::is_empty(dir.Path()));
    EXPECT_EQ(recover::FallbackFileName(u"a?b.tar", 3, TNameRules::Windows), "File_3.tar");
    EXPECT_EQ(recover::FallbackFileName(u"noext", 3, TNameRules::Windows), "File_3");
    EXPECT_EQ(recover::FallbackFileName(u"x.averyveryverylongextension", 3, TNameRules::Windows), "File_3");
    EXPECT_EQ(recover::FallbackFileName(u"x.t?t", 3, TNameRules::Windows), "File_3.t_t");
}

}  // namespace run_targets

}  // namespace
