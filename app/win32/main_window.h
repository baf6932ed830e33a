// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on Win32: the controls in their places, their fonts,
// colours and cursors, the docking layout per monitor dpi, and the plumbing
// that turns control notifications into the window's handlers
// (main_window.cpp); form::TMainView over the controls (main_window_view.cpp);
// the output folder's drive selector (drive_selector.cpp); the update check
// (update_check.cpp).
#pragma once

#include "app/win32/win_api.h"

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/win32/controls.h"
#include "app/win32/dock_layout.h"
#include "app/win32/folder_list.h"
#include "app/win32/results_list.h"
#include "form/main_logic.h"
#include "form/main_view.h"
#include "update/http_client.h"

namespace win32app {

inline constexpr const wchar_t* kMainWindowClass = L"TMainForm";

// wchar_t is a UTF-16 unit on Windows: the logic's texts as they are.
inline std::wstring_view Wide(std::u16string_view text) {
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}

// lv1's rows as the logic keeps them.
class TLogicRows : public TRowSource {
public:
    void Attach(form::TMainLogic* logic) { m_logic = logic; }
    std::size_t RowCount() const override { return m_logic != nullptr ? m_logic->Rows().Count() : 0; }
    std::wstring_view Cell(std::size_t row, int column) const override;
    bool Ticked(std::size_t row) const override { return m_logic->Rows().Row(row).Checked; }
    void SetTicked(std::size_t row, bool ticked) override { m_logic->RowCheckClicked(row, ticked); }
    std::u16string ToolTip(std::size_t row) const override;
    std::optional<COLORREF> Tint(std::size_t row) const override;

private:
    form::TMainLogic* m_logic = nullptr;
};

// A private message: the tasks posted to the UI thread are waiting.
inline constexpr UINT kRunTasksMessage = WM_APP + 1;

class TWaitHint;

class TMainForm : public form::TMainView {
public:
    TMainForm();
    ~TMainForm() override;
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    // Creates the window (FormCreate runs inside) and shows it centred on
    // the work area of its monitor.
    bool Create(HINSTANCE instance, int show);
    HWND Handle() const { return m_hwnd; }

    // Controls, by their names.
    TButton btnScan;
    TListBox lstDriveList;
    TControl lblDrive_Title, lblDriveName, lblDriveSerial, lblDriveSize, lblDriveMFTRecordsCount;
    TControl lblDriveMFTSize, lblDriveMFTLocation, lbl1, lbl2;
    TControl drvcbbDCB;
    TFolderList dirlstDLB;
    TControl edtPath;
    TButton btnRecover, chk1, rb1, rb2, btn2;
    TControl edt1, lblDelCount;
    TResultsList lv1;
    TProgressBar pb1;
    TControl Memo1;

    // form::TMainView
    void SetText(form::TControl control, std::u16string_view text) override;
    void SetEnabled(form::TControl control, bool enabled) override;
    void SetBarRange(int maximum) override;
    void SetBarPosition(int position) override;
    void SetDriveList(const std::vector<std::string>& drives) override;
    std::optional<std::string> SelectedDrive() const override;
    std::string OutputFolder() const override;
    bool OldNameChosen() const override { return rb1.Checked(); }
    std::u16string SeekText() const override;
    void RowsReset() override;
    void RowsAppended(std::size_t first, std::size_t count) override;
    void RowsReordered(std::span<const std::size_t> newPosition) override;
    void ChecksChanged(std::size_t first, std::size_t last) override;
    void RowDetailsChanged(std::size_t first, std::size_t last) override;
    void FocusRow(std::size_t position) override;
    void ShowMessage(std::u16string_view text) override;
    bool Ask(std::u16string_view text, form::TQuestionKind kind) override;
    void Post(std::function<void()> task) override;

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);

    void CreateControls();
    void MakeFonts();
    void ApplyFonts();
    void Relayout();
    void Paint();
    bool SetCursorFor(HWND child);
    LRESULT ControlColour(HDC dc, HWND control);
    void DrawButton(const DRAWITEMSTRUCT& item);
    void DrawCentredLabel(const DRAWITEMSTRUCT& item);
    void OnCommand(int id, int code, HWND control);
    // WM_CONTEXTMENU over lstDriveList: its menu with "Deep Scan" (at the
    // screen point, or under the selected entry when the keyboard asked).
    void lstDriveListContextPopup(LPARAM at);
    void RunPostedTasks();
    // Tells lv1 the rows' count when it is behind (RowsAppended).
    void SyncRowCount();
    TControl* ControlOf(form::TControl control);
    TRect PartRect(TPart part) const { return m_layout[static_cast<std::size_t>(part)]; }

    // Handlers.
    void FormCreate();
    // Runs the update check (update_check.cpp) in builds with the self-update.
    void FormShow();
    void FormDestroy();
    void FillDriveSelector();
    void drvcbbDCBChange();
    void dirlstDLBChange();
#if LUMBRA_SELF_UPDATE
    // The update check, in update_check.cpp.
    void CheckForUpdate();
    void DownloadUpdate(const std::optional<std::array<std::uint8_t, 32>>& digest);
    void ShowWaitHint();
    void HideWaitHint();
    static std::u16string GetFileVersionString(const std::filesystem::path& path);
    class TUpdateSteps;
#endif

    HWND m_hwnd = nullptr;
    int m_dpi = 96;
    int m_leftPaneWidth = kLeftPaneWidth;
    bool m_draggingSplitter = false;
    TLayout m_layout{};
    TFont m_font13, m_font13Bold, m_font16, m_font16Bold, m_font14Bold, m_font11Bold;
    HBRUSH m_faceBrush = nullptr;
    TLogicRows m_rows;
    std::unique_ptr<form::TMainLogic> m_logic;

    // Tasks posted from any thread; one window message wakes the UI thread
    // for all that have gathered since it last ran them.
    std::mutex m_tasksMutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_tasksSignalled = false;
    bool m_closed = false;

    // lv1 is told the rows' count at most this often while rows arrive.
    static constexpr UINT_PTR kRowCountTimer = 1;
    static constexpr UINT kRowCountInterval = 200;  // ms
    bool m_rowCountDue = false;

    // The drive selector's entries: root ("C:\") and the folder last entered
    // on that drive.
    std::vector<std::wstring> m_driveRoots;
    std::map<std::wstring, std::wstring> m_driveFolders;

    // The update check's HTTP client, its wait box and the version file's
    // text as last fetched.
    std::unique_ptr<update::THttpClient> idhtp1;
    std::unique_ptr<TWaitHint> MyNoWaitWnd;
};

}  // namespace win32app
