// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 raw volume and drive code: image files opened by path, and a
// drive letter opened as its raw device "\\.\D:". scripts/test-windows maps a
// fixture image as a raw drive and names it in LUMBRA_TEST_DRIVE (with the
// image's path and label); without that the drive tests are skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "ntfs/boot_sector.h"
#include "platform/drives.h"
#include "platform/raw_volume.h"
#include "scan/drive_letters.h"
#include "scan/probe.h"
#include "scan/volume_source.h"
#include "windows/win_support.h"

namespace {

using testing_support::Env;
using testing_support::UnderWine;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 11));
    return bytes;
}

void ExpectReadMatches(platform::TRawVolume& volume, const std::vector<std::uint8_t>& image,
                       std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> out(length, 0xEE);
    const std::size_t got = volume.ReadAt(offset, out);
    const std::size_t expected =
        offset >= image.size()
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(length, image.size() - offset));
    ASSERT_EQ(got, expected) << "offset " << offset << " length " << length;
    for (std::size_t i = 0; i < got; ++i)
        ASSERT_EQ(out[i], image[static_cast<std::size_t>(offset) + i])
            << "offset " << offset << " byte " << i;
    for (std::size_t i = got; i < length; ++i) ASSERT_EQ(out[i], 0xEE);
}

TEST(RawVolumeWin, ImageFileReadsAnyRangeAndStopsAtItsEnd) {
    testing_support::TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    // A non-ASCII name checks the UTF-8 path reaches CreateFileW intact; the
    // size is whole 512-byte sectors but not whole 4096-byte units.
    const std::string path = dir.Path("volume-\xE6\x96\x87\xE4\xBB\xB6.img");
    const std::vector<std::uint8_t> image = Pattern(3 * 1048576 + 5 * 512);
    ASSERT_TRUE(testing_support::WriteWholeFile(path, image));

    auto volume = platform::OpenRawVolumePath(path);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->Size(), image.size());
    ExpectReadMatches(*volume, image, 0, ntfs::boot_sector::kReadSize);
    ExpectReadMatches(*volume, image, 16384 + 1024, 1024);
    ExpectReadMatches(*volume, image, 12345, 100000);
    ExpectReadMatches(*volume, image, 4096, 4u << 20);
    ExpectReadMatches(*volume, image, image.size() - 1024, 4096);
    ExpectReadMatches(*volume, image, image.size(), 512);
    ExpectReadMatches(*volume, image, image.size() + 4096, 512);
}

TEST(RawVolumeWin, WhatDoesNotExistDoesNotOpen) {
    testing_support::TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    EXPECT_EQ(platform::OpenRawVolumePath(dir.Path("missing.img")), nullptr);
    // A letter that is no drive: the raw device open fails, as for a drive
    // the user has no right to read.
    const std::uint32_t mask = platform::GetLogicalDrivesMask();
    for (char letter = 'Z'; letter >= 'D'; --letter) {
        if ((mask & (std::uint32_t{1} << (letter - 'A'))) != 0) continue;
        // A letter may also stand for a further NTFS partition of a mapped
        // disk, though no logical drive has it: such a letter is known too.
        if (scan::ResolveDriveLetter(std::string(1, letter) + ":")) continue;
        scan::TSourceRequest request;
        request.Name = std::string(1, letter) + ":";
        const scan::TOpenedSource opened = scan::OpenSource(request);
        EXPECT_EQ(opened.Volume, nullptr) << letter;
        ASSERT_TRUE(opened.OpenFailure) << letter;
        EXPECT_EQ(opened.OpenFailure->Kind, platform::TOpenError::NoSuchDrive) << letter;
        EXPECT_FALSE(scan::ProbeDrive(std::string(1, letter) + ":").has_value()) << letter;
        break;
    }
}

