// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: every control of the program, the drive list, the output
// folder and the results list.
//
// The layout is built from docked strips as the window's design has it: a
// control docked to an edge keeps its thickness, the filling control takes
// what is left, so when the window grows only the drive list (left) and the
// results list (right) grow. Sizes are design pixels at 96 dpi; Qt scales
// them with the screen.
//
// What the window decides lives in form::TMainLogic; this class builds the
// controls, forwards their events there and carries out what it is told
// through form::TMainView, always on the UI thread.
#pragma once

#include <QWidget>
#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "app/qt/directory_list.h"
#include "app/qt/results_model.h"
#include "form/main_logic.h"
#include "form/main_view.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTableView;
class QToolButton;

namespace app {

class TMainForm : public QWidget, public form::TMainView {
    Q_OBJECT

    // Made first: the flag references below point into it.
    std::unique_ptr<form::TMainLogic> m_logic;

public:
    // The window's design size (client area) and caption.
    static constexpr int kDesignWidth = 983;
    static constexpr int kDesignHeight = 596;
    static constexpr int kLeftPaneWidth = 197;
    // A left pane dragged this narrow or narrower collapses to nothing.
    static constexpr int kCollapseWidth = 30;
    // The right pane never gets narrower than this.
    static constexpr int kRightPaneMinWidth = 30;
    static constexpr int kColumnWidths[TResultsModel::kColumnCount] = {23, 282, 68, 80, 158, 158};
    static constexpr int kItemHeight = 19;  // lstDriveList and dirlstDLB

    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Rows found by a scan, appended at the end of lv1, unticked; the count
    // label follows.
    void AddFoundFile(form::TRow row);
    void AppendRows(std::vector<form::TRow> rows);
    TResultsModel* Results() const { return m_results; }
    form::TMainLogic& Logic() { return *m_logic; }

    // lv1's sort: the column of the last header click, and the comparison.
    int lv1Compare(const form::TRow& first, const form::TRow& second) const;

    // The logic's run flags and sort column, under the window's names.
    std::atomic<bool>& ScanRunning;
    std::atomic<bool>& ScanStopRequested;
    std::atomic<bool>& RecoverRunning;
    std::atomic<bool>& RecoverStopRequested;
    const int& SortColumn;

    // form::TMainView.
    void SetText(form::TControl control, std::u16string_view text) override;
    void SetEnabled(form::TControl control, bool enabled) override;
    void SetBarRange(int maximum) override;
    void SetBarPosition(int position) override;
    void SetDriveList(const std::vector<std::string>& drives) override;
    std::optional<std::string> SelectedDrive() const override;
    std::string OutputFolder() const override;
    bool OldNameChosen() const override;
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

    // Left pane.
    QFrame* pnl1 = nullptr;
    QFrame* pnl4 = nullptr;
    QPushButton* btnScan = nullptr;
    QListWidget* lstDriveList = nullptr;
    // lstDriveList's right-click menu and its one item, "Deep Scan".
    QMenu* pmDriveList = nullptr;
    QAction* mniDeepScan = nullptr;
    QFrame* pnl12 = nullptr;
    QWidget* spl2 = nullptr;
    QLabel* lblDrive_Title = nullptr;
    QLabel* lblDriveName = nullptr;
    QLabel* lblDriveSerial = nullptr;
    QLabel* lblDriveSize = nullptr;
    QLabel* lblDriveMFTRecordsCount = nullptr;
    QLabel* lblDriveMFTSize = nullptr;      // never shown
    QLabel* lblDriveMFTLocation = nullptr;  // never shown
    QLabel* lbl1 = nullptr;                 // never shown
    QLabel* lbl2 = nullptr;                 // never shown
    QWidget* spl3 = nullptr;
    QComboBox* drvcbbDCB = nullptr;
    TDirectoryList* dirlstDLB = nullptr;
    QLineEdit* edtPath = nullptr;
    // Between the panes.
    QSplitter* spl1 = nullptr;
    // Right pane.
    QFrame* pnl2 = nullptr;
    QFrame* pnl3 = nullptr;
    QPushButton* btnRecover = nullptr;
    QCheckBox* chk1 = nullptr;
    QRadioButton* rb1 = nullptr;
    QRadioButton* rb2 = nullptr;
    QLabel* lblDelCount = nullptr;
    QFrame* pnl6 = nullptr;
    QLineEdit* edt1 = nullptr;
    QToolButton* btn2 = nullptr;
    QTableView* lv1 = nullptr;
    QFrame* pnl5 = nullptr;
    QProgressBar* pb1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;  // never shown

public slots:
    void btnScanClick();
    void btnRecoverClick();
    void dirlstDLBChange();
    void chk1Click();
    void btn2Click();
    void lv1ColumnClick(int column);
    // A right-click on lstDriveList (at, in its viewport): the menu, its
    // item enabled while no run is going.
    void lstDriveListContextPopup(const QPoint& at);
    void mniDeepScanClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // The controls in their places (main_form_panes.cpp).
    void BuildClientArea();
    void BuildLeftPane();
    void BuildRightPane();
    void FillDriveSelector();
    void drvcbbDCBChange(int index);
    void FormCreate();
    void FormDestroy();
    // lv1's header hook: true when the event starts a column-divider drag,
    // which it refuses.
    bool ListViewWndProc(QEvent* event);
    QWidget* Control(form::TControl control) const;

    TResultsModel* m_results = nullptr;
    // The header area whose events ListViewWndProc sees first; empty when the
    // hook is not installed.
    QWidget* FListViewOldWndProc = nullptr;
    std::vector<TVolume> m_volumes;
    // The folder last entered on each volume, by mount point.
    std::map<QString, QString> m_volumeFolders;
    bool m_shownOnce = false;
};

}  // namespace app
