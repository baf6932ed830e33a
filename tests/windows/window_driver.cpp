// SPDX-License-Identifier: GPL-3.0-or-later
// Drives lumbra.exe from another process, as a user would, through window
// messages only: select a drive, click the buttons, answer the message
// boxes, read lv1's rows and ticks. scripts/test-windows runs it under wine
// and compares what it prints with the fixtures' manifests.
//
//   lumbra_window_driver LUMBRA_EXE DRIVE [--details]  scan, (each row's
//                                               tooltip and tint,) Select All,
//                                               recover into the working
//                                               directory, close
//   lumbra_window_driver LUMBRA_EXE --deep DRIVE  the same, the run started
//                                               from the drive list's menu:
//                                               DRIVE's entry right-clicked,
//                                               "Deep Scan" chosen
//   lumbra_window_driver LUMBRA_EXE --instance  a second copy ends at once
//   lumbra_window_driver LUMBRA_EXE --stop DRIVE  a second click stops a scan
//   lumbra_window_driver LUMBRA_EXE --time DRIVE  time a scan, from the click
//                                               to its closing message
//   lumbra_window_driver LUMBRA_EXE --hold DRIVE SECONDS [ROW]  scan, (rest
//                                               the mouse on ROW until its
//                                               tooltip shows,) then keep the
//                                               window open (screenshots)
//   lumbra_window_driver LUMBRA_EXE --hold-deep DRIVE SECONDS  the same
//                                               after a deep scan from the
//                                               drive list's menu
//   lumbra_window_driver LUMBRA_EXE --hold-menu DRIVE SECONDS  the same
//                                               with that menu open
//
// Output, UTF-8, one fact per line, fields split by tabs (a tab, newline or
// backslash inside a text as \t, \n, \\):
//   menu <drive>        the drive list's menu came up, that drive selected
//   box <text>          a message box's text (answered with its default OK)
//   row <state> <6 texts>  one row of lv1: state 1 unticked, 2 ticked
//   tip <row> <text>    the tooltip lv1 shows with the mouse over the row
//   tint <row> <grey> <amber>  how many pixels of the two tint colours the
//                       row's FileName cell holds on the screen
//   seek <position>     the row Seek ticked
//   button <text>       btnScan's caption after the run
//   shown <ms>          from the program's start to its window on the screen
//   scan <ms> <rows>    the timed scan and the rows lv1 holds after it
//   instance <exit code> <windows>
//   error <text>        and exit code 1
#include "app/win32/win_api.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/dock_layout.h"

namespace {

using win32app::ControlId;
using win32app::TPart;
using namespace std::chrono_literals;

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c == L'\t' || c == L'\n' || c == L'\\') {
            out += c == L'\t' ? "\\t" : c == L'\n' ? "\\n" : "\\\\";
            continue;
        }
        char buf[8];
        const int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buf, sizeof buf, nullptr, nullptr);
        out.append(buf, static_cast<std::size_t>(n > 0 ? n : 0));
    }
    return out;
}

// The programs started and still running: a failure ends them too, so
// none is left holding the single-instance mutex for the next run.
std::vector<HANDLE> g_running;

[[noreturn]] void Fail(const std::string& what) {
    std::printf("error\t%s\n", what.c_str());
    std::fflush(stdout);
    for (HANDLE process : g_running) TerminateProcess(process, 9);
    std::exit(1);
}

// Polls until ready() or the time is up.
template <class F>
bool WaitFor(F ready, std::chrono::milliseconds limit, std::chrono::milliseconds poll = 50ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(poll);
    }
    return ready();
}

