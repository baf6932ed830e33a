// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/wait_hint.h"

#include <vector>

#include "form/update_flow.h"

namespace win32app {

namespace {

constexpr const wchar_t* kClass = L"TWaitHint";
constexpr COLORREF kBackground = RGB(192, 192, 192);
constexpr COLORREF kText = RGB(0, 128, 0);

}  // namespace

void TWaitHint::ActivateHint(HWND owner, const RECT& rect, const std::wstring& caption) {
    m_caption = caption;
    m_message.clear();
    if (m_hwnd == nullptr) {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DROPSHADOW;
        wc.lpfnWndProc = WndProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_WAIT);
        wc.lpszClassName = kClass;
        RegisterClassExW(&wc);  // fails harmlessly the second time
        m_hwnd =
            CreateWindowExW(WS_EX_LAYERED | WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kClass,
                            caption.c_str(), WS_POPUP | WS_BORDER, rect.left, rect.top,
                            rect.right - rect.left, rect.bottom - rect.top, owner, nullptr, instance, this);
        if (m_hwnd == nullptr) return;
        // Opaque: layered only so that it is composed whole.
        SetLayeredWindowAttributes(m_hwnd, 0, 255, LWA_ALPHA);
    }
    // 12 points of "宋体" (SimSun) at the box's dpi.
    if (m_font != nullptr) DeleteObject(m_font);
    const int dpi = static_cast<int>(GetDpiForWindow(m_hwnd));
    m_font = CreateFontW(-MulDiv(12, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"宋体");
    SetWindowTextW(m_hwnd, caption.c_str());
    SetWindowPos(m_hwnd, HWND_TOPMOST, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    // The thread blocks in the download right after this.
    RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void TWaitHint::DrawMessage(POINT at, const std::wstring& text) {
    m_messageAt = at;
    m_message = text;
    if (m_hwnd != nullptr) RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void TWaitHint::ReleaseWindow() {
    if (m_hwnd != nullptr) DestroyWindow(m_hwnd);
    m_hwnd = nullptr;
    if (m_font != nullptr) DeleteObject(m_font);
    m_font = nullptr;
}

LRESULT CALLBACK TWaitHint::WndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TWaitHint*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TWaitHint*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
        case WM_PAINT:
            if (self != nullptr && self->m_hwnd == hwnd) {
                self->Paint();
                return 0;
            }
            break;
        case WM_ERASEBKGND:
            return 1;  // painted whole in WM_PAINT
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, w, l);
}

void TWaitHint::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hwnd, &ps);
    RECT client{};
    GetClientRect(m_hwnd, &client);
    HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(dc, &client, background);
    DeleteObject(background);
    const HGDIOBJ oldFont = SelectObject(dc, m_font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kText);
    TextOutW(dc, 2, 2, m_caption.c_str(), static_cast<int>(m_caption.size()));
    // Text drawn at a point: its cell's top-left corner there, no background.
    if (!m_message.empty())
        TextOutW(dc, m_messageAt.x, m_messageAt.y, m_message.c_str(), static_cast<int>(m_message.size()));
    SelectObject(dc, oldFont);
    EndPaint(m_hwnd, &ps);
}

RECT WaitHintRect() {
    std::vector<form::TScreenRect> monitors;
    EnumDisplayMonitors(
        nullptr, nullptr,
        [](HMONITOR, HDC, LPRECT rect, LPARAM list) -> BOOL {
            reinterpret_cast<std::vector<form::TScreenRect>*>(list)->push_back(
                {rect->left, rect->top, rect->right, rect->bottom});
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&monitors));
    const form::TScreenRect box = form::WaitHintRect(GetSystemMetrics(SM_CXVIRTUALSCREEN),
                                                     GetSystemMetrics(SM_CYVIRTUALSCREEN), monitors);
    return RECT{box.Left, box.Top, box.Right, box.Bottom};
}

}  // namespace win32app
