// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/main_form.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <cstdlib>

#include "app/qt/fonts.h"
#include "app/qt/message_box.h"
#include "form/question.h"
#include "form/texts.h"

namespace app {

namespace {

QString Q(std::u16string_view text) {
    return ToQString(text);
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent),
      m_logic(std::make_unique<form::TMainLogic>(*this, form::SessionEngine())),
      ScanRunning(m_logic->ScanRunning),
      ScanStopRequested(m_logic->ScanStopRequested),
      RecoverRunning(m_logic->RecoverRunning),
      RecoverStopRequested(m_logic->RecoverStopRequested),
      SortColumn(m_logic->SortColumn) {
    SetUpFonts();
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(Q(form::texts::kWindowCaption));
    setWindowIcon(QIcon(QStringLiteral(":/lumbra/lumbra.png")));
    setFont(FontOf(13));
    // Background: the button-face colour; text: the window-text colour.
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    setPalette(p);
    setAutoFillBackground(true);

    BuildClientArea();

    FormCreate();

    connect(btnScan, &QPushButton::clicked, this, &TMainForm::btnScanClick);
    connect(btnRecover, &QPushButton::clicked, this, &TMainForm::btnRecoverClick);
    // The folder list reports no change at creation; FormCreate set edtPath.
    connect(dirlstDLB, &TDirectoryList::Change, this, &TMainForm::dirlstDLBChange);
    connect(dirlstDLB, &TDirectoryList::EnterFailed, this, [](const QString& path) {
        app::ShowMessage(Q(form::texts::Fill(form::texts::kFolderCannotOpen, path.toStdU16String())));
    });
    connect(drvcbbDCB, &QComboBox::activated, this, &TMainForm::drvcbbDCBChange);
    connect(chk1, &QCheckBox::toggled, this, &TMainForm::chk1Click);
    connect(btn2, &QToolButton::clicked, this, &TMainForm::btn2Click);
    connect(lv1->horizontalHeader(), &QHeaderView::sectionClicked, this, &TMainForm::lv1ColumnClick);

    // The drive list's menu. A right-click selects the entry under it first,
    // as the list does for any press, so the item acts on that drive.
    pmDriveList = new QMenu(this);
    pmDriveList->setObjectName(QStringLiteral("pmDriveList"));
    mniDeepScan = pmDriveList->addAction(Q(form::texts::kDeepScanItem));
    lstDriveList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lstDriveList, &QListWidget::customContextMenuRequested, this,
            &TMainForm::lstDriveListContextPopup);
    connect(mniDeepScan, &QAction::triggered, this, &TMainForm::mniDeepScanClick);
}

TMainForm::~TMainForm() {
    // Runs still going end before any control does: their stop flags are
    // set, what they still hand over is dropped, and the list lets go of the
    // logic's rows before the logic goes.
    m_logic->Shutdown();
    FormDestroy();
    lv1->setModel(nullptr);
    delete m_results;
    m_results = nullptr;
}

void TMainForm::FillDriveSelector() {
    m_volumes = MountedVolumes();
    drvcbbDCB->clear();
    for (const TVolume& v : m_volumes) {
        drvcbbDCB->addItem(VolumeIcon(v.Kind, style()), v.Text(), v.RootPath);
    }
    const int current = VolumeIndexOf(m_volumes, dirlstDLB->Directory());
    drvcbbDCB->setCurrentIndex(current);
    if (current >= 0)
        m_volumeFolders[m_volumes[static_cast<std::size_t>(current)].RootPath] = dirlstDLB->Directory();
}

void TMainForm::drvcbbDCBChange(int index) {
    if (index < 0 || index >= static_cast<int>(m_volumes.size())) return;
    const QString root = m_volumes[static_cast<std::size_t>(index)].RootPath;
    // The folder last entered on that volume, or its root.
    const auto known = m_volumeFolders.find(root);
    const QString target = known != m_volumeFolders.end() ? known->second : root;
    if (!dirlstDLB->SetDirectory(target) && (target == root || !dirlstDLB->SetDirectory(root))) {
        drvcbbDCB->setCurrentIndex(VolumeIndexOf(m_volumes, dirlstDLB->Directory()));
        app::ShowMessage(Q(form::texts::Fill(form::texts::kDriveCannotOpen, root.toStdU16String())));
    }
}

void TMainForm::FormCreate() {
    // 1. The results list's header hook.
    FListViewOldWndProc = lv1->horizontalHeader()->viewport();
    FListViewOldWndProc->installEventFilter(this);

    // 2. The drive list, as the logic fills it (SetDriveList).
    m_logic->FillDriveList();

    // 3. No run has started: the logic's flags start cleared.

    // 4. The output folder.
    edtPath->setText(dirlstDLB->Directory());
}

void TMainForm::FormDestroy() {
    if (FListViewOldWndProc != nullptr) {
        FListViewOldWndProc->removeEventFilter(this);
        FListViewOldWndProc = nullptr;
    }
}

void TMainForm::btnScanClick() {
    m_logic->btnScanClick();
}

void TMainForm::btnRecoverClick() {
    m_logic->btnRecoverClick();
}

void TMainForm::dirlstDLBChange() {
    const QString& folder = dirlstDLB->Directory();
    edtPath->setText(folder);
    // The selector follows a folder that lies on another volume.
    const int volume = VolumeIndexOf(m_volumes, folder);
    if (volume >= 0) {
        m_volumeFolders[m_volumes[static_cast<std::size_t>(volume)].RootPath] = folder;
        drvcbbDCB->setCurrentIndex(volume);
    }
}

void TMainForm::chk1Click() {
    m_logic->chk1Click(chk1->isChecked());
}

void TMainForm::btn2Click() {
    m_logic->btn2Click();
}

void TMainForm::lv1ColumnClick(int column) {
    m_logic->lv1ColumnClick(column);
}

void TMainForm::lstDriveListContextPopup(const QPoint& at) {
    mniDeepScan->setEnabled(m_logic->CanDeepScan());
    pmDriveList->popup(lstDriveList->viewport()->mapToGlobal(at));
}

void TMainForm::mniDeepScanClick() {
    m_logic->DeepScanClick();
}

int TMainForm::lv1Compare(const form::TRow& first, const form::TRow& second) const {
    return m_logic->lv1Compare(first, second);
}

void TMainForm::AddFoundFile(form::TRow row) {
    std::vector<form::TRow> rows;
    rows.push_back(std::move(row));
    m_logic->AppendRows(std::move(rows));
}

void TMainForm::AppendRows(std::vector<form::TRow> rows) {
    m_logic->AppendRows(std::move(rows));
}

QWidget* TMainForm::Control(form::TControl control) const {
    switch (control) {
        case form::TControl::btnScan:
            return btnScan;
        case form::TControl::btnRecover:
            return btnRecover;
        case form::TControl::btn2:
            return btn2;
        case form::TControl::chk1:
            return chk1;
        case form::TControl::lblDriveName:
            return lblDriveName;
        case form::TControl::lblDriveSerial:
            return lblDriveSerial;
        case form::TControl::lblDriveSize:
            return lblDriveSize;
        case form::TControl::lblDriveMFTLocation:
            return lblDriveMFTLocation;
        case form::TControl::lblDriveMFTSize:
            return lblDriveMFTSize;
        case form::TControl::lblDriveMFTRecordsCount:
            return lblDriveMFTRecordsCount;
        case form::TControl::lblDelCount:
            return lblDelCount;
        case form::TControl::edtPath:
            return edtPath;
        case form::TControl::Memo1:
            return Memo1;
    }
    return nullptr;
}

void TMainForm::SetText(form::TControl control, std::u16string_view text) {
    QWidget* w = Control(control);
    const QString value = Q(text);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(value);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(value);
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(w))
        memo->setPlainText(value);
}

