// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's layout as docking rules, computed without any window.
//
// Every control sits in a tree of docked items: an item docked to an edge
// keeps its thickness and takes the whole length of that edge of what its
// parent has left; the item docked to fill takes the rest. The tree holds the
// design sizes at 96 dpi; Arrange scales each size to the window's dpi and
// gives every control its rectangle in client coordinates, so resizing and a
// move to a monitor of another dpi are one call. Pure, so the numbers are
// tested without Windows.
#pragma once

#include <array>
#include <cstddef>

namespace win32app {

// One id per control and panel of the main window. The panels (pnl1, pnl2,
// pnl3, pnl4, pnl5, pnl6, pnl12) and the strips (spl1, spl2, spl3) are not
// windows: the main window paints their bevels and cursors itself.
enum class TPart : std::size_t {
    pnl1,
    pnl4,
    btnScan,
    lstDriveList,
    pnl12,
    spl2,
    lblDrive_Title,
    lblDriveName,
    lblDriveSerial,
    lblDriveSize,
    lblDriveMFTRecordsCount,
    spl3,
    drvcbbDCB,
    dirlstDLB,
    edtPath,
    spl1,
    pnl2,
    pnl3,
    btnRecover,
    chk1,
    rb1,
    rb2,
    pnl6,
    btn2,
    edt1,
    lblDelCount,
    lv1,
    pnl5,
    pb1,
    Count
};

constexpr std::size_t kPartCount = static_cast<std::size_t>(TPart::Count);

// The window id of a part's control (GetDlgItem), for the window and for
// the test that drives it from another process.
constexpr int ControlId(TPart part) {
    return 100 + static_cast<int>(part);
}

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

using TLayout = std::array<TRect, kPartCount>;

// Design size of the client area at 96 dpi.
inline constexpr int kDesignWidth = 983;
inline constexpr int kDesignHeight = 596;
inline constexpr int kLeftPaneWidth = 197;
// A left pane dragged to this width or less collapses; the right pane keeps
// at least its own minimum.
inline constexpr int kCollapseWidth = 30;
inline constexpr int kRightPaneMinWidth = 30;

// Scales a design length to dpi, rounding to the nearest pixel.
int Scale(int designPixels, int dpi);

// The rectangles of every part for a client area of width x height pixels at
// dpi. leftPaneWidth is in design pixels (the splitter moves it); 0 hides
// the left pane and everything in it (all its parts get empty rectangles).
TLayout Arrange(int width, int height, int dpi, int leftPaneWidth = kLeftPaneWidth);

// Where a drag of spl1 that ends at x (client pixels) leaves the left pane,
// in design pixels: collapsed at kCollapseWidth or less, and never so wide
// that the right pane falls under its minimum.
int LeftPaneWidthAfterDrag(int x, int clientWidth, int dpi);

}  // namespace win32app