TEST(DrivesWin, LettersAreTheLogicalDrivesAndOpenAsRawDevices) {
    const std::uint32_t mask = platform::GetLogicalDrivesMask();
    EXPECT_NE(mask & (1u << ('C' - 'A')), 0u) << "C: is always there";
    const auto table = platform::DriveTable();
    std::uint32_t fromTable = 0;
    for (const platform::TDriveEntry& e : table) {
        fromTable |= 1u << (e.Letter - 'A');
        EXPECT_EQ(e.Path, std::string("\\\\.\\") + e.Letter + ":");
    }
    EXPECT_EQ(fromTable, mask);
    // The one letter resolver: a logical drive stands for its raw device.
    const auto c = scan::ResolveDriveLetter("c:");
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->Path, "\\\\.\\C:");
    EXPECT_FALSE(scan::ResolveDriveLetter("C:\\").has_value());
}

class RawDriveWin : public testing::Test {
protected:
    void SetUp() override {
        const auto drive = Env("LUMBRA_TEST_DRIVE");
        const auto image = Env("LUMBRA_TEST_DRIVE_IMAGE");
        if (!drive || !image) GTEST_SKIP() << "no raw drive mapped (scripts/test-windows maps one)";
        m_drive = *drive;
        auto bytes = testing_support::ReadWholeFile(*image);
        ASSERT_TRUE(bytes.has_value()) << *image;
        m_image = std::move(*bytes);
    }
    std::string m_drive;
    std::vector<std::uint8_t> m_image;
};

TEST_F(RawDriveWin, RawDeviceServesTheVolumesBytes) {
    scan::TSourceRequest request;
    request.Name = m_drive;
    request.Scope = scan::TSourceScope::AsItIs;
    const scan::TOpenedSource opened = scan::OpenSource(request);
    platform::TRawVolume* const volume = opened.Volume.get();
    ASSERT_NE(volume, nullptr) << m_drive;
    EXPECT_EQ(volume->Size(), m_image.size());
    ExpectReadMatches(*volume, m_image, 0, ntfs::boot_sector::kReadSize);
    ExpectReadMatches(*volume, m_image, 16384 + 1024, 1024);
    ExpectReadMatches(*volume, m_image, 4096, 4u << 20);
    ExpectReadMatches(*volume, m_image, m_image.size() - 1024, 4096);
    ExpectReadMatches(*volume, m_image, m_image.size(), 4096);

    const auto probe = scan::ProbeDrive(m_drive);
    ASSERT_TRUE(probe.has_value());
    EXPECT_EQ(probe->Oem, "NTFS");
}

TEST_F(RawDriveWin, VolumeLabel) {
    const std::string label = platform::GetVolumeLabelOfPath("\\\\.\\" + m_drive.substr(0, 2));
    const auto expected = Env("LUMBRA_TEST_DRIVE_LABEL");
    if (UnderWine() && label.empty()) {
        // Wine reads labels only of file systems it knows itself; for a raw
        // device mapped to an NTFS image it reports none. What is checked
        // here is that the lookup ends in empty text rather than failing.
        std::cout << "[   NOTE   ] wine gives no volume label for a raw-mapped drive; label not compared\n";
        return;
    }
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(label, *expected);
}

TEST_F(RawDriveWin, RawHandleRejectsUnalignedReads) {
    // The rule the sector reader exists for. Windows refuses a read of a
    // volume handle that is not whole sectors at a sector-aligned position;
    // wine serves the mapped image like a file and allows it, so there the
    // rule is checked on the strict device of the SectorReader tests only.
    const std::wstring device = L"\\\\.\\" + platform::Widen(m_drive);
    const HANDLE h = ::CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER pos{};
    pos.QuadPart = 3;
    std::vector<std::uint8_t> buf(100);
    DWORD got = 0;
    const bool ok = ::SetFilePointerEx(h, pos, nullptr, FILE_BEGIN) &&
                    ::ReadFile(h, buf.data(), static_cast<DWORD>(buf.size()), &got, nullptr);
    ::CloseHandle(h);
    if (UnderWine()) {
        std::cout << "[   NOTE   ] wine " << (ok ? "serves" : "refuses")
                  << " an unaligned read of a raw-mapped drive; Windows refuses it\n";
        return;
    }
    EXPECT_FALSE(ok);
}

}  // namespace
