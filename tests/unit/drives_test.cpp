// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/drives.h"

TEST(DriveTable, ParsesLetterPathPairs) {
    const auto t = platform::ParseDriveTable("e=/dev/sdb1;D=/tmp/disk.img;;bad;1=/x;D=/other;F=");
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].Letter, 'D');
    EXPECT_EQ(t[0].Path, "/tmp/disk.img");  // the first mapping of a letter wins
    EXPECT_EQ(t[1].Letter, 'E');
    EXPECT_EQ(t[1].Path, "/dev/sdb1");
    EXPECT_TRUE(platform::ParseDriveTable("").empty());
}

TEST(DriveTable, EnvironmentDefinesTheLettersAndMask) {
    ::setenv("LUMBRA_DRIVES", "D=/tmp/a.img;F=/tmp/b.img", 1);
    EXPECT_EQ(platform::GetLogicalDrivesMask(), (1u << 3) | (1u << 5));
    EXPECT_EQ(platform::ResolveDrive("d:"), "/tmp/a.img");
    EXPECT_EQ(platform::ResolveDrive("F:"), "/tmp/b.img");
    EXPECT_FALSE(platform::ResolveDrive("C:"));
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
    EXPECT_EQ(platform::ResolveDrive("D:"), "/tmp/a.img");
    ::setenv("LUMBRA_DRIVES", "D=/tmp/b.img", 1);  // a new mapping is a new table
    EXPECT_EQ(platform::ResolveDrive("D:"), "/tmp/b.img");
    ::unsetenv("LUMBRA_DRIVES");
}
