#include <gtest/gtest.h>

#include <string>
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

}  // namespace
