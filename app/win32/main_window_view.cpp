// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 window's side of form::TMainView: the logic's requests carried
// out on the controls, its questions in message boxes, and the tasks the
// workers post, run on the UI thread in order.
#include "app/win32/main_window.h"

#include <commctrl.h>

#include "form/drive_facts.h"
#include "form/question.h"
#include "form/result_rows.h"
#include "form/texts.h"
#include "platform/win_text.h"

namespace win32app {

std::wstring_view TLogicRows::Cell(std::size_t row, int column) const {
    return Wide(m_logic->Rows().Row(row).Column(column));
}

std::u16string TLogicRows::ToolTip(std::size_t row) const {
    return form::RowToolTip(m_logic->Rows().Row(row));
}

std::optional<COLORREF> TLogicRows::Tint(std::size_t row) const {
    const auto tint = form::RowTint(m_logic->Rows().Row(row));
    if (!tint) return std::nullopt;
    return RGB(tint->Red, tint->Green, tint->Blue);
}

// ---- form::TMainView: the logic's requests, on the UI thread.

TControl* TMainForm::ControlOf(form::TControl control) {
    switch (control) {
        case form::TControl::btnScan:
            return &btnScan;
        case form::TControl::btnRecover:
            return &btnRecover;
        case form::TControl::btn2:
            return &btn2;
        case form::TControl::chk1:
            return &chk1;
        case form::TControl::lblDriveName:
            return &lblDriveName;
        case form::TControl::lblDriveSerial:
            return &lblDriveSerial;
        case form::TControl::lblDriveSize:
            return &lblDriveSize;
        case form::TControl::lblDriveMFTLocation:
            return &lblDriveMFTLocation;
        case form::TControl::lblDriveMFTSize:
            return &lblDriveMFTSize;
        case form::TControl::lblDriveMFTRecordsCount:
            return &lblDriveMFTRecordsCount;
        case form::TControl::lblDelCount:
            return &lblDelCount;
        case form::TControl::edtPath:
            return &edtPath;
        case form::TControl::Memo1:
            return &Memo1;
    }
    return nullptr;
}

void TMainForm::SetText(form::TControl control, std::u16string_view text) {
    TControl* c = ControlOf(control);
    if (c == nullptr) return;
    c->SetText(Wide(text));
    // Labels with a transparent background leave their old text behind.
    if (c != &edtPath && c != &Memo1) InvalidateRect(c->Handle(), nullptr, TRUE);
}

void TMainForm::SetEnabled(form::TControl control, bool enabled) {
    if (TControl* c = ControlOf(control)) c->Enable(enabled);
}

void TMainForm::SetBarRange(int maximum) {
    pb1.Send(PBM_SETRANGE32, 0, maximum);
}

void TMainForm::SetBarPosition(int position) {
    pb1.SetPosition(position);
}

void TMainForm::SetDriveList(const std::vector<std::string>& drives) {
    lstDriveList.Clear();
    for (const std::string& drive : drives) lstDriveList.Add(platform::Widen(drive));
    lstDriveList.Select(-1);
}

std::optional<std::string> TMainForm::SelectedDrive() const {
    const int index = lstDriveList.Selected();
    if (index < 0) return std::nullopt;
    return platform::Narrow(lstDriveList.ItemText(index));
}

std::string TMainForm::OutputFolder() const {
    return platform::Narrow(dirlstDLB.Directory());
}

std::u16string TMainForm::SeekText() const {
    const std::wstring text = edt1.Text();
    return {text.begin(), text.end()};
}

void TMainForm::RowsReset() {
    KillTimer(m_hwnd, kRowCountTimer);
    m_rowCountDue = false;
    lv1.Send(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), 0);  // nothing stays selected
    lv1.Send(LVM_SETITEMCOUNT, 0, 0);
    lv1.RedrawAll();
}

void TMainForm::RowsAppended(std::size_t, std::size_t) {
    // The list only learns the new count. Until a page is full it learns it
    // at once, so the first rows show as they come; after that at most every
    // kRowCountInterval: wine's list view takes time in proportion to the
    // rows for every count it is told, which over a 150,000-row scan cost
    // the UI thread more than the scan itself.
    if (m_rowCountDue) return;
    const auto shown = static_cast<std::size_t>(lv1.Send(LVM_GETITEMCOUNT));
    const auto page = static_cast<std::size_t>(lv1.Send(LVM_GETCOUNTPERPAGE)) + 1;
    if (shown <= page) {
        lv1.RowCountChanged();
        return;
    }
    m_rowCountDue = true;
    SetTimer(m_hwnd, kRowCountTimer, kRowCountInterval, nullptr);
}

void TMainForm::SyncRowCount() {
    if (!m_rowCountDue) return;
    KillTimer(m_hwnd, kRowCountTimer);
    m_rowCountDue = false;
    lv1.RowCountChanged();
}