struct TFound {
    DWORD Process;
    const wchar_t* Class;
    std::vector<HWND> Windows;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM l) {
    auto& found = *reinterpret_cast<TFound*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    if ((found.Process == 0 || pid == found.Process) && std::wstring(cls) == found.Class &&
        IsWindowVisible(hwnd))
        found.Windows.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopWindows(DWORD process, const wchar_t* cls) {
    TFound found{process, cls, {}};
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found.Windows;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[1024] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return text;
}

class TProgram {
public:
    TProgram(const std::wstring& exe) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring command = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &m_pi))
            Fail("lumbra.exe did not start");
        g_running.push_back(m_pi.hProcess);
    }
    ~TProgram() {
        std::erase(g_running, m_pi.hProcess);
        if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_pi.hProcess, 9);
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
    }
    DWORD Id() const { return m_pi.dwProcessId; }
    std::chrono::steady_clock::time_point Started() const { return m_started; }
    HANDLE Process() const { return m_pi.hProcess; }
    bool Ended(DWORD ms) const { return WaitForSingleObject(m_pi.hProcess, ms) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        return code;
    }
    HWND Window(std::chrono::milliseconds limit) const {
        HWND found = nullptr;
        WaitFor(
            [&] {
                const auto w = TopWindows(Id(), L"TMainForm");
                found = w.empty() ? nullptr : w.front();
                return found != nullptr;
            },
            limit);
        return found;
    }

private:
    PROCESS_INFORMATION m_pi{};
    std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();
};

class TDriver {
public:
    TDriver(TProgram& program, HWND form) : m_program(program), m_form(form) {}

    HWND Control(TPart part) const { return GetDlgItem(m_form, ControlId(part)); }

    // Handled by the time this returns; only for clicks that open no box.
    void ClickAndWait(TPart part) const {
        SendMessageW(m_form, WM_COMMAND, MAKEWPARAM(ControlId(part), BN_CLICKED),
                     reinterpret_cast<LPARAM>(Control(part)));
    }

    void Click(TPart part) const {
        PostMessageW(m_form, WM_COMMAND, MAKEWPARAM(ControlId(part), BN_CLICKED),
                     reinterpret_cast<LPARAM>(Control(part)));
    }

    // Waits for the program's next message box.
    HWND WaitForBox(std::chrono::milliseconds limit, std::chrono::milliseconds poll = 50ms) const {
        HWND box = nullptr;
        if (!WaitFor(
                [&] {
                    const auto boxes = TopWindows(m_program.Id(), L"#32770");
                    box = boxes.empty() ? nullptr : boxes.front();
                    return box != nullptr;
                },
                limit, poll))
            Fail("no message box came up");
        return box;
    }

    // Waits for the program's next message box, prints its text and presses
    // its OK button.
    std::wstring AnswerBox(std::chrono::milliseconds limit) const {
        const HWND box = WaitForBox(limit);
        std::this_thread::sleep_for(100ms);
        const std::wstring text = TextOf(GetDlgItem(box, 0xFFFF));
        std::printf("box\t%s\n", Utf8(text).c_str());
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        WaitFor([&] { return !IsWindow(box); }, 10s);
        return text;
    }

