// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_form.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdlib>

#include "app/fonts.h"
#include "app/message_box.h"
#include "form/drive_facts.h"
#include "form/texts.h"
#include "scan/drive_letters.h"
#include "scan/probe.h"

namespace app {

namespace {

const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QColor kMaroon(128, 0, 0);
const QColor kTeal(0, 128, 128);
const QColor kPurple(128, 0, 128);
const QColor kNavy(0, 0, 128);

constexpr int kItemHeight = 19;  // lstDriveList and dirlstDLB

// A text colour for any kind of control: labels, buttons and edits each paint
// their text with a different palette role.
// Only the active and inactive groups: a disabled control keeps the style's
// greyed text, so a button that cannot be pressed during a run looks it.
void SetTextColour(QWidget* w, const QColor& colour) {
    QPalette p = w->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::WindowText, colour);
        p.setColor(group, QPalette::ButtonText, colour);
        p.setColor(group, QPalette::Text, colour);
    }
    w->setPalette(p);
}

// A panel with a raised bevel 1 px wide; docked children sit inside it.
QFrame* Panel(QWidget* parent, const char* name, bool bevel = true) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(bevel ? (QFrame::Panel | QFrame::Raised) : QFrame::NoFrame);
    panel->setLineWidth(1);
    return panel;
}

QVBoxLayout* Column(QWidget* w) {
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    return l;
}

QHBoxLayout* Row(QWidget* w) {
    auto* l = new QHBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    return l;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text, int pixels, const QColor& colour,
              int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(FontOf(pixels, true));
    SetTextColour(label, colour);
    if (height > 0) label->setFixedHeight(height);
    return label;  // transparent background: QLabel fills nothing by default
}

// A 2 px strip with the vertical-resize cursor. Nothing lies beside it in its
// panel, so it resizes nothing.
QWidget* Strip(QWidget* parent, const char* name) {
    auto* strip = new QWidget(parent);
    strip->setObjectName(QString::fromLatin1(name));
    strip->setFixedHeight(2);
    strip->setCursor(Qt::SizeVerCursor);
    return strip;
}

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

    BuildLeftPane();
    BuildRightPane();

    spl1 = new QSplitter(Qt::Horizontal, this);
    spl1->setObjectName(QStringLiteral("spl1"));
    spl1->addWidget(pnl1);
    spl1->addWidget(pnl2);
    spl1->setHandleWidth(1);
    // The pane changes when the mouse button is released; a line shows the
    // new place while dragging.
    spl1->setOpaqueResize(false);
    spl1->setCollapsible(0, true);
    spl1->setCollapsible(1, false);
    spl1->setStretchFactor(0, 0);
    spl1->setStretchFactor(1, 1);
    spl1->handle(1)->setCursor(Qt::SplitHCursor);
    // Explicit minimum widths stand in for the panes' layouts' own: the left
    // pane may go down to 1 px (and then collapse, below), the right to 30 px.
    pnl1->setMinimumWidth(1);
    pnl2->setMinimumWidth(kRightPaneMinWidth);
    connect(spl1, &QSplitter::splitterMoved, this, [this](int pos, int) {
        if (pos > 0 && pos <= kCollapseWidth) spl1->setSizes({0, spl1->width()});
    });
    auto* client = Row(this);
    client->addWidget(spl1);
    resize(kDesignWidth, kDesignHeight);
    spl1->setSizes({kLeftPaneWidth, kDesignWidth - kLeftPaneWidth - spl1->handleWidth()});

    // Tab order: the left pane top to bottom, then the command bar, then the list.
    QWidget::setTabOrder(btnScan, lstDriveList);
    QWidget::setTabOrder(lstDriveList, drvcbbDCB);
    QWidget::setTabOrder(drvcbbDCB, dirlstDLB);
    QWidget::setTabOrder(dirlstDLB, edtPath);
    QWidget::setTabOrder(edtPath, chk1);
    QWidget::setTabOrder(chk1, btnRecover);
    QWidget::setTabOrder(btnRecover, rb1);
    QWidget::setTabOrder(rb1, rb2);
    QWidget::setTabOrder(rb2, edt1);
    QWidget::setTabOrder(edt1, lv1);

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

