// SPDX-License-Identifier: GPL-3.0-or-later
// What the window logic may ask of a window, and nothing else.
//
// Both windows (app/qt/ and app/win32/) implement this and only draw and
// forward: every decision (flags, captions, enabled states, messages, which
// rows, in which order) is taken by form::TMainLogic. All texts are UTF-16,
// the unit both toolkits draw with. Every call but Post comes on the UI
// thread; Post is how the workers reach it.
//
// The results list's rows live in form::TResultRows, owned by the logic; the
// window shows them as a virtual list and is told when they change.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace form {

// The controls whose text or enabled state the logic sets, by their names in
// the window.
enum class TControl {
    btnScan,
    btnRecover,
    btn2,
    chk1,
    lblDriveName,
    lblDriveSerial,
    lblDriveSize,
    lblDriveMFTLocation,
    lblDriveMFTSize,
    lblDriveMFTRecordsCount,
    lblDelCount,
    edtPath,
    Memo1,
};

// How a question is put (form/question.h: its title, icon and buttons).
enum class TQuestionKind {
    // Cancel is the default, so Enter alone never agrees to something that
    // can lose data.
    Caution,
    // The update's offer: Yes is the default.
    Information,
};

class TMainView {
public:
    virtual ~TMainView() = default;

    // Controls.
    virtual void SetText(TControl control, std::u16string_view text) = 0;
    virtual void SetEnabled(TControl control, bool enabled) = 0;
    // The progress bar pb1. A maximum of 0 is shown as an empty bar, never
    // as a busy indicator.
    virtual void SetBarRange(int maximum) = 0;
    virtual void SetBarPosition(int position) = 0;

    // lstDriveList's entries, in this order ("C:"), none selected.
    virtual void SetDriveList(const std::vector<std::string>& drives) = 0;

    // What the user chose, read when the logic needs it.
    // The drive string of the selected entry of lstDriveList, UTF-8; nothing
    // when no entry is selected.
    virtual std::optional<std::string> SelectedDrive() const = 0;
    // The output folder shown by dirlstDLB, UTF-8.
    virtual std::string OutputFolder() const = 0;
    // rb1 ("Old FileName Save") is selected.
    virtual bool OldNameChosen() const = 0;
    // The text of edt1, the Seek box.
    virtual std::u16string SeekText() const = 0;

    // The results list lv1, drawn from the logic's rows.
    // Every row was removed.
    virtual void RowsReset() = 0;
    // Rows [first, first + count) were appended.
    virtual void RowsAppended(std::size_t first, std::size_t count) = 0;
    // The rows were put in a new order: the row that stood at position p now
    // stands at newPosition[p]. Selection and focus follow their rows.
    virtual void RowsReordered(std::span<const std::size_t> newPosition) = 0;
    // The ticks of rows [first, last] changed.
    virtual void ChecksChanged(std::size_t first, std::size_t last) = 0;
    // Rows first..last (positions) got their path and verdict: their
    // tooltips and tints (RowToolTip, RowTint) changed.
    virtual void RowDetailsChanged(std::size_t first, std::size_t last) {
        (void)first;
        (void)last;
    }
    // Seek found this row: make it the focused row, add it to the selection
    // and scroll it into view, leaving the keyboard focus where it is.
    virtual void FocusRow(std::size_t position) = 0;

    // The program's plain message box; returns once it is closed.
    virtual void ShowMessage(std::u16string_view text) = 0;
    // True only when the user answered Yes.
    virtual bool Ask(std::u16string_view text, TQuestionKind kind) = 0;

    // Any thread: runs task on the UI thread, after every task posted before
    // it. Tasks posted once the window is gone are dropped.
    virtual void Post(std::function<void()> task) = 0;
};

}  // namespace form
