#include <gtest/gtest.h>

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