void TMainForm::SetEnabled(form::TControl control, bool enabled) {
    if (QWidget* w = Control(control)) w->setEnabled(enabled);
}

void TMainForm::SetBarRange(int maximum) {
    // A range of 0..0 would make the bar a busy indicator for good.
    pb1->setRange(0, std::max(maximum, 1));
}

void TMainForm::SetBarPosition(int position) {
    pb1->setValue(position);
}

void TMainForm::SetDriveList(const std::vector<std::string>& drives) {
    lstDriveList->clear();
    for (const std::string& drive : drives) {
        auto* item = new QListWidgetItem(QString::fromStdString(drive), lstDriveList);
        item->setSizeHint(QSize(0, kItemHeight));
    }
    lstDriveList->setCurrentRow(-1);
    lstDriveList->clearSelection();
}

std::optional<std::string> TMainForm::SelectedDrive() const {
    const QList<QListWidgetItem*> selected = lstDriveList->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    return selected.first()->text().toStdString();
}

std::string TMainForm::OutputFolder() const {
    return dirlstDLB->Directory().toStdString();
}

bool TMainForm::OldNameChosen() const {
    return rb1->isChecked();
}

std::u16string TMainForm::SeekText() const {
    return edt1->text().toStdU16String();
}

void TMainForm::RowsReset() {
    m_results->RowsReset();
}

