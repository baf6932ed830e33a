// SPDX-License-Identifier: GPL-3.0-or-later
// lv1: the results list as a virtual (owner-data) list view.
//
// The list view holds no rows: it knows only their count and asks for each
// visible cell and tick as it draws (LVN_GETDISPINFOW), so 300,000 rows cost
// one LVM_SETITEMCOUNT, not 300,000 insertions. The rows live behind
// TRowSource, in display order. Ticks are state images answered from the
// source, so LVM_GETITEMSTATE reports them as any list view would.
//
// Each row's tooltip and text colour (NM_CUSTOMDRAW) come from the source
// too, so the rows' details cost nothing until shown. The tooltip is a
// tooltip control of the list's own, asked for its text per cell as it
// shows (TTN_GETDISPINFOW), not the list view's info tip: wine's list view
// never sends LVN_GETINFOTIP, and one mechanism should serve both.
//
// ListViewWndProc is a window subclass of the list view: the header tells
// its parent, the list view, before a divider drag starts (HDN_BEGINTRACK)
// and on a divider double-click (which would fit the column to its contents);
// the subclass refuses both, so the columns keep their widths, while header
// clicks still reach the list and its parent and sort.
#pragma once

#include "app/win32/win_api.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/win32/controls.h"

namespace win32app {

// What the list shows, in display order.
class TRowSource {
public:
    virtual ~TRowSource() = default;
    virtual std::size_t RowCount() const = 0;
    // Column 0 is the caption, 1..5 the sub-items. The view must stay valid
    // until the next call.
    virtual std::wstring_view Cell(std::size_t row, int column) const = 0;
    virtual bool Ticked(std::size_t row) const = 0;
    virtual void SetTicked(std::size_t row, bool ticked) = 0;
    // Where the file was and what survived of it; empty until the scan has
    // told, when the list shows a cut-off cell's own text instead.
    virtual std::u16string ToolTip(std::size_t row) const = 0;
    // The row's text colour when it is not the list's own.
    virtual std::optional<COLORREF> Tint(std::size_t row) const = 0;
};

class TResultsList : public TControl {
public:
    static constexpr int kColumnCount = 6;

    void Create(HWND parent, int id, int dpi, TRowSource& rows);
    // Installs and removes ListViewWndProc.
    void InstallHook();
    void RemoveHook();
    bool HookInstalled() const { return m_hooked; }

    // Column widths for dpi.
    void ApplyDpi(int dpi);
    // The source's row count changed; rows already shown keep their place.
    void RowCountChanged();
    // Every row may have changed (a sort, Select All).
    void RedrawAll();
    void RedrawRow(std::size_t row);
    // Focus, add to the selection, scroll fully into view.
    void FocusAndSelect(std::size_t row);

    // The parent forwards the list's WM_NOTIFY here; true when handled,
    // with the result in *result.
    bool OnNotify(const NMHDR& header, LRESULT* result);

private:
    static LRESULT CALLBACK ListViewWndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                            DWORD_PTR self);
    static LRESULT CALLBACK TipWndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR id,
                                       DWORD_PTR self);
    void CreateTips(int dpi);
    // The row and column under a point of the list's client area.
    std::optional<std::pair<std::size_t, int>> CellAt(POINT client) const;
    void ToggleRow(std::size_t row);
    LRESULT CustomDraw(NMLVCUSTOMDRAW& draw) const;

    TRowSource* m_rows = nullptr;
    bool m_hooked = false;
    HWND m_tips = nullptr;  // owned by the list: goes with it
    std::optional<std::pair<std::size_t, int>> m_tipCell;
    std::wstring m_tipText;
};

// The columns: design width, alignment (headers: form::texts).
struct TColumnSpec {
    int Width;
    int Format;
};
inline constexpr TColumnSpec kColumns[TResultsList::kColumnCount] = {
    {23, LVCFMT_LEFT},   {282, LVCFMT_CENTER}, {68, LVCFMT_CENTER},
    {80, LVCFMT_CENTER}, {158, LVCFMT_CENTER}, {158, LVCFMT_CENTER},
};

}  // namespace win32app
