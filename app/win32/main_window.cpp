// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/main_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include "app/win32/wait_hint.h"
#include "form/texts.h"

namespace win32app {

namespace {

constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr COLORREF kTeal = RGB(0, 128, 128);
constexpr COLORREF kPurple = RGB(128, 0, 128);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr int kItemHeight = 19;  // lstDriveList and dirlstDLB

constexpr int IdOf(TPart part) {
    return ControlId(part);
}
constexpr int kIdMemo1 = 99;
constexpr int kIdHidden = 98;
constexpr int kIdDeepScan = 97;  // the drive list menu's "Deep Scan"

// The panels with a raised bevel (pnl6 has none).
constexpr TPart kBevelled[] = {TPart::pnl1, TPart::pnl2, TPart::pnl3, TPart::pnl4, TPart::pnl5, TPart::pnl12};

bool Contains(const TRect& r, POINT p) {
    return p.x >= r.Left && p.x < r.Right && p.y >= r.Top && p.y < r.Bottom;
}

}  // namespace

TMainForm::TMainForm() = default;

TMainForm::~TMainForm() {
    if (m_hwnd != nullptr && IsWindow(m_hwnd)) DestroyWindow(m_hwnd);
}

bool TMainForm::Create(HINSTANCE instance, int show) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, L"MAINICON");
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainWindowClass;
    if (RegisterClassExW(&wc) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // The client area is 983 x 596 at 96 dpi, scaled to the dpi of the
    // monitor the window comes up on, centred on that monitor's work area.
    const POINT origin{0, 0};
    HMONITOR monitor = MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(monitor, &info);
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    const std::wstring caption(Wide(form::texts::kWindowCaption));
    m_hwnd = CreateWindowExW(WS_EX_CONTROLPARENT, kMainWindowClass, caption.c_str(), style, CW_USEDEFAULT,
                             CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    if (m_hwnd == nullptr) return false;
    m_dpi = static_cast<int>(GetDpiForWindow(m_hwnd));
    RECT frame{0, 0, Scale(kDesignWidth, m_dpi), Scale(kDesignHeight, m_dpi)};
    AdjustWindowRectExForDpi(&frame, style, FALSE, WS_EX_CONTROLPARENT, static_cast<UINT>(m_dpi));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const RECT& work = info.rcWork;
    SetWindowPos(m_hwnd, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    m_logic = std::make_unique<form::TMainLogic>(*this, form::SessionEngine());
    m_rows.Attach(m_logic.get());
    MakeFonts();
    CreateControls();
    ApplyFonts();
    Relayout();
    FormCreate();
    // The check, and any download, end before the window is first drawn.
    FormShow();
    ShowWindow(m_hwnd, show);
    UpdateWindow(m_hwnd);
    return true;
}

void TMainForm::MakeFonts() {
    m_font13 = TFont(13, false, m_dpi);
    m_font13Bold = TFont(13, true, m_dpi);
    m_font16 = TFont(16, false, m_dpi);
    m_font16Bold = TFont(16, true, m_dpi);
    m_font14Bold = TFont(14, true, m_dpi);
    m_font11Bold = TFont(11, true, m_dpi);
}

void TMainForm::CreateControls() {
    HWND p = m_hwnd;
    // Created in tab order: the left pane top to bottom, then the command
    // bar, then the list. btn2 takes no keyboard focus, so it has no tab stop.
    btnScan.Create(p, WC_BUTTONW, Wide(form::texts::kScanIdle), WS_TABSTOP | BS_OWNERDRAW,
                   IdOf(TPart::btnScan));
    lstDriveList.Create(p, WC_LISTBOXW, L"",
                        WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
                        IdOf(TPart::lstDriveList), WS_EX_CLIENTEDGE);
    drvcbbDCB.Create(p, WC_COMBOBOXW, L"", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST,
                     IdOf(TPart::drvcbbDCB));
    dirlstDLB.Create(p, WC_LISTBOXW, L"",
                     WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | LBS_HASSTRINGS,
                     IdOf(TPart::dirlstDLB), WS_EX_CLIENTEDGE);
    edtPath.Create(p, WC_EDITW, L"", WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, IdOf(TPart::edtPath),
                   WS_EX_CLIENTEDGE);

    lblDrive_Title.Create(p, WC_STATICW, Wide(form::texts::kDriveTitle),
                          SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, IdOf(TPart::lblDrive_Title));
    lblDriveName.Create(p, WC_STATICW, Wide(form::texts::kDriveNameUnknown), SS_LEFT | SS_NOPREFIX,
                        IdOf(TPart::lblDriveName));
    lblDriveSerial.Create(p, WC_STATICW, Wide(form::texts::kSerialUnknown), SS_LEFT | SS_NOPREFIX,
                          IdOf(TPart::lblDriveSerial));
    lblDriveSize.Create(p, WC_STATICW, Wide(form::texts::kSizeUnknown), SS_LEFT | SS_NOPREFIX,
                        IdOf(TPart::lblDriveSize));
    lblDriveMFTRecordsCount.Create(p, WC_STATICW, Wide(form::texts::kRecordCountNone), SS_LEFT | SS_NOPREFIX,
                                   IdOf(TPart::lblDriveMFTRecordsCount));
    // Written by the scan, never shown.
    lblDriveMFTSize.Create(p, WC_STATICW, Wide(form::texts::kMftSizeUnknown), SS_LEFT, kIdHidden);
    lblDriveMFTLocation.Create(p, WC_STATICW, Wide(form::texts::kMftLocationUnknown), SS_LEFT, kIdHidden);
    lbl1.Create(p, WC_STATICW, Wide(form::texts::kSaveFolderTitle), SS_LEFT, kIdHidden);
    lbl2.Create(p, WC_STATICW, Wide(form::texts::kDriveListTitle), SS_LEFT, kIdHidden);
    for (TControl* hidden : {&lblDriveMFTSize, &lblDriveMFTLocation, &lbl1, &lbl2})
        ShowWindow(hidden->Handle(), SW_HIDE);

    chk1.Create(p, WC_BUTTONW, Wide(form::texts::kSelectAll), WS_TABSTOP | BS_AUTOCHECKBOX,
                IdOf(TPart::chk1));
    btnRecover.Create(p, WC_BUTTONW, Wide(form::texts::kRecoverIdle), WS_TABSTOP | BS_OWNERDRAW,
                      IdOf(TPart::btnRecover));
    rb1.Create(p, WC_BUTTONW, Wide(form::texts::kOldName), WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON,
               IdOf(TPart::rb1));
    rb2.Create(p, WC_BUTTONW, Wide(form::texts::kAutoName), BS_AUTORADIOBUTTON, IdOf(TPart::rb2));
    rb1.SetChecked(true);
    edt1.Create(p, WC_EDITW, L"", WS_TABSTOP | WS_GROUP | ES_AUTOHSCROLL, IdOf(TPart::edt1),
                WS_EX_CLIENTEDGE);
    btn2.Create(p, WC_BUTTONW, Wide(form::texts::kSeek), BS_OWNERDRAW, IdOf(TPart::btn2));
    lblDelCount.Create(p, WC_STATICW, Wide(form::texts::kDeletedCountInitial), SS_OWNERDRAW,
                       IdOf(TPart::lblDelCount));
    lv1.Create(p, IdOf(TPart::lv1), m_dpi, m_rows);
    pb1.Create(p, PROGRESS_CLASSW, L"", 0, IdOf(TPart::pb1));
    pb1.Send(PBM_SETRANGE32, 0, 100);
    // Holds the version file's text for the update check; never shown.
    Memo1.Create(p, WC_EDITW, L"", ES_MULTILINE, kIdMemo1);
    ShowWindow(Memo1.Handle(), SW_HIDE);
}

void TMainForm::ApplyFonts() {
    SendMessageW(m_hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font13.Get()), FALSE);
    btnScan.SetFont(m_font13Bold);
    lstDriveList.SetFont(m_font16);
    drvcbbDCB.SetFont(m_font16Bold);
    dirlstDLB.SetFont(m_font16);
    edtPath.SetFont(m_font13);
    lblDrive_Title.SetFont(m_font16Bold);
    for (TControl* l : {&lblDriveName, &lblDriveSerial, &lblDriveSize, &lblDriveMFTRecordsCount})
        l->SetFont(m_font14Bold);
    lblDriveMFTSize.SetFont(m_font11Bold);
    lblDriveMFTLocation.SetFont(m_font11Bold);
    lbl1.SetFont(m_font13Bold);
    lbl2.SetFont(m_font13Bold);
    for (TControl* c :
         {static_cast<TControl*>(&btnRecover), static_cast<TControl*>(&chk1), static_cast<TControl*>(&rb1),
          static_cast<TControl*>(&rb2), &edt1, static_cast<TControl*>(&btn2), &lblDelCount})
        c->SetFont(m_font13Bold);
    lv1.SetFont(m_font13);
    Memo1.SetFont(m_font13);
    lstDriveList.SetItemHeight(Scale(kItemHeight, m_dpi));
    dirlstDLB.SetItemHeight(Scale(kItemHeight, m_dpi));
}

void TMainForm::Relayout() {
    RECT client{};
    GetClientRect(m_hwnd, &client);
    m_layout = Arrange(client.right, client.bottom, m_dpi, m_leftPaneWidth);
    auto place = [&](TControl& c, TPart part) {
        const TRect r = PartRect(part);
        c.Move(r.Left, r.Top, r.Width(), r.Height());
    };
    place(btnScan, TPart::btnScan);
    place(lstDriveList, TPart::lstDriveList);
    place(lblDrive_Title, TPart::lblDrive_Title);
    place(lblDriveName, TPart::lblDriveName);
    place(lblDriveSerial, TPart::lblDriveSerial);
    place(lblDriveSize, TPart::lblDriveSize);
    place(lblDriveMFTRecordsCount, TPart::lblDriveMFTRecordsCount);
    // A drop-down list's height is its closed height plus its list's.
    const TRect combo = PartRect(TPart::drvcbbDCB);
    drvcbbDCB.Move(combo.Left, combo.Top, combo.Width(), combo.Height() + Scale(200, m_dpi));
    drvcbbDCB.Send(CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), combo.Height() > 6 ? combo.Height() - 6 : 1);
    place(dirlstDLB, TPart::dirlstDLB);
    place(edtPath, TPart::edtPath);
    place(btnRecover, TPart::btnRecover);
    place(chk1, TPart::chk1);
    place(rb1, TPart::rb1);
    place(rb2, TPart::rb2);
    place(edt1, TPart::edt1);
    place(btn2, TPart::btn2);
    place(lblDelCount, TPart::lblDelCount);
    place(lv1, TPart::lv1);
    place(pb1, TPart::pb1);
    const TRect right = PartRect(TPart::pnl2);
    Memo1.Move(right.Left + Scale(593, m_dpi), right.Top + Scale(520, m_dpi), Scale(184, m_dpi),
               Scale(42, m_dpi));
    InvalidateRect(m_hwnd, nullptr, TRUE);
}

