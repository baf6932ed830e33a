// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/results_list.h"

#include <windowsx.h>

#include <string>

#include "app/win32/dock_layout.h"
#include "form/texts.h"

namespace win32app {

void TResultsList::Create(HWND parent, int id, int dpi, TRowSource& rows) {
    m_rows = &rows;
    // No LVS_SHOWSELALWAYS: the selection shows only while the list has the
    // focus. No LVS_EDITLABELS, no border; headers clickable; no auto sort.
    TControl::Create(parent, WC_LISTVIEWW, L"", WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA, id);
    const DWORD ex = LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER;
    Send(LVM_SETEXTENDEDLISTVIEWSTYLE, ex, ex);
    // Ticks come from the source: the list asks for the state image.
    Send(LVM_SETCALLBACKMASK, LVIS_STATEIMAGEMASK);
    CreateTips(dpi);
    for (int c = 0; c < kColumnCount; ++c) {
        LVCOLUMNW col{};
        col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
        col.fmt = kColumns[c].Format;
        col.cx = Scale(kColumns[c].Width, dpi);
        std::wstring header(form::texts::kColumnHeaders[c].begin(), form::texts::kColumnHeaders[c].end());
        col.pszText = header.data();
        col.iSubItem = c;
        Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&col));
    }
}

void TResultsList::CreateTips(int dpi) {
    // One tool, the whole list; its text is asked for each time it shows.
    m_tips = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(), nullptr,
                             nullptr, nullptr);
    if (m_tips == nullptr) return;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Handle());
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(m_tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // A tooltip breaks its lines at "\n" only once it has a width to wrap at.
    SendMessageW(m_tips, TTM_SETMAXTIPWIDTH, 0, Scale(600, dpi));
    SetWindowSubclass(Handle(), TipWndProc, 2, reinterpret_cast<DWORD_PTR>(this));
}

std::optional<std::pair<std::size_t, int>> TResultsList::CellAt(POINT client) const {
    LVHITTESTINFO hit{};
    hit.pt = client;
    Send(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    if (hit.iItem < 0 || static_cast<std::size_t>(hit.iItem) >= m_rows->RowCount() || hit.iSubItem < 0)
        return std::nullopt;
    return std::pair{static_cast<std::size_t>(hit.iItem), hit.iSubItem};
}

LRESULT CALLBACK TResultsList::TipWndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                          DWORD_PTR data) {
    auto* self = reinterpret_cast<TResultsList*>(data);
    if (message == WM_MOUSEMOVE) {
        // Another cell: the tip shown is another's, so it goes, and shows
        // again with the new cell's text once the mouse rests.
        const auto cell = self->CellAt({GET_X_LPARAM(l), GET_Y_LPARAM(l)});
        if (cell != self->m_tipCell) {
            self->m_tipCell = cell;
            SendMessageW(self->m_tips, TTM_POP, 0, 0);
        }
    } else if (message == WM_NOTIFY) {
        auto* header = reinterpret_cast<NMHDR*>(l);
        if (header->hwndFrom == self->m_tips && header->code == TTN_GETDISPINFOW) {
            auto& info = *reinterpret_cast<NMTTDISPINFOW*>(header);
            self->m_tipText.clear();
            if (self->m_tipCell) {
                const auto [row, column] = *self->m_tipCell;
                // Where the file was and what survived of it, once the scan
                // has told; until then the cell's own text.
                const std::u16string tip = self->m_rows->ToolTip(row);
                if (!tip.empty())
                    self->m_tipText.assign(tip.begin(), tip.end());
                else
                    self->m_tipText = self->m_rows->Cell(row, column);
            }
            info.lpszText = self->m_tipText.data();
            info.hinst = nullptr;
            return 0;
        }
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, TipWndProc, 2);
    }
    return DefSubclassProc(hwnd, message, w, l);
}

