// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's controls in their places: the two panes, the splitter
// between them, each control's font, colour, size and cursor. What the
// controls do is main_form.cpp's.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/qt/fonts.h"
#include "app/qt/main_form.h"
#include "form/texts.h"

namespace app {

namespace {

const QColor kGreen(0, 128, 0);
const QColor kBlue(0, 0, 255);
const QColor kMaroon(128, 0, 0);
const QColor kTeal(0, 128, 128);
const QColor kPurple(128, 0, 128);
const QColor kNavy(0, 0, 128);

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

void TMainForm::BuildClientArea() {
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

    // A control of the design that only the Win32 window's update check
    // fills; never shown.
    Memo1 = new QPlainTextEdit(pnl2);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setGeometry(593, 520, 184, 42);
    Memo1->hide();
}

}  // namespace app