void TMainForm::RowsReordered(std::span<const std::size_t> newPosition) {
    SyncRowCount();
    // The selection and the focus follow their rows.
    std::vector<std::size_t> selected;
    for (LRESULT i = lv1.Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED); i >= 0;
         i = lv1.Send(LVM_GETNEXTITEM, static_cast<WPARAM>(i), LVNI_SELECTED))
        selected.push_back(static_cast<std::size_t>(i));
    const LRESULT focused = lv1.Send(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED);
    LVITEMW clear{};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv1.Send(LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&clear));
    for (std::size_t old : selected) {
        if (old >= newPosition.size()) continue;
        LVITEMW item{};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        lv1.Send(LVM_SETITEMSTATE, newPosition[old], reinterpret_cast<LPARAM>(&item));
    }
    if (focused >= 0 && static_cast<std::size_t>(focused) < newPosition.size()) {
        LVITEMW item{};
        item.stateMask = LVIS_FOCUSED;
        item.state = LVIS_FOCUSED;
        lv1.Send(LVM_SETITEMSTATE, newPosition[static_cast<std::size_t>(focused)],
                 reinterpret_cast<LPARAM>(&item));
    }
    lv1.RedrawAll();
}

void TMainForm::ChecksChanged(std::size_t first, std::size_t last) {
    SyncRowCount();
    // Only the rows on screen need drawing; the rest ask when they show.
    const auto top = static_cast<std::size_t>(lv1.Send(LVM_GETTOPINDEX));
    const auto page = static_cast<std::size_t>(lv1.Send(LVM_GETCOUNTPERPAGE)) + 1;
    const std::size_t from = std::max(first, top);
    const std::size_t to = std::min(last, top + page);
    if (from <= to) lv1.Send(LVM_REDRAWITEMS, from, static_cast<LPARAM>(to));
}

void TMainForm::RowDetailsChanged(std::size_t first, std::size_t last) {
    // Tooltips are asked for when shown; the tints need the visible rows drawn.
    ChecksChanged(first, last);
}

void TMainForm::FocusRow(std::size_t position) {
    SyncRowCount();
    lv1.FocusAndSelect(position);
}

void TMainForm::ShowMessage(std::u16string_view text) {
    // A run's closing message finds every row in the list.
    SyncRowCount();
    const std::wstring copy(Wide(text));
    MessageBoxW(m_hwnd, copy.c_str(), Wide(form::texts::kApplicationTitle).data(), MB_OK);
}

namespace {

// A message box has OK and Cancel but no Yes and Cancel pair: the question
// relabels its buttons while the box is being shown.
thread_local HHOOK t_questionHook = nullptr;
thread_local const form::TQuestionBox* t_question = nullptr;

LRESULT CALLBACK QuestionHook(int code, WPARAM w, LPARAM l) {
    if (code == HCBT_ACTIVATE) {
        const auto box = reinterpret_cast<HWND>(w);
        if (t_question != nullptr) {
            SetDlgItemTextW(box, IDOK, std::wstring(Wide(t_question->Yes)).c_str());
            SetDlgItemTextW(box, IDCANCEL, std::wstring(Wide(t_question->Cancel)).c_str());
        }
        UnhookWindowsHookEx(t_questionHook);
        t_questionHook = nullptr;
        return 0;
    }
    return CallNextHookEx(t_questionHook, code, w, l);
}

}  // namespace

bool TMainForm::Ask(std::u16string_view text, form::TQuestionKind kind) {
    const form::TQuestionBox question = form::QuestionBoxOf(kind);
    const std::wstring copy(Wide(text));
    const std::wstring title(Wide(question.Title));
    const UINT style = MB_OKCANCEL | (question.InformationIcon ? MB_ICONINFORMATION : 0) |
                       (question.YesIsDefault ? MB_DEFBUTTON1 : MB_DEFBUTTON2);
    t_question = &question;
    t_questionHook = SetWindowsHookExW(WH_CBT, QuestionHook, nullptr, GetCurrentThreadId());
    const int answer = MessageBoxW(m_hwnd, copy.c_str(), title.c_str(), style);
    if (t_questionHook != nullptr) UnhookWindowsHookEx(t_questionHook);
    t_questionHook = nullptr;
    t_question = nullptr;
    return answer == IDOK;
}

void TMainForm::Post(std::function<void()> task) {
    bool signal = false;
    {
        const std::lock_guard lock(m_tasksMutex);
        if (m_closed) return;
        m_tasks.push_back(std::move(task));
        signal = !m_tasksSignalled;
        m_tasksSignalled = true;
    }
    if (signal) PostMessageW(m_hwnd, kRunTasksMessage, 0, 0);
}

void TMainForm::RunPostedTasks() {
    // One task at a time, in posting order. When more wait, the wake-up is
    // posted again before the task runs: a task that opens a message box
    // runs a message loop of its own, and the tasks behind it go on there.
    std::function<void()> task;
    {
        const std::lock_guard lock(m_tasksMutex);
        if (m_tasks.empty()) {
            m_tasksSignalled = false;
            return;
        }
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
        if (m_tasks.empty())
            m_tasksSignalled = false;
        else
            PostMessageW(m_hwnd, kRunTasksMessage, 0, 0);
    }
    task();
}

}  // namespace win32app