void TResultsList::InstallHook() {
    if (!m_hooked)
        m_hooked = SetWindowSubclass(Handle(), ListViewWndProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

void TResultsList::RemoveHook() {
    if (m_hooked) RemoveWindowSubclass(Handle(), ListViewWndProc, 1);
    m_hooked = false;
}

void TResultsList::ApplyDpi(int dpi) {
    for (int c = 0; c < kColumnCount; ++c)
        Send(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(c), Scale(kColumns[c].Width, dpi));
}

void TResultsList::RowCountChanged() {
    Send(LVM_SETITEMCOUNT, m_rows->RowCount(), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void TResultsList::RedrawAll() {
    InvalidateRect(Handle(), nullptr, FALSE);
}

void TResultsList::RedrawRow(std::size_t row) {
    Send(LVM_REDRAWITEMS, row, static_cast<LPARAM>(row));
}

void TResultsList::FocusAndSelect(std::size_t row) {
    LVITEMW item{};
    item.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    item.state = LVIS_FOCUSED | LVIS_SELECTED;
    Send(LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    Send(LVM_ENSUREVISIBLE, row, FALSE);
    RedrawRow(row);
}

void TResultsList::ToggleRow(std::size_t row) {
    if (row >= m_rows->RowCount()) return;
    m_rows->SetTicked(row, !m_rows->Ticked(row));
    RedrawRow(row);
}

bool TResultsList::OnNotify(const NMHDR& header, LRESULT* result) {
    switch (header.code) {
        case LVN_GETDISPINFOW: {
            auto& info = reinterpret_cast<NMLVDISPINFOW&>(const_cast<NMHDR&>(header));
            LVITEMW& item = info.item;
            if (item.iItem < 0 || static_cast<std::size_t>(item.iItem) >= m_rows->RowCount()) return true;
            const auto row = static_cast<std::size_t>(item.iItem);
            if ((item.mask & LVIF_TEXT) != 0 && item.cchTextMax > 0) {
                const std::wstring_view text = m_rows->Cell(row, item.iSubItem);
                const std::size_t n = std::min(text.size(), static_cast<std::size_t>(item.cchTextMax - 1));
                text.copy(item.pszText, n);
                item.pszText[n] = L'\0';
            }
            if ((item.mask & LVIF_STATE) != 0 && (item.stateMask & LVIS_STATEIMAGEMASK) != 0)
                item.state =
                    (item.state & ~LVIS_STATEIMAGEMASK) | INDEXTOSTATEIMAGEMASK(m_rows->Ticked(row) ? 2 : 1);
            *result = 0;
            return true;
        }
        case NM_CUSTOMDRAW:
            *result = CustomDraw(reinterpret_cast<NMLVCUSTOMDRAW&>(const_cast<NMHDR&>(header)));
            return true;
        case NM_CLICK:
        case NM_DBLCLK: {
            // An owner-data list does not tick by itself: a click on a row's
            // check box toggles its tick in the source.
            LVHITTESTINFO hit{};
            GetCursorPos(&hit.pt);
            ScreenToClient(Handle(), &hit.pt);
            Send(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
            if (hit.iItem >= 0 && hit.iSubItem == 0 && (hit.flags & LVHT_ONITEMSTATEICON) != 0)
                ToggleRow(static_cast<std::size_t>(hit.iItem));
            *result = 0;
            return true;
        }
        case LVN_KEYDOWN: {
            // Space toggles the ticks of the selected rows, as a list with
            // its own items would.
            const auto& key = reinterpret_cast<const NMLVKEYDOWN&>(header);
            if (key.wVKey == VK_SPACE) {
                for (LRESULT i = Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED); i >= 0;
                     i = Send(LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))
                    ToggleRow(static_cast<std::size_t>(i));
            }
            *result = 0;
            return true;
        }
        default:
            return false;
    }
}

LRESULT TResultsList::CustomDraw(NMLVCUSTOMDRAW& draw) const {
    switch (draw.nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT: {
            // One colour for the whole row: every sub-item takes the item's.
            const std::size_t row = draw.nmcd.dwItemSpec;
            if (row >= m_rows->RowCount()) return CDRF_DODEFAULT;
            if (const std::optional<COLORREF> tint = m_rows->Tint(row)) {
                draw.clrText = *tint;
                return CDRF_NEWFONT;
            }
            return CDRF_DODEFAULT;
        }
        default:
            return CDRF_DODEFAULT;
    }
}

LRESULT CALLBACK TResultsList::ListViewWndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                               DWORD_PTR) {
    if (message == WM_NOTIFY) {
        const auto* header = reinterpret_cast<const NMHDR*>(l);
        switch (header->code) {
            case HDN_BEGINTRACKW:
            case HDN_BEGINTRACKA:
            case HDN_DIVIDERDBLCLICKW:
            case HDN_DIVIDERDBLCLICKA:
                return TRUE;  // refused: the divider stays where it is
            default:
                break;
        }
    }
    return DefSubclassProc(hwnd, message, w, l);
}

}  // namespace win32app
