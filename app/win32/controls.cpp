// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/controls.h"

#include <commctrl.h>

#include <utility>

namespace win32app {

TFont::TFont(int pixels, bool bold, int dpi, const wchar_t* face) {
    LOGFONTW lf{};
    // Negative: a character height, not a cell height.
    lf.lfHeight = -MulDiv(pixels, dpi, 96);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    wcsncpy_s(lf.lfFaceName, face, _TRUNCATE);
    m_font = CreateFontIndirectW(&lf);
}

TFont& TFont::operator=(TFont&& other) noexcept {
    if (this != &other) {
        Reset();
        m_font = std::exchange(other.m_font, nullptr);
    }
    return *this;
}

void TFont::Reset() {
    if (m_font != nullptr) DeleteObject(m_font);
    m_font = nullptr;
}

void TControl::Create(HWND parent, const wchar_t* className, std::wstring_view text, DWORD style, int id,
                      DWORD exStyle) {
    Destroy();
    const std::wstring caption(text);
    m_id = id;
    m_hwnd = CreateWindowExW(exStyle, className, caption.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
}

void TControl::Destroy() {
    if (m_hwnd != nullptr && IsWindow(m_hwnd)) DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
}

void TControl::SetText(std::wstring_view text) {
    const std::wstring copy(text);
    SetWindowTextW(m_hwnd, copy.c_str());
}

std::wstring TControl::Text() const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(m_hwnd)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(m_hwnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void TControl::SetFont(const TFont& font) {
    Send(WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
}

void TControl::Enable(bool enabled) {
    EnableWindow(m_hwnd, enabled ? TRUE : FALSE);
}

void TControl::Move(int left, int top, int width, int height) {
    MoveWindow(m_hwnd, left, top, width, height, TRUE);
}

void TListBox::Add(std::wstring_view text) {
    const std::wstring copy(text);
    Send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

std::wstring TListBox::ItemText(int index) const {
    const LRESULT length = Send(LB_GETTEXTLEN, static_cast<WPARAM>(index));
    if (length == LB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got = Send(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got == LB_ERR ? 0 : static_cast<std::size_t>(got));
    return text;
}

}  // namespace win32app