void TMainForm::Paint() {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hwnd, &ps);
    for (TPart part : kBevelled) {
        const TRect r = PartRect(part);
        if (r.Width() <= 0 || r.Height() <= 0) continue;
        RECT rc{r.Left, r.Top, r.Right, r.Bottom};
        DrawEdge(dc, &rc, BDR_RAISEDINNER, BF_RECT);
    }
    EndPaint(m_hwnd, &ps);
}

bool TMainForm::SetCursorFor(HWND child) {
    if (child == btnScan.Handle()) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return true;
    }
    if (child != m_hwnd) return false;
    POINT p;
    GetCursorPos(&p);
    ScreenToClient(m_hwnd, &p);
    if (m_draggingSplitter || Contains(PartRect(TPart::spl1), p)) {
        SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
        return true;
    }
    if (Contains(PartRect(TPart::spl2), p) || Contains(PartRect(TPart::spl3), p)) {
        SetCursor(LoadCursorW(nullptr, IDC_SIZENS));
        return true;
    }
    return false;
}

LRESULT TMainForm::ControlColour(HDC dc, HWND control) {
    struct TColoured {
        const TControl* Control;
        COLORREF Colour;
    };
    const TColoured coloured[] = {
        {&lblDrive_Title, kBlue},
        {&lblDriveName, kGreen},
        {&lblDriveSerial, kGreen},
        {&lblDriveSize, kGreen},
        {&lblDriveMFTRecordsCount, kGreen},
        {&chk1, kTeal},
        {&rb1, kTeal},
        {&rb2, kTeal},
        {&edt1, kNavy},
    };
    if (control == edt1.Handle() || control == edtPath.Handle()) {
        SetTextColor(dc, control == edt1.Handle() ? kNavy : GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    for (const TColoured& c : coloured)
        if (c.Control->Handle() == control && IsWindowEnabled(control)) SetTextColor(dc, c.Colour);
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void TMainForm::DrawButton(const DRAWITEMSTRUCT& item) {
    const COLORREF colour = item.hwndItem == btnScan.Handle()      ? kGreen
                            : item.hwndItem == btnRecover.Handle() ? kPurple
                                                                   : kNavy;
    RECT rc = item.rcItem;
    const bool pushed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    DrawFrameControl(item.hDC, &rc, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    wchar_t text[64] = {};
    GetWindowTextW(item.hwndItem, text, 64);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, disabled ? GetSysColor(COLOR_GRAYTEXT) : colour);
    if (pushed) OffsetRect(&rc, 1, 1);
    DrawTextW(item.hDC, text, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    if ((item.itemState & ODS_FOCUS) != 0) {
        RECT focus = item.rcItem;
        InflateRect(&focus, -Scale(4, m_dpi), -Scale(4, m_dpi));
        DrawFocusRect(item.hDC, &focus);
    }
}

void TMainForm::DrawCentredLabel(const DRAWITEMSTRUCT& item) {
    // Centred both ways and wrapped at word boundaries: a static control
    // offers one or the other.
    wchar_t text[128] = {};
    GetWindowTextW(item.hwndItem, text, 128);
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, kMaroon);
    RECT measure = item.rcItem;
    DrawTextW(item.hDC, text, -1, &measure, DT_CENTER | DT_WORDBREAK | DT_CALCRECT | DT_NOPREFIX);
    RECT rc = item.rcItem;
    const int spare = (rc.bottom - rc.top) - (measure.bottom - measure.top);
    if (spare > 0) rc.top += spare / 2;
    DrawTextW(item.hDC, text, -1, &rc, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
}

void TMainForm::OnCommand(int id, int code, HWND) {
    if (code == BN_CLICKED && id == IdOf(TPart::btnScan)) {
        m_logic->btnScanClick();
    } else if (code == BN_CLICKED && id == IdOf(TPart::btnRecover)) {
        m_logic->btnRecoverClick();
    } else if (code == BN_CLICKED && id == IdOf(TPart::chk1)) {
        m_logic->chk1Click(chk1.Checked());
    } else if (code == BN_CLICKED && id == IdOf(TPart::btn2)) {
        m_logic->btn2Click();
    } else if (id == IdOf(TPart::drvcbbDCB) && code == CBN_SELCHANGE) {
        drvcbbDCBChange();
    } else if (id == IdOf(TPart::dirlstDLB) && code == LBN_DBLCLK) {
        if (dirlstDLB.EnterSelected(form::TFolderInput::DoubleClick)) dirlstDLBChange();
    } else if (id == IDOK && GetFocus() == dirlstDLB.Handle()) {
        // Enter in the folder list reaches the window as the dialog's OK.
        if (dirlstDLB.EnterSelected(form::TFolderInput::EnterKey)) dirlstDLBChange();
    }
}

void TMainForm::lstDriveListContextPopup(LPARAM at) {
    const HWND list = lstDriveList.Handle();
    POINT p{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
    if (p.x == -1 && p.y == -1) {
        // From the keyboard: under the selected entry, or the list's corner.
        RECT item{};
        const LRESULT selected = SendMessageW(list, LB_GETCURSEL, 0, 0);
        if (selected == LB_ERR || SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(selected),
                                               reinterpret_cast<LPARAM>(&item)) == LB_ERR)
            item = RECT{0, 0, 0, 0};
        p = POINT{item.left, item.bottom};
        ClientToScreen(list, &p);
    } else {
        // A right-click selects the entry under it, as a left click does, so
        // the item acts on that drive.
        POINT client = p;
        ScreenToClient(list, &client);
        const auto hit =
            static_cast<DWORD>(SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(client.x, client.y)));
        if (HIWORD(hit) == 0) SendMessageW(list, LB_SETCURSEL, LOWORD(hit), 0);
    }
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    const std::wstring item(Wide(form::texts::kDeepScanItem));
    AppendMenuW(menu, MF_STRING | (m_logic->CanDeepScan() ? MF_ENABLED : MF_GRAYED), kIdDeepScan,
                item.c_str());
    const BOOL chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                                       p.x, p.y, 0, m_hwnd, nullptr);
    DestroyMenu(menu);
    if (chosen == kIdDeepScan) m_logic->DeepScanClick();
}

LRESULT CALLBACK TMainForm::WndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TMainForm*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->m_hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TMainForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, message, w, l);
    return self->Handle(message, w, l);
}

