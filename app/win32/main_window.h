// The main window on Win32: the controls in their places, their fonts,
// colours and cursors, the docking layout per monitor dpi, and the plumbing
// that turns control notifications into the window's handlers.
#pragma once

#include "app/win32/win_api.h"

#include <map>
#include <string>
#include <vector>

#include "app/win32/controls.h"
#include "app/win32/dock_layout.h"
#include "app/win32/folder_list.h"
#include "app/win32/results_list.h"
#include "app/win32/row_store.h"

namespace win32app {

inline constexpr const wchar_t* kMainWindowClass = L"TMainForm";
inline constexpr const wchar_t* kMainWindowCaption = L"Osmik Data Lumbra V1.0";

class TMainForm {
public:
    TMainForm();
    ~TMainForm();
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
    TRect PartRect(TPart part) const { return m_layout[static_cast<std::size_t>(part)]; }

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void FillDriveSelector();
    void drvcbbDCBChange();
    void dirlstDLBChange();
    std::wstring CheckNTFS(const std::wstring& drive);

    HWND m_hwnd = nullptr;
    int m_dpi = 96;
    int m_leftPaneWidth = kLeftPaneWidth;
    bool m_draggingSplitter = false;
    TLayout m_layout{};
    TFont m_font13, m_font13Bold, m_font16, m_font16Bold, m_font14Bold, m_font11Bold;
    HBRUSH m_faceBrush = nullptr;
    TRowStore m_rows;

    // The drive selector's entries: root ("C:\") and the folder last entered
    // on that drive.
    std::vector<std::wstring> m_driveRoots;
    std::map<std::wstring, std::wstring> m_driveFolders;
};

}  // namespace win32app
