// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/results_list.h"

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
