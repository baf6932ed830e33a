// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>

#include "platform/drives.h"
#include "scan/drive_letters.h"

TEST(DriveTable, ParsesLetterPathPairs) {
    const auto t = platform::ParseDriveTable("e=/dev/sdb1;D=/tmp/disk.img;;bad;1=/x;D=/other;F=");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].Letter, 'D');
    EXPECT_EQ(t[0].Path, "/tmp/disk.img");  // the first mapping of a letter wins
    EXPECT_EQ(t[1].Letter, 'E');
    EXPECT_EQ(t[1].Path, "/dev/sdb1");
    EXPECT_TRUE(platform::ParseDriveTable("").empty());
}

// The path a letter stands for, as the one letter resolver reads it.
std::optional<std::string> PathOf(const std::string& drive) {
    const auto letter = scan::ResolveDriveLetter(drive);
    return letter ? std::optional<std::string>(letter->Path) : std::nullopt;
}

TEST(DriveTable, EnvironmentDefinesTheLettersAndMask) {
    ::setenv("LUMBRA_DRIVES", "D=/tmp/a.img;F=/tmp/b.img", 1);
    EXPECT_EQ(platform::GetLogicalDrivesMask(), (1u << 3) | (1u << 5));
    EXPECT_EQ(PathOf("d:"), "/tmp/a.img");
    EXPECT_EQ(PathOf("F:"), "/tmp/b.img");
    EXPECT_FALSE(PathOf("C:"));
    EXPECT_FALSE(PathOf("D:\\"));
    ::unsetenv("LUMBRA_DRIVES");
}

TEST(DriveTable, DriveStrings) {
    EXPECT_TRUE(platform::IsDriveString("C:"));
    EXPECT_TRUE(platform::IsDriveString("d:"));
    EXPECT_FALSE(platform::IsDriveString("C"));
    EXPECT_FALSE(platform::IsDriveString("C:\\"));
    EXPECT_FALSE(platform::IsDriveString("/dev/sda1"));
}

TEST(DriveTable, StarAddsTheMachineDevicesOnFreeLetters) {
    ::setenv("LUMBRA_DRIVES", "C=/tmp/sample.img;*", 1);
    const auto withMachine = platform::DriveTable();
    ::unsetenv("LUMBRA_DRIVES");
    const auto machine = platform::DriveTable();
    ASSERT_EQ(withMachine.size(), std::min<std::size_t>(machine.size() + 1, 24));
    EXPECT_EQ(withMachine[0].Letter, 'C');
    EXPECT_EQ(withMachine[0].Path, "/tmp/sample.img");
    for (std::size_t i = 1; i < withMachine.size(); ++i) {
        EXPECT_EQ(withMachine[i].Path, machine[i - 1].Path);  // same order, shifted past C:
        EXPECT_EQ(withMachine[i].Letter, static_cast<char>('C' + i));
    }
}

// A machine with many snap loop devices and one NTFS partition late in name
// order: the NTFS volume still gets a letter, and the first one.
TEST(DriveLetters, NtfsVolumesComeFirstAmongManyLoopDevices) {
    std::vector<platform::TDeviceCandidate> devices;
    for (int i = 0; i < 40; ++i) devices.push_back({"/dev/loop" + std::to_string(i), false});
    devices.push_back({"/dev/sdb1", true});
    devices.push_back({"/dev/sdb2", false});
    devices.push_back({"/dev/sdc1", true});
    const auto table = platform::AssignDriveLetters({}, {}, devices);
    ASSERT_EQ(table.size(), 24u);  // C: to Z:
    EXPECT_EQ(table[0].Letter, 'C');
    EXPECT_EQ(table[0].Path, "/dev/sdb1");
    EXPECT_EQ(table[1].Letter, 'D');
    EXPECT_EQ(table[1].Path, "/dev/sdc1");
    EXPECT_EQ(table[2].Path, "/dev/loop0");
}

TEST(DriveLetters, FixedEntriesAndEarlierLettersKeepTheirDevices) {
    const std::vector<platform::TDriveEntry> fixed = {{'C', "/tmp/sample.img"}};
    const auto first = platform::AssignDriveLetters(fixed, {}, {{"/dev/sda1", false}, {"/dev/sdb1", true}});
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[1].Letter, 'D');
    EXPECT_EQ(first[1].Path, "/dev/sdb1");
    EXPECT_EQ(first[2].Letter, 'E');
    EXPECT_EQ(first[2].Path, "/dev/sda1");
    // A disk plugged in later sorts first by name and is NTFS: it takes a
    // free letter, and no earlier letter moves.
    const auto second = platform::AssignDriveLetters(
        fixed, first, {{"/dev/sda0", true}, {"/dev/sda1", false}, {"/dev/sdb1", true}});
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(second[0].Path, "/tmp/sample.img");
    EXPECT_EQ(second[1].Path, "/dev/sdb1");
    EXPECT_EQ(second[2].Path, "/dev/sda1");
    EXPECT_EQ(second[3].Letter, 'F');
    EXPECT_EQ(second[3].Path, "/dev/sda0");
    // A device that went away keeps its letter: nothing else takes it.
    const auto third = platform::AssignDriveLetters(fixed, second, {{"/dev/sdz9", false}});
    ASSERT_EQ(third.size(), 5u);
    EXPECT_EQ(third[2].Path, "/dev/sda1");
    EXPECT_EQ(third[4].Letter, 'G');
}

