// SPDX-License-Identifier: GPL-3.0-or-later
// What lumbra-cli prints of names read from a volume: a crafted name must
// reach the terminal as text, never as a control sequence.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "unit/fixtures.h"
#include "unit/record_builder.h"
#include "unit/recover_support.h"
#include "unit/volume_builder.h"

namespace {

using testing_support::RunCommand;

// The first byte that a terminal could take as a control: below 0x20 other
// than tab and newline, DEL, or a C1 control in UTF-8 (C2 80 to C2 9F).
std::string::size_type FirstControl(const std::string& out) {
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto u = static_cast<unsigned char>(out[i]);
        if ((u < 0x20 && u != '\t' && u != '\n') || u == 0x7F) return i;
        if (u == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(out[i + 1]) <= 0x9F)
            return i;
    }
    return std::string::npos;
}

std::string Cli(const std::string& args) {
    return "LC_ALL=C TZ=UTC '" LUMBRA_CLI "' " + args + " 2>/dev/null";
}

TEST(CliText, HostileFixtureScanPrintsNoControls) {
    const auto image = testing_support::FixtureImage("hostile");
    if (!std::filesystem::exists(image)) GTEST_SKIP() << "no hostile fixture";
    const auto r = RunCommand(Cli("scan '" + image.string() + "'"));
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(FirstControl(r.out), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tctl-\\x07\\x1B[2J.txt\t"), std::string::npos) << r.out;
}

// A volume whose deleted files carry the names given, saved as an image.
std::string NamesImage(const std::vector<std::u16string>& names, const testing_support::TScratchDir& dir) {
    testing_support::TVolumeBuilder builder;
    std::uint64_t record = 16;
    for (const auto& name : names)
        builder.Put(record++, testing_support::TVolumeBuilder::DeletedFile(name, 10));
    const std::string path = dir.Path("names.img");
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(builder.Bytes().data()),
              static_cast<std::streamsize>(builder.Bytes().size()));
    return path;
}

TEST(CliText, ControlsAreEscapedAndTextIsNot) {
    struct TCase {
        std::u16string name;
        std::string field;  // the name column of the scan's line
    };
    const std::vector<TCase> cases = {
        {u"bel\a.txt", "bel\\x07.txt"},
        {u"\x1B[2Jclear", "\\x1B[2Jclear"},
        {u"nul\x01\x1F", "nul\\x01\\x1F"},
        {u"del\x7F", "del\\x7F"},
        {u"csi\x9B"
         u"31m",
         "csi\\u009B31m"},
        {u"nel\x85\x80", "nel\\u0085\\u0080"},
        {u"tab\tnl\nbs\\", "tab\\tnl\\nbs\\\\"},
        // Not controls: U+00A0 (C2 A0), and 文 (E6 96 87), whose middle byte
        // lies in the C1 range without being one.
        {u"nbsp\xA0\x6587\xE9", "nbsp\xC2\xA0\xE6\x96\x87\xC3\xA9"},
    };
    testing_support::TScratchDir dir;
    std::vector<std::u16string> names;
    for (const auto& c : cases) names.push_back(c.name);
    const std::string image = NamesImage(names, dir);

    const auto scan = RunCommand(Cli("scan '" + image + "'"));
    ASSERT_EQ(scan.status, 0);
    EXPECT_EQ(FirstControl(scan.out), std::string::npos) << scan.out;
    std::istringstream lines(scan.out);
    std::string line;
    for (const auto& c : cases) {
        ASSERT_TRUE(std::getline(lines, line)) << c.field;
        const std::size_t a = line.find('\t');
        const std::size_t b = line.find('\t', a + 1);
        EXPECT_EQ(line.substr(a + 1, b - a - 1), c.field);
    }

    // The recover command's lines carry names too.
    const auto recover = RunCommand(Cli("recover '" + image + "' --all --out '" + dir.Path("out") + "'"));
    EXPECT_EQ(FirstControl(recover.out), std::string::npos) << recover.out;
    EXPECT_EQ(std::count(recover.out.begin(), recover.out.end(), '\n'), static_cast<long>(cases.size()));
}

TEST(CliText, InfoClampsTheMftToTheVolume) {
    // The $MFT's run claims 2^28 clusters (1 TiB) on a 1 MiB volume.
    testing_support::TScratchDir dir;
    testing_support::TVolumeLayout layout;
    layout.mftRuns = {{4, std::uint64_t{1} << 28}};
    testing_support::TVolumeBuilder builder(layout);
    const auto& bytes = builder.Bytes();
    const std::string path = dir.Path("big-mft.img");
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    const auto r = RunCommand(Cli("info '" + path + "'"));
    const std::uint64_t volume = bytes.size();
    EXPECT_NE(r.out.find("Records: " + std::to_string(volume / 1024) + "\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("MFT size: " + std::to_string(volume) + " bytes\n"), std::string::npos) << r.out;
}

}  // namespace
