// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/dock_layout.h"

#include <algorithm>
#include <initializer_list>

namespace win32app {

namespace {

enum class TDock { Top, Bottom, Left, Right, Fill };

// One docked item: its part, edge, design thickness, bevel width (what its
// children are inset by) and children, listed in the order they take their
// edge (the outermost first).
struct TItem {
    TPart Part;
    TDock Dock;
    int Size;
    int Bevel;
    std::initializer_list<TItem> Children;
};

void Place(const TItem& item, TRect& area, int dpi, TLayout& out) {
    const int size = Scale(item.Size, dpi);
    TRect r = area;
    switch (item.Dock) {
        case TDock::Top:
            r.Bottom = std::min(area.Bottom, area.Top + size);
            area.Top = r.Bottom;
            break;
        case TDock::Bottom:
            r.Top = std::max(area.Top, area.Bottom - size);
            area.Bottom = r.Top;
            break;
        case TDock::Left:
            r.Right = std::min(area.Right, area.Left + size);
            area.Left = r.Right;
            break;
        case TDock::Right:
            r.Left = std::max(area.Left, area.Right - size);
            area.Right = r.Left;
            break;
        case TDock::Fill:
            area.Left = area.Right;  // nothing is left beside a fill
            break;
    }
    out[static_cast<std::size_t>(item.Part)] = r;
    const int bevel = Scale(item.Bevel, dpi);
    TRect inner{r.Left + bevel, r.Top + bevel, std::max(r.Left + bevel, r.Right - bevel),
                std::max(r.Top + bevel, r.Bottom - bevel)};
    // Edges first, in list order, then the fill: the fill takes what the
    // edges leave whatever its place in the list.
    for (const TItem& child : item.Children)
        if (child.Dock != TDock::Fill) Place(child, inner, dpi, out);
    for (const TItem& child : item.Children)
        if (child.Dock == TDock::Fill) Place(child, inner, dpi, out);
}

}  // namespace

int Scale(int designPixels, int dpi) {
    return (designPixels * dpi + 48) / 96;
}

TLayout Arrange(int width, int height, int dpi, int leftPaneWidth) {
    using enum TPart;
    using enum TDock;
    // The bar inside pnl3 is 31 px high: the bar's 33 less its bevel.
    const TItem left{pnl1,
                     Left,
                     leftPaneWidth,
                     1,
                     {
                         {pnl4, Top, 33, 1, {{btnScan, Fill, 0, 0, {}}}},
                         {edtPath, Bottom, 24, 0, {}},
                         {dirlstDLB, Bottom, 200, 0, {}},
                         {drvcbbDCB, Bottom, 25, 0, {}},
                         {pnl12,
                          Bottom,
                          126,
                          1,
                          {
                              {spl2, Top, 2, 0, {}},
                              {lblDrive_Title, Top, 32, 0, {}},
                              {lblDriveName, Top, 17, 0, {}},
                              {lblDriveSerial, Top, 17, 0, {}},
                              {lblDriveSize, Top, 17, 0, {}},
                              {lblDriveMFTRecordsCount, Top, 17, 0, {}},
                              {spl3, Bottom, 2, 0, {}},
                          }},
                         {lstDriveList, Fill, 0, 0, {}},
                     }};
    const TItem right{pnl2,
                      Fill,
                      0,
                      1,
                      {
                          {pnl3,
                           Top,
                           33,
                           1,
                           {
                               {btnRecover, Left, 88, 0, {}},
                               {chk1, Left, 98, 0, {}},
                               {rb1, Left, 140, 0, {}},
                               {rb2, Left, 112, 0, {}},
                               {pnl6, Right, 221, 0, {{btn2, Right, 52, 0, {}}, {edt1, Right, 145, 0, {}}}},
                               {lblDelCount, Right, 108, 0, {}},
                           }},
                          {pnl5, Bottom, 28, 1, {{pb1, Fill, 0, 0, {}}}},
                          {lv1, Fill, 0, 0, {}},
                      }};
    TLayout out{};
    TRect area{0, 0, width, height};
    // A collapsed pane keeps its splitter, so it can be dragged out again.
    if (leftPaneWidth > 0) Place(left, area, dpi, out);
    Place({spl1, Left, 1, 0, {}}, area, dpi, out);
    Place(right, area, dpi, out);
    return out;
}

int LeftPaneWidthAfterDrag(int x, int clientWidth, int dpi) {
    const int maxWidth = clientWidth - Scale(1 + kRightPaneMinWidth, dpi);
    const int design = (std::min(x, maxWidth) * 96 + dpi / 2) / dpi;
    return design <= kCollapseWidth ? 0 : design;
}

}  // namespace win32app
