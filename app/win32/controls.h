// SPDX-License-Identifier: GPL-3.0-or-later
// Thin wrappers over the Win32 controls of the main window: each owns its
// HWND (destroyed with the wrapper) and offers the few calls the window
// makes, in UTF-16. No framework: the main window's procedure still sees
// every message.
#pragma once

#include "app/win32/win_api.h"

#include <string>
#include <string_view>
#include <utility>

namespace win32app {

// An owned GDI font.
class TFont {
public:
    TFont() = default;
    // Tahoma, character height `pixels` at 96 dpi, scaled to dpi.
    TFont(int pixels, bool bold, int dpi, const wchar_t* face = L"Tahoma");
    ~TFont() { Reset(); }
    TFont(TFont&& other) noexcept : m_font(std::exchange(other.m_font, nullptr)) {}
    TFont& operator=(TFont&& other) noexcept;
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;
    HFONT Get() const { return m_font; }

private:
    void Reset();
    HFONT m_font = nullptr;
};

// A child window, destroyed with its wrapper.
class TControl {
public:
    TControl() = default;
    ~TControl() { Destroy(); }
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    // Creates the control as a child of parent with the given id.
    void Create(HWND parent, const wchar_t* className, std::wstring_view text, DWORD style, int id,
                DWORD exStyle = 0);
    void Destroy();
    HWND Handle() const { return m_hwnd; }
    int Id() const { return m_id; }

    void SetText(std::wstring_view text);
    std::wstring Text() const;
    void SetFont(const TFont& font);
    void Enable(bool enabled);
    bool Enabled() const { return IsWindowEnabled(m_hwnd) != FALSE; }
    void Move(int left, int top, int width, int height);
    LRESULT Send(UINT message, WPARAM w = 0, LPARAM l = 0) const {
        return SendMessageW(m_hwnd, message, w, l);
    }

private:
    HWND m_hwnd = nullptr;
    int m_id = 0;
};

// A push button, check box or radio button.
class TButton : public TControl {
public:
    bool Checked() const { return Send(BM_GETCHECK) == BST_CHECKED; }
    void SetChecked(bool checked) { Send(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED); }
};

// A single-selection list box.
class TListBox : public TControl {
public:
    void Clear() { Send(LB_RESETCONTENT); }
    void Add(std::wstring_view text);
    int Count() const { return static_cast<int>(Send(LB_GETCOUNT)); }
    int Selected() const { return static_cast<int>(Send(LB_GETCURSEL)); }
    void Select(int index) { Send(LB_SETCURSEL, static_cast<WPARAM>(index)); }
    std::wstring ItemText(int index) const;
    void SetItemHeight(int pixels) { Send(LB_SETITEMHEIGHT, 0, pixels); }
};

// A progress bar over 0..100.
class TProgressBar : public TControl {
public:
    void SetPosition(int percent) { Send(PBM_SETPOS, static_cast<WPARAM>(percent)); }
    int Position() const { return static_cast<int>(Send(PBM_GETPOS)); }
};

}  // namespace win32app
