// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows window's docking: every part's place at the design size, what
// grows when the window grows, the scaling per dpi and the splitter's rules.
#include <gtest/gtest.h>

#include "app/win32/dock_layout.h"

namespace {

using win32app::Arrange;
using win32app::TPart;
using win32app::TRect;

TRect At(const win32app::TLayout& layout, TPart part) {
    return layout[static_cast<std::size_t>(part)];
}

TEST(Win32DockLayout, DesignSizePlacesEveryPart) {
    const auto layout = Arrange(983, 596, 96);
    struct TCase {
        TPart Part;
        TRect Want;
    };
    // Panels are inset by their 1 px bevel; the bottom stack of the left
    // pane ends at the window's bottom edge with edtPath.
    const TCase cases[] = {
        {TPart::pnl1, {0, 0, 197, 596}},
        {TPart::btnScan, {2, 2, 195, 33}},
        {TPart::lstDriveList, {1, 34, 196, 220}},
        {TPart::pnl12, {1, 220, 196, 346}},
        {TPart::lblDrive_Title, {2, 223, 195, 255}},
        {TPart::lblDriveMFTRecordsCount, {2, 306, 195, 323}},
        {TPart::spl3, {2, 343, 195, 345}},
        {TPart::drvcbbDCB, {1, 346, 196, 371}},
        {TPart::dirlstDLB, {1, 371, 196, 571}},
        {TPart::edtPath, {1, 571, 196, 595}},
        {TPart::spl1, {197, 0, 198, 596}},
        {TPart::pnl2, {198, 0, 983, 596}},
        {TPart::btnRecover, {200, 2, 288, 33}},
        {TPart::chk1, {288, 2, 386, 33}},
        {TPart::rb1, {386, 2, 526, 33}},
        {TPart::rb2, {526, 2, 638, 33}},
        {TPart::pnl6, {760, 2, 981, 33}},
        {TPart::btn2, {929, 2, 981, 33}},
        {TPart::edt1, {784, 2, 929, 33}},
        {TPart::lblDelCount, {652, 2, 760, 33}},
        {TPart::lv1, {199, 34, 982, 567}},
        {TPart::pb1, {200, 568, 981, 594}},
    };
    for (const TCase& c : cases) {
        const TRect got = At(layout, c.Part);
        EXPECT_EQ(got, c.Want) << "part " << static_cast<int>(c.Part) << " at " << got.Left << "," << got.Top
                               << "," << got.Right << "," << got.Bottom;
    }
}

TEST(Win32DockLayout, OnlyTheDriveListAndTheResultsListGrow) {
    const auto small = Arrange(983, 596, 96);
    const auto big = Arrange(1283, 796, 96);
    EXPECT_EQ(At(big, TPart::lstDriveList).Height(), At(small, TPart::lstDriveList).Height() + 200);
    EXPECT_EQ(At(big, TPart::lv1).Height(), At(small, TPart::lv1).Height() + 200);
    EXPECT_EQ(At(big, TPart::lv1).Width(), At(small, TPart::lv1).Width() + 300);
    for (TPart fixed : {TPart::pnl1, TPart::dirlstDLB, TPart::pnl12, TPart::edtPath, TPart::btnRecover,
                        TPart::edt1, TPart::pb1}) {
        EXPECT_EQ(At(big, fixed).Width() == At(small, fixed).Width() || fixed == TPart::pb1, true);
        EXPECT_EQ(At(big, fixed).Height() == At(small, fixed).Height() || fixed == TPart::pnl1, true);
    }
    // The command bar's right group stays against the right edge.
    EXPECT_EQ(At(big, TPart::btn2).Right, 1281);
}

TEST(Win32DockLayout, ScalesPerDpi) {
    const auto layout = Arrange(1475, 894, 144);  // 150 %
    EXPECT_EQ(At(layout, TPart::pnl1).Width(), 296);
    EXPECT_EQ(At(layout, TPart::edtPath).Height(), 36);
    EXPECT_EQ(At(layout, TPart::btnRecover).Width(), 132);
    EXPECT_EQ(win32app::Scale(23, 120), 29);
    EXPECT_EQ(win32app::Scale(0, 192), 0);
}

TEST(Win32DockLayout, SplitterCollapsesAndKeepsTheRightPane) {
    struct TCase {
        int X;
        int Want;
    };
    const TCase cases[] = {{197, 197}, {31, 31}, {30, 0}, {5, 0}, {983, 983 - 31}, {2000, 983 - 31}};
    for (const TCase& c : cases) EXPECT_EQ(win32app::LeftPaneWidthAfterDrag(c.X, 983, 96), c.Want) << c.X;
    // A collapsed pane hides its parts but keeps the splitter.
    const auto collapsed = Arrange(983, 596, 96, 0);
    EXPECT_EQ(At(collapsed, TPart::btnScan).Width(), 0);
    EXPECT_EQ(At(collapsed, TPart::spl1), (TRect{0, 0, 1, 596}));
    EXPECT_EQ(At(collapsed, TPart::pnl2).Left, 1);
}

}  // namespace