void TMainForm::BuildLeftPane() {
    pnl1 = Panel(this, "pnl1");
    auto* left = Column(pnl1);

    pnl4 = Panel(pnl1, "pnl4");
    pnl4->setFixedHeight(33);
    btnScan = new QPushButton(Q(form::texts::kScanIdle), pnl4);
    btnScan->setObjectName(QStringLiteral("btnScan"));
    btnScan->setFont(FontOf(13, true));
    SetTextColour(btnScan, kGreen);
    btnScan->setCursor(Qt::PointingHandCursor);
    btnScan->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    Row(pnl4)->addWidget(btnScan);
    left->addWidget(pnl4);

    lstDriveList = new QListWidget(pnl1);
    lstDriveList->setObjectName(QStringLiteral("lstDriveList"));
    lstDriveList->setFont(FontOf(16));
    lstDriveList->setSelectionMode(QAbstractItemView::SingleSelection);
    lstDriveList->setUniformItemSizes(true);
    left->addWidget(lstDriveList, 1);  // the only control of the pane that grows

    pnl12 = Panel(pnl1, "pnl12");
    pnl12->setFixedHeight(126);
    auto* info = Column(pnl12);
    spl2 = Strip(pnl12, "spl2");
    info->addWidget(spl2);
    lblDrive_Title = Label(pnl12, "lblDrive_Title", Q(form::texts::kDriveTitle), 16, kBlue, 32);
    lblDrive_Title->setAlignment(Qt::AlignCenter);
    info->addWidget(lblDrive_Title);
    lblDriveName = Label(pnl12, "lblDriveName", Q(form::texts::kDriveNameUnknown), 14, kGreen, 17);
    lblDriveSerial = Label(pnl12, "lblDriveSerial", Q(form::texts::kSerialUnknown), 14, kGreen, 17);
    lblDriveSize = Label(pnl12, "lblDriveSize", Q(form::texts::kSizeUnknown), 14, kGreen, 17);
    lblDriveMFTRecordsCount =
        Label(pnl12, "lblDriveMFTRecordsCount", Q(form::texts::kRecordCountNone), 14, kGreen, 17);
    for (QLabel* l : {lblDriveName, lblDriveSerial, lblDriveSize, lblDriveMFTRecordsCount})
        info->addWidget(l);
    info->addStretch(1);
    spl3 = Strip(pnl12, "spl3");
    info->addWidget(spl3);
    // Written by the scan but never shown.
    const QColor windowText = palette().color(QPalette::WindowText);
    lblDriveMFTSize = Label(pnl12, "lblDriveMFTSize", Q(form::texts::kMftSizeUnknown), 11, windowText, 0);
    lblDriveMFTLocation =
        Label(pnl12, "lblDriveMFTLocation", Q(form::texts::kMftLocationUnknown), 11, windowText, 0);
    lbl1 = Label(pnl12, "lbl1", Q(form::texts::kSaveFolderTitle), 13, windowText, 0);
    lbl2 = Label(pnl12, "lbl2", Q(form::texts::kDriveListTitle), 13, windowText, 0);
    for (QLabel* l : {lblDriveMFTSize, lblDriveMFTLocation, lbl1, lbl2}) l->hide();
    left->addWidget(pnl12);

    drvcbbDCB = new QComboBox(pnl1);
    drvcbbDCB->setObjectName(QStringLiteral("drvcbbDCB"));
    drvcbbDCB->setFont(FontOf(16, true));
    drvcbbDCB->setFixedHeight(25);
    left->addWidget(drvcbbDCB);

    dirlstDLB = new TDirectoryList(pnl1);
    dirlstDLB->setObjectName(QStringLiteral("dirlstDLB"));
    dirlstDLB->setFont(FontOf(16));
    dirlstDLB->setFixedHeight(200);
    left->addWidget(dirlstDLB);

    edtPath = new QLineEdit(pnl1);
    edtPath->setObjectName(QStringLiteral("edtPath"));
    edtPath->setReadOnly(true);
    edtPath->setFixedHeight(24);
    left->addWidget(edtPath);

    // The folder list starts at the working directory, and the selector on
    // its volume. A working directory that cannot be listed (removed under
    // the process) falls back to the home folder, then to "/".
    for (const QString& start : {QDir::currentPath(), QDir::homePath(), QStringLiteral("/")})
        if (dirlstDLB->SetDirectory(start)) break;
    FillDriveSelector();
}

