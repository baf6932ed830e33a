// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ntfs/text.h"

TEST(Text, HexUpper) {
    EXPECT_EQ(ntfs::HexUpper(0, 2), "00");
    EXPECT_EQ(ntfs::HexUpper(0xC0004000, 2), "C0004000");
    EXPECT_EQ(ntfs::HexUpper(0x1771B0000ull, 2), "1771B0000");
    EXPECT_EQ(ntfs::HexUpper(0xABCull, 8), "00000ABC");
    EXPECT_EQ(ntfs::HexUpper(UINT64_MAX, 8), "FFFFFFFFFFFFFFFF");
}

TEST(Text, Utf16RoundTripsAndLoneSurrogates) {
    const std::u16string name = u"r\u00e9sum\u00e9-\u6587\u4ef6 \U0001F600.txt";
    EXPECT_EQ(ntfs::Utf16ToUtf8(name), "r\xC3\xA9sum\xC3\xA9-\xE6\x96\x87\xE4\xBB\xB6 \xF0\x9F\x98\x80.txt");
    EXPECT_EQ(ntfs::Utf8ToUtf16(ntfs::Utf16ToUtf8(name)), name);
    const std::u16string lone = {u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(ntfs::Utf16ToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(ntfs::Utf8ToUtf16("a\xFF"
                                "b"),
              (std::u16string{u'a', char16_t(0xFFFD), u'b'}));
    EXPECT_EQ(ntfs::Utf8ToUtf16("\xE6\x96"), (std::u16string{char16_t(0xFFFD), char16_t(0xFFFD)}));

    // Filled into a string that held an earlier, longer or shorter, name:
    // nothing of the earlier one may be left.
    std::string reused;
    for (const std::u16string& next :
         {name, std::u16string(u"ab"), lone, std::u16string(u"longer-ascii.txt"), std::u16string(), name}) {
        ntfs::Utf16ToUtf8(next, reused);
        EXPECT_EQ(reused, ntfs::Utf16ToUtf8(next));
    }
}