void TMainForm::RowsAppended(std::size_t first, std::size_t count) {
    m_results->RowsAppended(first, count);
}

void TMainForm::RowsReordered(std::span<const std::size_t> newPosition) {
    m_results->RowsReordered(newPosition);
}

void TMainForm::RowDetailsChanged(std::size_t first, std::size_t last) {
    m_results->DetailsChanged(first, last);
}

void TMainForm::ChecksChanged(std::size_t first, std::size_t last) {
    m_results->ChecksChanged(first, last);
}

void TMainForm::FocusRow(std::size_t position) {
    // Focused, added to the selection, scrolled into view; the keyboard
    // focus stays where it was.
    const QModelIndex found = m_results->index(static_cast<int>(position), 0);
    lv1->selectionModel()->setCurrentIndex(found, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    lv1->scrollTo(found, QAbstractItemView::EnsureVisible);
}

void TMainForm::ShowMessage(std::u16string_view text) {
    app::ShowMessage(Q(text));
}

bool TMainForm::Ask(std::u16string_view text, form::TQuestionKind kind) {
    const form::TQuestionBox question = form::QuestionBoxOf(kind);
    QMessageBox box(question.InformationIcon ? QMessageBox::Information : QMessageBox::NoIcon,
                    Q(question.Title), Q(text), QMessageBox::Yes | QMessageBox::Cancel);
    box.button(QMessageBox::Yes)->setText(Q(question.Yes));
    box.button(QMessageBox::Cancel)->setText(Q(question.Cancel));
    box.setDefaultButton(question.YesIsDefault ? QMessageBox::Yes : QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    // Closing the box answers Cancel too.
    return box.exec() == QMessageBox::Yes;
}

void TMainForm::Post(std::function<void()> task) {
    // Queued to this window: dropped by Qt once the window is gone.
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FListViewOldWndProc && FListViewOldWndProc != nullptr && ListViewWndProc(event))
        return true;
    return QWidget::eventFilter(watched, event);
}

bool TMainForm::ListViewWndProc(QEvent* event) {
    // A drag of a column divider begins with a press (or a double click,
    // which would size the column to its contents) on the divider's grip.
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QHeaderView* header = lv1->horizontalHeader();
    const int grip = header->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, header);
    const int x = qRound(mouse->position().x());
    for (int c = 0; c < header->count(); ++c) {
        const int edge = header->sectionViewportPosition(c) + header->sectionSize(c);
        if (std::abs(x - edge) <= grip) return true;
    }
    return false;
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_shownOnce) return;
    m_shownOnce = true;
    // Centred on the work area of its screen when first shown.
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace app