    void SelectDrive(const std::wstring& drive) const {
        const HWND list = Control(TPart::lstDriveList);
        const LRESULT index = SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(drive.c_str()));
        if (index < 0) Fail("the drive list has no " + Utf8(drive));
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }

    // A right-click on the drive's entry (the WM_CONTEXTMENU the list sends
    // its parent, at the entry's place on the screen), then the menu's one
    // item chosen with Down and Return, as the keys would in the menu.
    void DeepScanFromMenu(const std::wstring& drive) const {
        const HWND menu = OpenDriveMenu(drive);
        std::this_thread::sleep_for(200ms);
        PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
        PostMessageW(menu, WM_KEYUP, VK_DOWN, 0);
        std::this_thread::sleep_for(200ms);
        PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageW(menu, WM_KEYUP, VK_RETURN, 0);
    }

    // The right-click on the drive's entry; the menu's window once it shows.
    HWND OpenDriveMenu(const std::wstring& drive) const {
        SelectDrive(drive);  // and so scrolled into view
        const HWND list = Control(TPart::lstDriveList);
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);  // the right-click selects it
        const auto index = static_cast<int>(SendMessageW(list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                         reinterpret_cast<LPARAM>(drive.c_str())));
        const auto top = static_cast<int>(SendMessageW(list, LB_GETTOPINDEX, 0, 0));
        const auto height = static_cast<int>(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
        POINT at{20, (index - top) * height + height / 2};
        ClientToScreen(list, &at);
        PostMessageW(m_form, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(at.x, at.y));
        HWND menu = nullptr;
        if (!WaitFor(
                [&] {
                    const auto menus = TopWindows(m_program.Id(), L"#32768");
                    menu = menus.empty() ? nullptr : menus.front();
                    return menu != nullptr;
                },
                10s))
            Fail("no menu came up over the drive list");
        wchar_t selected[16] = {};
        const LRESULT current = SendMessageW(list, LB_GETCURSEL, 0, 0);
        if (current >= 0)
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(current), reinterpret_cast<LPARAM>(selected));
        std::printf("menu\t%s\n", Utf8(selected).c_str());
        return menu;
    }

    // lv1's rows: the texts through LVM_GETITEMTEXTW into a buffer in the
    // program's memory, the ticks as state images.
    void PrintRows() const {
        const HWND lv = Control(TPart::lv1);
        const auto count = static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0));
        constexpr std::size_t kText = 1024;
        const std::size_t size = sizeof(LVITEMW) + kText * sizeof(wchar_t);
        auto* remote = static_cast<std::byte*>(
            VirtualAllocEx(m_program.Process(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (remote == nullptr) Fail("no memory in lumbra.exe");
        auto* remoteText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
        for (int i = 0; i < count; ++i) {
            const LRESULT state =
                SendMessageW(lv, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_STATEIMAGEMASK);
            std::string line = "row\t" + std::to_string((state & LVIS_STATEIMAGEMASK) >> 12);
            for (int c = 0; c < 6; ++c) {
                LVITEMW item{};
                item.iSubItem = c;
                item.pszText = remoteText;
                item.cchTextMax = kText;
                WriteProcessMemory(m_program.Process(), remote, &item, sizeof item, nullptr);
                SendMessageW(lv, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
                wchar_t text[kText] = {};
                ReadProcessMemory(m_program.Process(), remoteText, text, sizeof text - sizeof(wchar_t),
                                  nullptr);
                line += "\t" + Utf8(text);
            }
            std::printf("%s\n", line.c_str());
        }
        VirtualFreeEx(m_program.Process(), remote, 0, MEM_RELEASE);
    }

    // Each row's tooltip and tint as the user sees them: the mouse rests on
    // the row's name until the list's tooltip shows, and the row's pixels
    // on the screen are counted by the two tint colours.
    void PrintDetails() const {
        const HWND lv = Control(TPart::lv1);
        const auto count = static_cast<int>(SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0));
        auto* remote = static_cast<RECT*>(VirtualAllocEx(m_program.Process(), nullptr, sizeof(RECT),
                                                         MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (remote == nullptr) Fail("no memory in lumbra.exe");
        POINT origin{0, 0};
        ClientToScreen(lv, &origin);
        HDC screen = GetDC(nullptr);
        for (int i = 0; i < count; ++i) {
            // The FileName cell, on the screen.
            RECT cell{};
            cell.top = 1;
            cell.left = LVIR_BOUNDS;
            WriteProcessMemory(m_program.Process(), remote, &cell, sizeof cell, nullptr);
            SendMessageW(lv, LVM_GETSUBITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
            ReadProcessMemory(m_program.Process(), remote, &cell, sizeof cell, nullptr);
            int grey = 0;
            int amber = 0;
            for (LONG y = cell.top; y < cell.bottom; ++y) {
                for (LONG x = cell.left; x < cell.right; ++x) {
                    const COLORREF c = GetPixel(screen, origin.x + x, origin.y + y);
                    grey += c == RGB(128, 128, 128) ? 1 : 0;
                    amber += c == RGB(153, 102, 0) ? 1 : 0;
                }
            }
            std::printf("tint\t%d\t%d\t%d\n", i, grey, amber);

            std::wstring text;
            HoverRow(i, &text);
            std::printf("tip\t%d\t%s\n", i, Utf8(text).c_str());
        }
        ReleaseDC(nullptr, screen);
        VirtualFreeEx(m_program.Process(), remote, 0, MEM_RELEASE);
    }

    // Rests the mouse on a row's FileName cell until the list's tooltip
    // shows; its text in *text.
    bool HoverRow(int row, std::wstring* text = nullptr) const {
        const HWND lv = Control(TPart::lv1);
        auto* remote = static_cast<RECT*>(VirtualAllocEx(m_program.Process(), nullptr, sizeof(RECT),
                                                         MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (remote == nullptr) Fail("no memory in lumbra.exe");
        RECT cell{};
        cell.top = 1;
        cell.left = LVIR_BOUNDS;
        WriteProcessMemory(m_program.Process(), remote, &cell, sizeof cell, nullptr);
        SendMessageW(lv, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(m_program.Process(), remote, &cell, sizeof cell, nullptr);
        VirtualFreeEx(m_program.Process(), remote, 0, MEM_RELEASE);
        POINT origin{0, 0};
        ClientToScreen(lv, &origin);
        // Off the list first, so the tooltip starts anew for this row.
        SetCursorPos(origin.x - 40, origin.y - 40);
        std::this_thread::sleep_for(200ms);
        SetCursorPos(origin.x + (cell.left + cell.right) / 2, origin.y + (cell.top + cell.bottom) / 2);
        std::wstring shown;
        WaitFor(
            [&] {
                shown.clear();
                for (HWND tip : TopWindows(m_program.Id(), TOOLTIPS_CLASSW))
                    if (shown.empty()) shown = TextOf(tip);
                return !shown.empty();
            },
            5s);
        if (text != nullptr) *text = shown;
        return !shown.empty();
    }

    void Close() const {
        PostMessageW(m_form, WM_CLOSE, 0, 0);
        if (!m_program.Ended(30000)) Fail("lumbra.exe did not end after its window was closed");
    }

private:
    TProgram& m_program;
    HWND m_form;
};

int ScanAndRecover(const std::wstring& exe, const std::wstring& drive, bool details, bool deep = false) {
    TProgram program(exe);
    const HWND form = program.Window(60s);
    if (form == nullptr) Fail("no main window within 60 s");
    std::printf("shown\t%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - program.Started())
                                           .count()));
    std::printf("title\t%s\n", Utf8(TextOf(form)).c_str());
    TDriver d(program, form);
    if (deep) {
        d.DeepScanFromMenu(drive);
    } else {
        d.SelectDrive(drive);
        d.Click(TPart::btnScan);
    }
    d.AnswerBox(120s);
    std::printf("button\t%s\n", Utf8(TextOf(d.Control(TPart::btnScan))).c_str());
    d.PrintRows();
    if (details) d.PrintDetails();
    // Select All ticks every row; then the recovery writes them all.
    const HWND lv = d.Control(TPart::lv1);
    if (SendMessageW(lv, LVM_GETITEMCOUNT, 0, 0) > 0) {
        SendMessageW(d.Control(TPart::chk1), BM_SETCHECK, BST_CHECKED, 0);
        d.ClickAndWait(TPart::chk1);  // Select All
        d.PrintRows();
        d.Click(TPart::btnRecover);
        d.AnswerBox(300s);
    }
    d.Close();
    std::printf("exit\t%lu\n", program.ExitCode());
    return 0;
}

// Scans, answers the closing message, prints the place of the window's
// client area on the screen and keeps the window open for a while: the
// screenshot's moment. The mouse rests off the window, or, given a row, on
// that row until its tooltip shows.
enum class THoldAfter { Scan, DeepScan, MenuOpen };

int ScanAndHold(const std::wstring& exe, const std::wstring& drive, int seconds, int row,
                THoldAfter after = THoldAfter::Scan) {
    TProgram program(exe);
    const HWND form = program.Window(60s);
    if (form == nullptr) Fail("no main window within 60 s");
    TDriver d(program, form);
    HWND menu = nullptr;
    if (after == THoldAfter::MenuOpen) {
        menu = d.OpenDriveMenu(drive);
    } else if (after == THoldAfter::DeepScan) {
        d.DeepScanFromMenu(drive);
        d.AnswerBox(120s);
    } else {
        d.SelectDrive(drive);
        d.Click(TPart::btnScan);
        d.AnswerBox(120s);
    }
    RECT r{};
    GetClientRect(form, &r);
    POINT origin{0, 0};
    ClientToScreen(form, &origin);
    if (menu == nullptr) SetCursorPos(0, 0);
    if (row >= 0 && !d.HoverRow(row)) Fail("no tooltip over row " + std::to_string(row));
    std::printf("window\t%ld\t%ld\t%ld\t%ld\n", origin.x, origin.y, r.right, r.bottom);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    if (menu != nullptr) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    d.Close();
    return 0;
}

int TimeScan(const std::wstring& exe, const std::wstring& drive) {
    TProgram program(exe);
    const HWND form = program.Window(60s);
    if (form == nullptr) Fail("no main window within 60 s");
    TDriver d(program, form);
    d.SelectDrive(drive);
    const auto start = std::chrono::steady_clock::now();
    d.Click(TPart::btnScan);
    d.WaitForBox(600s);
    const auto took = std::chrono::steady_clock::now() - start;
    const LRESULT rows = SendMessageW(d.Control(TPart::lv1), LVM_GETITEMCOUNT, 0, 0);
    std::printf("scan\t%lld\t%lld\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                static_cast<long long>(rows));
    std::fflush(stdout);
    d.AnswerBox(10s);
    d.Close();
    return 0;
}

int SecondInstance(const std::wstring& exe) {
    TProgram first(exe);
    if (first.Window(60s) == nullptr) Fail("no main window within 60 s");
    TProgram second(exe);
    const bool ended = second.Ended(20000);
    const std::size_t windows = TopWindows(0, L"TMainForm").size();
    std::printf("instance\t%s\t%lu\t%zu\n", ended ? "ended" : "running", second.ExitCode(), windows);
    TDriver(first, first.Window(1s)).Close();
    return 0;
}

int StopScan(const std::wstring& exe, const std::wstring& drive) {
    TProgram program(exe);
    const HWND form = program.Window(60s);
    if (form == nullptr) Fail("no main window within 60 s");
    TDriver d(program, form);
    d.SelectDrive(drive);
    // Two clicks in a row: the second one asks the run to stop.
    d.Click(TPart::btnScan);
    d.Click(TPart::btnScan);
    // A stopped run ends quietly or with its closing message; either way the
    // window must come back to rest and answer.
    WaitFor([&] { return !TopWindows(program.Id(), L"#32770").empty(); }, 10s);
    if (!TopWindows(program.Id(), L"#32770").empty()) d.AnswerBox(5s);
    DWORD_PTR ignored = 0;
    const bool answers = SendMessageTimeoutW(form, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) != 0;
    std::printf("stopped\t%s\t%d\n", answers ? "answers" : "hung",
                static_cast<int>(SendMessageW(d.Control(TPart::lv1), LVM_GETITEMCOUNT, 0, 0)));
    // And a full scan after it works.
    d.Click(TPart::btnScan);
    d.AnswerBox(120s);
    std::printf("rescan\t%d\n",
                static_cast<int>(SendMessageW(d.Control(TPart::lv1), LVM_GETITEMCOUNT, 0, 0)));
    d.Close();
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) Fail("usage: lumbra_window_driver LUMBRA_EXE (DRIVE | --instance | --stop DRIVE)");
    const std::wstring exe = argv[1];
    const std::wstring what = argv[2];
    if (what == L"--instance") return SecondInstance(exe);
    if (what == L"--stop" && argc > 3) return StopScan(exe, argv[3]);
    if (what == L"--deep" && argc > 3) return ScanAndRecover(exe, argv[3], false, true);
    if (what == L"--time" && argc > 3) return TimeScan(exe, argv[3]);
    if (what == L"--hold" && argc > 4)
        return ScanAndHold(exe, argv[3], _wtoi(argv[4]), argc > 5 ? _wtoi(argv[5]) : -1);
    if (what == L"--hold-deep" && argc > 4)
        return ScanAndHold(exe, argv[3], _wtoi(argv[4]), -1, THoldAfter::DeepScan);
    if (what == L"--hold-menu" && argc > 4)
        return ScanAndHold(exe, argv[3], _wtoi(argv[4]), -1, THoldAfter::MenuOpen);
    return ScanAndRecover(exe, what, argc > 3 && std::wstring(argv[3]) == L"--details");
}
