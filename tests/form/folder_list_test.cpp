// SPDX-License-Identifier: GPL-3.0-or-later
// The folder list's rules on both kinds of path: normal forms, the levels
// and sorted sub-folders a listing gives, which inputs enter, and that a
// folder that did not list is never entered.
#include <gtest/gtest.h>

#include "form/folder_list.h"

namespace {

using form::TFolderInput;

std::u16string Shown(const form::TFolderList& list) {
    std::u16string s;
    for (const auto& e : list.Entries()) {
        if (!s.empty()) s += u'|';
        s += std::u16string(static_cast<std::size_t>(e.Depth), u' ') + e.Text + (e.Level ? u"" : u"*");
    }
    return s;
}

TEST(FolderList, NormalFormsAndLevels) {
    struct TCase {
        std::u16string_view path, normal, levels;  // levels joined by '|'
    };
    const TCase cases[] = {
        {u"/", u"/", u"/"},
        {u"/home/user/", u"/home/user", u"/|/home|/home/user"},
        {u"//home//./user/../me", u"/home/me", u"/|/home|/home/me"},
        {u"/../..", u"/", u"/"},
        {u"C:", u"C:\\", u"C:\\"},
        {u"C:\\", u"C:\\", u"C:\\"},
        {u"d:\\Data\\\\Out\\", u"d:\\Data\\Out", u"d:\\|d:\\Data|d:\\Data\\Out"},
        {u"C:/a/./b/../c", u"C:\\a\\c", u"C:\\|C:\\a|C:\\a\\c"},
        {u"C:\\..", u"C:\\", u"C:\\"},
        {u"relative/path", u"", u""},
        {u"", u"", u""},
        {u"1:\\x", u"", u""},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(form::NormalFolder(c.path), c.normal);
        std::u16string levels;
        for (const auto& l : form::PathLevels(c.path)) levels += (levels.empty() ? u"" : u"|") + l;
        EXPECT_EQ(levels, c.levels);
    }
    EXPECT_EQ(form::SubFolderPath(u"/", u"tmp"), u"/tmp");
    EXPECT_EQ(form::SubFolderPath(u"/tmp", u"x"), u"/tmp/x");
    EXPECT_EQ(form::SubFolderPath(u"C:\\", u"x"), u"C:\\x");
    EXPECT_EQ(form::SubFolderPath(u"C:\\a", u"x"), u"C:\\a\\x");
}

TEST(FolderList, EntriesClicksAndFoldersThatDoNotList) {
    form::TFolderList list;
    // Levels, then sub-folders sorted with a-z folded; odd names from a
    // listing are never offered.
    ASSERT_TRUE(
        list.Enter(u"/home/user/", {true, {u"zeta", u"Alpha", u"beta", u"alpha", u"..", u"a/b", u"Émile"}}));
    EXPECT_EQ(list.Directory(), u"/home/user");
    EXPECT_EQ(Shown(list), u"/| home|  user|   Alpha*|   alpha*|   beta*|   zeta*|   Émile*");
    EXPECT_EQ(list.CurrentEntry(), 2u);
    EXPECT_EQ(list.FolderOf(0), u"/");
    EXPECT_EQ(list.FolderOf(1), u"/home");
    EXPECT_EQ(list.FolderOf(4), u"/home/user/alpha");
    EXPECT_FALSE(list.FolderOf(8));

    // A folder that did not list changes nothing.
    EXPECT_FALSE(list.Enter(u"/root", {false, {u"x"}}));
    EXPECT_FALSE(list.Enter(u"relative", {true, {}}));
    EXPECT_EQ(list.Directory(), u"/home/user");
    EXPECT_EQ(list.Entries().size(), 8u);

    ASSERT_TRUE(list.Enter(u"C:\\Users\\", {true, {u"b", u"A"}}));
    EXPECT_EQ(Shown(list), u"C:\\| Users|  A*|  b*");
    EXPECT_EQ(list.FolderOf(2), u"C:\\Users\\A");
    ASSERT_TRUE(list.Enter(u"C:", {true, {}}));
    EXPECT_EQ(Shown(list), u"C:\\");
    EXPECT_EQ(list.CurrentEntry(), 0u);

    EXPECT_FALSE(form::EntersFolder(TFolderInput::Click));
    EXPECT_TRUE(form::EntersFolder(TFolderInput::DoubleClick));
    EXPECT_TRUE(form::EntersFolder(TFolderInput::EnterKey));
}

}  // namespace