TEST(DriveTable, ResolvedOncePerMappingAndRefreshedOnRequest) {
    ::setenv("LUMBRA_DRIVES", "D=/tmp/a.img;*", 1);
    const auto first = platform::DriveTable();
    const auto again = platform::DriveTable();
    ASSERT_EQ(first.size(), again.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].Letter, again[i].Letter);
        EXPECT_EQ(first[i].Path, again[i].Path);
    }
    const auto refreshed = platform::RefreshDriveTable();
    ASSERT_GE(refreshed.size(), first.size());
    for (const auto& e : first) {
        const auto it = std::find_if(refreshed.begin(), refreshed.end(),
                                     [&](const platform::TDriveEntry& r) { return r.Letter == e.Letter; });
        ASSERT_NE(it, refreshed.end());
        EXPECT_EQ(it->Path, e.Path);
    }
    EXPECT_EQ(PathOf("D:"), "/tmp/a.img");
    ::setenv("LUMBRA_DRIVES", "D=/tmp/b.img", 1);  // a new mapping is a new table
    EXPECT_EQ(PathOf("D:"), "/tmp/b.img");
    ::unsetenv("LUMBRA_DRIVES");
}

// A whole disk in the table gives each NTFS partition a letter: its own
// letter first, then the next letters above it that no entry holds.
TEST(DriveLetters, PartitionedEntriesSplitIntoOneLetterPerNtfsPartition) {
    const std::map<std::string, std::vector<std::uint32_t>> disks = {
        {"/mbr.img", {1, 2, 5}}, {"/gpt.img", {2}}, {"/two.img", {1, 3}}};
    const auto partitionsOf = [&](const std::string& path) {
        const auto it = disks.find(path);
        return it == disks.end() ? std::vector<std::uint32_t>{} : it->second;
    };
    struct TCase {
        const char* table;
        const char* want;  // letter=path#partition, in letter order
    };
    const TCase cases[] = {
        {"D=/mbr.img", "D=/mbr.img#1 E=/mbr.img#2 F=/mbr.img#5"},
        {"D=/mbr.img;E=/plain.img", "D=/mbr.img#1 E=/plain.img F=/mbr.img#2 G=/mbr.img#5"},
        {"D=/mbr.img;F=/plain.img", "D=/mbr.img#1 E=/mbr.img#2 F=/plain.img G=/mbr.img#5"},
        {"D=/mbr.img;E=/two.img", "D=/mbr.img#1 E=/two.img#1 F=/mbr.img#2 G=/mbr.img#5 H=/two.img#3"},
        {"Y=/mbr.img", "Y=/mbr.img#1 Z=/mbr.img#2"},  // no letter left for 5
        {"D=/gpt.img;E=/plain.img", "D=/gpt.img#2 E=/plain.img"},
        {"C=/notable.img", "C=/notable.img"},
        {"", ""},
    };
    for (const TCase& c : cases) {
        std::string got;
        for (const auto& d : scan::SplitDriveTable(platform::ParseDriveTable(c.table), partitionsOf, {})) {
            if (!got.empty()) got += ' ';
            got += std::string(1, d.Letter) + "=" + d.Path;
            if (d.Partition) got += "#" + std::to_string(*d.Partition);
        }
        EXPECT_EQ(got, c.want) << c.table;
    }
}

// Later splits keep every letter given: a partition that appears takes a
// free letter, a new entry on a letter a partition holds moves up, and a
// partition that went away keeps its letter from everyone else.
TEST(DriveLetters, LettersOfPartitionsNeverMove) {
    std::map<std::string, std::vector<std::uint32_t>> disks = {{"/mbr.img", {1, 2, 5}}};
    const auto partitionsOf = [&](const std::string& path) {
        const auto it = disks.find(path);
        return it == disks.end() ? std::vector<std::uint32_t>{} : it->second;
    };
    const auto show = [](const std::vector<scan::TDriveLetter>& letters) {
        std::string s;
        for (const auto& d : letters) {
            if (!s.empty()) s += ' ';
            s += std::string(1, d.Letter) + "=" + d.Path +
                 (d.Partition ? "#" + std::to_string(*d.Partition) : "");
        }
        return s;
    };
    const auto first =
        scan::SplitDriveTable(platform::ParseDriveTable("D=/mbr.img;E=/a.img"), partitionsOf, {});
    EXPECT_EQ(show(first), "D=/mbr.img#1 E=/a.img F=/mbr.img#2 G=/mbr.img#5");
    disks["/mbr.img"] = {1, 2, 5, 6};
    const auto second = scan::SplitDriveTable(platform::ParseDriveTable("D=/mbr.img;E=/a.img;F=/dev/sdx1"),
                                              partitionsOf, first);
    EXPECT_EQ(show(second), "D=/mbr.img#1 E=/a.img F=/mbr.img#2 G=/mbr.img#5 H=/mbr.img#6 I=/dev/sdx1");
    disks["/mbr.img"] = {1, 5, 6};
    const auto third = scan::SplitDriveTable(
        platform::ParseDriveTable("D=/mbr.img;E=/a.img;F=/dev/sdx1;J=/b.img"), partitionsOf, second);
    EXPECT_EQ(show(third),
              "D=/mbr.img#1 E=/a.img F=/mbr.img#2 G=/mbr.img#5 H=/mbr.img#6 I=/dev/sdx1 J=/b.img");
    // Splitting again with nothing changed gives the same letters.
    EXPECT_EQ(
        show(scan::SplitDriveTable(platform::ParseDriveTable("D=/mbr.img;E=/a.img;F=/dev/sdx1;J=/b.img"),
                                   partitionsOf, third)),
        show(third));
}
