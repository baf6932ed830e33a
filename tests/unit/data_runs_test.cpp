// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "ntfs/data_runs.h"

namespace {

ntfs::TRunList Decode(const std::vector<std::uint8_t>& bytes) {
    return ntfs::DecodeRunList({bytes.data(), bytes.size()});
}

TEST(DataRuns, ThreeRunExample) {
    const auto list = Decode({0x11, 0x04, 0x64, 0x11, 0x02, 0xF6, 0x01, 0x03, 0x00});
    ASSERT_EQ(list.Runs.size(), 3u);
    EXPECT_FALSE(list.Truncated);
    EXPECT_EQ(list.Runs[0].Lcn, 100);
    EXPECT_EQ(list.Runs[0].Length, 4u);
    EXPECT_FALSE(list.Runs[0].Sparse);
    EXPECT_EQ(list.Runs[1].Lcn, 90);  // delta F6 = -10
    EXPECT_EQ(list.Runs[1].Vcn, 4u);
    EXPECT_EQ(list.Runs[2].Length, 3u);
    EXPECT_TRUE(list.Runs[2].Sparse);
    EXPECT_EQ(list.Runs[2].Vcn, 6u);
}

TEST(DataRuns, OffsetsAreExactlyTheirWidth) {
    // A later one-byte 80 moves back 128; as the first run it is LCN 128.
    auto l = Decode({0x11, 0x01, 0xFF, 0x11, 0x01, 0x80, 0x00});
    ASSERT_EQ(l.Runs.size(), 2u);
    EXPECT_EQ(l.Runs[0].Lcn, 255);
    EXPECT_EQ(l.Runs[1].Lcn, 127);
    l = Decode({0x11, 0x01, 0x80, 0x00});
    EXPECT_EQ(l.Runs[0].Lcn, 128);
    // Two bytes 00 FF: back 256 later, 65280 first.
    l = Decode({0x21, 0x01, 0x00, 0x10, 0x21, 0x01, 0x00, 0xFF, 0x00});
    ASSERT_EQ(l.Runs.size(), 2u);
    EXPECT_EQ(l.Runs[0].Lcn, 0x1000);
    EXPECT_EQ(l.Runs[1].Lcn, 0x1000 - 256);
    l = Decode({0x21, 0x01, 0x00, 0xFF, 0x00});
    EXPECT_EQ(l.Runs[0].Lcn, 65280);
    // Three-byte positive delta whose top bit is clear.
    l = Decode({0x11, 0x01, 0x10, 0x31, 0x01, 0x00, 0x00, 0x7F, 0x00});
    EXPECT_EQ(l.Runs[1].Lcn, 0x10 + 0x7F0000);
}

TEST(DataRuns, SparseAndEmptyRuns) {
    // O = 1 with a zero byte is sparse; O = 0 too.
    auto l = Decode({0x11, 0x02, 0x20, 0x11, 0x05, 0x00, 0x01, 0x03, 0x11, 0x01, 0x01, 0x00});
    ASSERT_EQ(l.Runs.size(), 4u);
    EXPECT_TRUE(l.Runs[1].Sparse);
    EXPECT_EQ(l.Runs[1].Lcn, 0x20);  // the current LCN does not move
    EXPECT_TRUE(l.Runs[2].Sparse);
    EXPECT_EQ(l.Runs[3].Lcn, 0x21);
    // L = 0: no clusters, but the offset still moves the LCN.
    l = Decode({0x10, 0x40, 0x11, 0x02, 0x02, 0x00});
    ASSERT_EQ(l.Runs.size(), 2u);
    EXPECT_EQ(l.Runs[0].Length, 0u);
    EXPECT_EQ(l.Runs[1].Lcn, 0x42);
    EXPECT_EQ(l.Runs[1].Vcn, 0u);
}

TEST(DataRuns, EndsAndCuts) {
    // An empty list and a list that starts with 00.
    EXPECT_TRUE(Decode({}).Runs.empty());
    EXPECT_TRUE(Decode({}).Truncated);
    EXPECT_TRUE(Decode({0x00, 0x11, 0x01, 0x01}).Runs.empty());
    EXPECT_FALSE(Decode({0x00}).Truncated);
    // No end byte: the runs present count.
    auto l = Decode({0x11, 0x04, 0x64});
    EXPECT_EQ(l.Runs.size(), 1u);
    EXPECT_TRUE(l.Truncated);
    // A last run cut off is not used.
    l = Decode({0x11, 0x04, 0x64, 0x32, 0x01});
    EXPECT_EQ(l.Runs.size(), 1u);
    EXPECT_TRUE(l.Truncated);
}

TEST(DataRuns, WideAndHostileFields) {
    // A 9-byte length field: only its low 8 bytes count.
    auto l = Decode({0x19, 1, 0, 0, 0, 0, 0, 0, 0, 0xAB, 0x01, 0x00});
    ASSERT_EQ(l.Runs.size(), 1u);
    EXPECT_EQ(l.Runs[0].Length, 1u);
    // A 15-byte offset field, later run: low 8 bytes, as a signed value.
    std::vector<std::uint8_t> bytes = {0x11, 0x01, 0x10, 0xF1, 0x01};
    for (int i = 0; i < 8; ++i) bytes.push_back(0xFF);  // -1
    for (int i = 0; i < 7; ++i) bytes.push_back(0x12);
    bytes.push_back(0x00);
    l = Decode(bytes);
    ASSERT_EQ(l.Runs.size(), 2u);
    EXPECT_EQ(l.Runs[1].Lcn, 0x0F);
    // Lengths that would overflow the VCN count stop the decode.
    l = Decode({0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                0xFF, 0xFF, 0xFF, 0x00});
    EXPECT_EQ(l.Runs.size(), 1u);
    EXPECT_TRUE(l.Truncated);
}

}  // namespace