LRESULT TMainForm::Handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_SIZE:
            if (btnScan.Handle() != nullptr) Relayout();
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_DPICHANGED: {
            m_dpi = HIWORD(w);
            MakeFonts();
            ApplyFonts();
            lv1.ApplyDpi(m_dpi);
            const RECT* suggested = reinterpret_cast<const RECT*>(l);
            SetWindowPos(m_hwnd, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                         suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
            Relayout();
            return 0;
        }
        case WM_SETCURSOR:
            if (LOWORD(l) == HTCLIENT && SetCursorFor(reinterpret_cast<HWND>(w))) return TRUE;
            break;
        case WM_LBUTTONDOWN: {
            const POINT p{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
            if (Contains(PartRect(TPart::spl1), p)) {
                m_draggingSplitter = true;
                SetCapture(m_hwnd);
            }
            return 0;
        }
        case WM_LBUTTONUP:
            if (m_draggingSplitter) {
                // The pane changes when the button is released.
                m_draggingSplitter = false;
                ReleaseCapture();
                RECT client{};
                GetClientRect(m_hwnd, &client);
                m_leftPaneWidth = LeftPaneWidthAfterDrag(GET_X_LPARAM(l), client.right, m_dpi);
                Relayout();
            }
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
            return ControlColour(reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l));
        case WM_DRAWITEM: {
            const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(l);
            if (item.CtlType == ODT_BUTTON) DrawButton(item);
            if (item.CtlType == ODT_STATIC) DrawCentredLabel(item);
            return TRUE;
        }
        case WM_COMMAND:
            OnCommand(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
            return 0;
        case WM_CONTEXTMENU:
            if (reinterpret_cast<HWND>(w) == lstDriveList.Handle()) {
                lstDriveListContextPopup(l);
                return 0;
            }
            break;
        case WM_NOTIFY: {
            const auto& header = *reinterpret_cast<const NMHDR*>(l);
            LRESULT result = 0;
            if (header.hwndFrom == lv1.Handle() && header.code == LVN_COLUMNCLICK) {
                m_logic->lv1ColumnClick(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem);
                return 0;
            }
            if (header.hwndFrom == lv1.Handle() && lv1.OnNotify(header, &result)) return result;
            break;
        }
        case WM_TIMER:
            if (w == kRowCountTimer) {
                SyncRowCount();
                return 0;
            }
            break;
        case WM_CLOSE:
            DestroyWindow(m_hwnd);
            return 0;
        case kRunTasksMessage:
            RunPostedTasks();
            return 0;
        case WM_DESTROY: {
            FormDestroy();
            // Tasks posted from now on are dropped; the runs still going
            // stop and are waited for while the controls still exist.
            {
                const std::lock_guard lock(m_tasksMutex);
                m_closed = true;
                m_tasks.clear();
            }
            m_logic.reset();
            m_rows.Attach(nullptr);
            PostQuitMessage(0);
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(m_hwnd, message, w, l);
}

void TMainForm::FormCreate() {
    // 1. The results list's hook, before anything else.
    lv1.InstallHook();

    // 2. The drive list, as the logic fills it (SetDriveList).
    m_logic->FillDriveList();

    // 3. The output folder: the working directory, its drive in the selector.
    wchar_t cwd[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(static_cast<DWORD>(std::size(cwd)), cwd);
    if (!dirlstDLB.SetDirectory(cwd)) dirlstDLB.SetDirectory(std::wstring(cwd).substr(0, 3));
    FillDriveSelector();
    edtPath.SetText(dirlstDLB.Directory());
}

void TMainForm::FormDestroy() {
    lv1.RemoveHook();
}

}  // namespace win32app