void TMainForm::BuildRightPane() {
    pnl2 = Panel(this, "pnl2");
    auto* right = Column(pnl2);

    pnl3 = Panel(pnl2, "pnl3");
    pnl3->setFixedHeight(33);
    auto* bar = Row(pnl3);
    const QFont barFont = FontOf(13, true);
    auto place = [&](QWidget* w, const char* name, int width, const QColor& colour) {
        w->setObjectName(QString::fromLatin1(name));
        w->setFont(barFont);
        SetTextColour(w, colour);
        w->setFixedSize(width, 31);
    };
    btnRecover = new QPushButton(Q(form::texts::kRecoverIdle), pnl3);
    place(btnRecover, "btnRecover", 88, kPurple);
    chk1 = new QCheckBox(Q(form::texts::kSelectAll), pnl3);
    place(chk1, "chk1", 98, kTeal);
    rb1 = new QRadioButton(Q(form::texts::kOldName), pnl3);
    place(rb1, "rb1", 140, kTeal);
    rb1->setChecked(true);
    rb2 = new QRadioButton(Q(form::texts::kAutoName), pnl3);
    place(rb2, "rb2", 112, kTeal);
    for (QWidget* w : {static_cast<QWidget*>(btnRecover), static_cast<QWidget*>(chk1),
                       static_cast<QWidget*>(rb1), static_cast<QWidget*>(rb2)})
        bar->addWidget(w);
    bar->addStretch(1);

    lblDelCount = new QLabel(Q(form::texts::kDeletedCountInitial), pnl3);
    place(lblDelCount, "lblDelCount", 108, kMaroon);
    lblDelCount->setAlignment(Qt::AlignCenter);
    lblDelCount->setWordWrap(true);
    bar->addWidget(lblDelCount);

    pnl6 = Panel(pnl3, "pnl6", false);
    pnl6->setFixedSize(221, 31);
    auto* seek = Row(pnl6);
    seek->addStretch(1);
    edt1 = new QLineEdit(pnl6);
    place(edt1, "edt1", 145, kNavy);
    seek->addWidget(edt1);
    btn2 = new QToolButton(pnl6);
    btn2->setText(Q(form::texts::kSeek));
    place(btn2, "btn2", 52, kNavy);
    btn2->setFocusPolicy(Qt::NoFocus);
    seek->addWidget(btn2);
    bar->addWidget(pnl6);
    right->addWidget(pnl3);

    m_results = new TResultsModel(*m_logic, this);
    lv1 = new QTableView(pnl2);
    lv1->setObjectName(QStringLiteral("lv1"));
    lv1->setModel(m_results);
    lv1->setFrameShape(QFrame::NoFrame);
    lv1->setShowGrid(true);
    lv1->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lv1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv1->setSortingEnabled(false);  // rows keep their order until a header click
    lv1->setWordWrap(false);
    lv1->setTextElideMode(Qt::ElideNone);  // the 23 px caption column is simply cut off
    lv1->verticalHeader()->hide();
    // Fixed row heights let the view place 300,000 rows without measuring any.
    lv1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lv1->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    QHeaderView* header = lv1->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(1);
    for (int c = 0; c < TResultsModel::kColumnCount; ++c) header->resizeSection(c, kColumnWidths[c]);
    header->setSectionResizeMode(QHeaderView::Fixed);
    // The selection shows only while the list has the focus.
    QPalette lp = lv1->palette();
    lp.setColor(QPalette::Inactive, QPalette::Highlight, lp.color(QPalette::Active, QPalette::Base));
    lp.setColor(QPalette::Inactive, QPalette::HighlightedText, lp.color(QPalette::Active, QPalette::Text));
    lv1->setPalette(lp);
    right->addWidget(lv1, 1);

    pnl5 = Panel(pnl2, "pnl5");
    pnl5->setFixedHeight(28);
    pb1 = new QProgressBar(pnl5);
    pb1->setObjectName(QStringLiteral("pb1"));
    pb1->setRange(0, 100);
    pb1->setValue(0);
    pb1->setTextVisible(false);
    Row(pnl5)->addWidget(pb1);
    right->addWidget(pnl5);

    // Holds the text of the version file for the update check; never shown.
    Memo1 = new QPlainTextEdit(pnl2);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setGeometry(593, 520, 184, 42);
    Memo1->hide();
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

    // 2. The drive list: every drive of the mask, lowest letter first, kept
    //    when its probe answers exactly "NTFS".
    QStringList drives;
    lstDriveList->clear();
    const std::uint32_t mask = scan::DriveLettersMask();
    for (int i = 0; i < 32; ++i) {
        if ((mask & (std::uint32_t{1} << i)) == 0) continue;
        const QString drive = QString(QChar(u'A' + i)) + u':';
        if (CheckNTFS(drive) == QLatin1String("NTFS")) drives.push_back(drive);
    }
    for (const QString& drive : drives) {
        auto* item = new QListWidgetItem(drive, lstDriveList);
        item->setSizeHint(QSize(0, kItemHeight));
    }
    lstDriveList->setCurrentRow(-1);
    lstDriveList->clearSelection();

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

QString TMainForm::CheckNTFS(const QString& drive) {
    const std::optional<scan::TProbeResult> probe = scan::ProbeDrive(drive.toStdString());
    if (!probe) return {};
    lblDriveName->setText(QString::fromStdU16String(form::ProbeNameText(probe->Label)));
    lblDriveSerial->setText(QString::fromStdU16String(form::ProbeSerialText(probe->SerialNumber)));
    // Byte for byte: a damaged OEM field must not turn into "NTFS" on the way.
    return QString::fromLatin1(probe->Oem.data(), static_cast<qsizetype>(probe->Oem.size()));
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
    if (kind == form::TQuestionKind::Information) {
        QMessageBox box(QMessageBox::Information, Q(form::texts::kUpdateTitle), Q(text),
                        QMessageBox::NoButton);
        QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(cancel);
        box.exec();
        return box.clickedButton() == yes;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), Q(text),
                    QMessageBox::Yes | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
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
    // Qt sends this before the window is put on the screen: the update check
    // ends (or has downloaded) before the window is first drawn.
    FormShow();
}

void TMainForm::FormShow() {
#if LUMBRA_SELF_UPDATE
    CheckForUpdate();
#endif
}

}  // namespace app
