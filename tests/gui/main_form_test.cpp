// SPDX-License-Identifier: GPL-3.0-or-later
// The real main window, headless: drive list from fixture images, initial
// texts and states, docking, the output folder, and the results list's sort,
// Seek, Select All and fixed column widths.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <iterator>
#include <memory>

#include "app/qt/fonts.h"
#include "app/qt/main_form.h"

using app::TMainForm;
using form::TRow;

namespace {

QString Image(const char* name) {
    return QStringLiteral(LUMBRA_FIXTURE_IMAGES "/%1.img").arg(name);
}

QJsonObject Manifest(const char* name) {
    QFile f(QStringLiteral(LUMBRA_FIXTURE_MANIFESTS "/%1.json").arg(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

TRow MakeRow(const QString& caption, const QString& name, const QString& ext, const QString& size,
             const QString& created = QStringLiteral("2024/5/1 10:00:00"),
             const QString& updated = QStringLiteral("2024/5/2 11:00:00")) {
    TRow row;
    row.Caption = caption.toStdU16String();
    row.FileName = name.toStdU16String();
    row.FileExt = ext.toStdU16String();
    row.FileSize = size.toStdU16String();
    row.CreateTime = created.toStdU16String();
    row.LastTime = updated.toStdU16String();
    return row;
}

// The window on a drive table; LUMBRA_DRIVES is read while the window is made.
std::unique_ptr<TMainForm> MakeForm(const QString& drives) {
    qputenv("LUMBRA_DRIVES", drives.toUtf8());
    auto form = std::make_unique<TMainForm>();
    // Every reset, insertion, reorder and tick the list sees is checked
    // against the model contract while the test runs.
    new QAbstractItemModelTester(form->Results(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 form.get());
    return form;
}

QStringList DriveItems(const TMainForm& form) {
    QStringList items;
    for (int i = 0; i < form.lstDriveList->count(); ++i) items << form.lstDriveList->item(i)->text();
    return items;
}

QStringList Captions(const TMainForm& form) {
    QStringList captions;
    for (int i = 0; i < form.Results()->Count(); ++i)
        captions << app::ToQString(form.Results()->Row(i).Caption);
    return captions;
}

QList<int> Widths(const QHeaderView* header) {
    QList<int> widths;
    for (int c = 0; c < header->count(); ++c) widths << header->sectionSize(c);
    return widths;
}

void SendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
    QMouseEvent event(type, pos, target->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Press on the divider right of `column`, drag it `dx` pixels, release.
void DragDivider(QHeaderView* header, int column, int dx) {
    QWidget* area = header->viewport();
    const int x = header->sectionViewportPosition(column) + header->sectionSize(column);
    const int y = header->height() / 2;
    SendMouse(area, QEvent::MouseButtonPress, {x, y}, Qt::LeftButton);
    for (int step = 1; step <= 5; ++step)
        SendMouse(area, QEvent::MouseMove, {x + dx * step / 5, y}, Qt::LeftButton);
    SendMouse(area, QEvent::MouseButtonRelease, {x + dx, y}, Qt::NoButton);
}

// Answers the next message box with OK and keeps its text in *text.
void AnswerNextMessage(QString* text) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        *text = box->windowTitle() + u'|' + box->text();
        box->accept();
        timer->deleteLater();
    });
    timer->start(10);
}

QModelIndex ItemIndexOf(const QListWidget* list, const QString& path) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(app::TDirectoryList::kPathRole).toString() == path)
            return list->model()->index(i, 0);
    return {};
}

}  // namespace

class TMainFormTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(QFile::exists(Image("basic")), "fixture images are built by lumbra_fixtures");
    }

    void DriveListKeepsNtfsInLetterOrder_data() {
        QTest::addColumn<QString>("drives");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("labelsOf");  // manifest whose label and serial the labels show
        const QString basic = Image("basic"), fat = Image("notntfs"), c512 = Image("c512"),
                      s4k = Image("s4k"), missing = Image("no-such-image");
        QTest::newRow("NTFS, FAT, NTFS, missing")
            << QStringLiteral("D=%1;E=%2;F=%3;G=%4").arg(basic, fat, c512, missing) << QStringList{"D:", "F:"}
            << "c512";
        QTest::newRow("letters in table order, not entry order")
            << QStringLiteral("Q=%1;C=%2;K=%3").arg(s4k, basic, fat) << QStringList{"C:", "Q:"} << "s4k";
        QTest::newRow("serial with a leading zero")
            << QStringLiteral("E=%1;H=%2").arg(c512, basic) << QStringList{"E:", "H:"} << "basic";
        QTest::newRow("last opened drive is not NTFS")
            << QStringLiteral("D=%1;E=%2").arg(basic, fat) << QStringList{"D:"} << "notntfs";
        QTest::newRow("nothing opens") << QStringLiteral("D=%1;E=%1x").arg(missing) << QStringList{} << "";
    }
    void DriveListKeepsNtfsInLetterOrder() {
        QFETCH(QString, drives);
        QFETCH(QStringList, listed);
        QFETCH(QString, labelsOf);
        auto form = MakeForm(drives);
        QCOMPARE(DriveItems(*form), listed);
        QVERIFY(form->lstDriveList->selectedItems().isEmpty());
        QCOMPARE(form->lstDriveList->currentRow(), -1);
        if (labelsOf.isEmpty()) {
            QCOMPARE(form->lblDriveName->text(), QStringLiteral("DriveName: unknown"));
            QCOMPARE(form->lblDriveSerial->text(), QStringLiteral("SN:   Unknown"));
            return;
        }
        const QJsonObject m = Manifest(labelsOf.toLatin1().constData());
        const QJsonObject boot = m.value("boot").toObject();
        const QString label =
            m.contains("label") ? m.value("label").toString() : boot.value("label").toString();
        QCOMPARE(form->lblDriveName->text(), QStringLiteral("Name: ") + label);
        if (boot.contains("serial")) {
            // The manifest writes all 16 digits; the label has at least 8.
            QString serial = boot.value("serial").toString();
            while (serial.size() > 8 && serial.startsWith(u'0')) serial.remove(0, 1);
            QCOMPARE(form->lblDriveSerial->text(), QStringLiteral("SN: ") + serial);
        } else
            QVERIFY(form->lblDriveSerial->text().startsWith(QStringLiteral("SN: ")));
    }

    // Each kind of question as the box shows it, and which answers agree.
    void QuestionsAreDrawnAsTheLogicPutsThem() {
        struct TCase {
            form::TQuestionKind Kind;
            QString Title;
            QMessageBox::Icon Icon;
            QMessageBox::StandardButton Default;
        };
        const TCase cases[] = {
            {form::TQuestionKind::Caution, QStringLiteral("Lumbra"), QMessageBox::NoIcon,
             QMessageBox::Cancel},
            {form::TQuestionKind::Information, QStringLiteral("Information"), QMessageBox::Information,
             QMessageBox::Yes},
        };
        auto form = MakeForm(QString());
        for (const TCase& c : cases) {
            for (const QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::Cancel}) {
                QString seen;
                auto* timer = new QTimer;
                QObject::connect(timer, &QTimer::timeout, [timer, &seen, answer] {
                    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    if (box == nullptr) return;
                    seen = QStringList{box->windowTitle(), box->text(), box->button(QMessageBox::Yes)->text(),
                                       box->button(QMessageBox::Cancel)->text()}
                               .join(u'|');
                    timer->setProperty("icon", static_cast<int>(box->icon()));
                    timer->setProperty("yesDefault", box->defaultButton() == box->button(QMessageBox::Yes));
                    box->button(answer)->click();
                    timer->stop();
                });
                timer->start(10);
                const bool agreed = form->Ask(u"Go on?", c.Kind);
                QCOMPARE(agreed, answer == QMessageBox::Yes);
                QCOMPARE(seen, c.Title + QStringLiteral("|Go on?|&Yes|Cancel"));
                QCOMPARE(timer->property("icon").toInt(), static_cast<int>(c.Icon));
                QCOMPARE(timer->property("yesDefault").toBool(), c.Default == QMessageBox::Yes);
                delete timer;
            }
        }
    }

    void WindowOpensWithDesignTextsAndStates() {
        auto form = MakeForm(QString());
        QCOMPARE(form->windowTitle(), QStringLiteral("Osmik Data Lumbra V1.0"));
        QCOMPARE(form->size(), QSize(983, 596));
        QCOMPARE(form->btnScan->text(), QStringLiteral("Disk Scan"));
        QCOMPARE(form->btnRecover->text(), QStringLiteral("Lumbra File"));
        QCOMPARE(form->chk1->text(), QStringLiteral("Select All"));
        QVERIFY(!form->chk1->isChecked());
        QVERIFY(form->rb1->isChecked());
        QVERIFY(!form->rb2->isChecked());
        QCOMPARE(form->btn2->text(), QStringLiteral("Seek"));
        QCOMPARE(form->btn2->focusPolicy(), Qt::NoFocus);
        QCOMPARE(form->lblDelCount->text(), QStringLiteral(" Deleted QTY:   0"));
        QCOMPARE(form->lblDrive_Title->text(), QStringLiteral("Drive Information"));
        QCOMPARE(form->lblDriveSize->text(), QStringLiteral("Size:  Unknown"));
        QCOMPARE(form->lblDriveMFTRecordsCount->text(), QStringLiteral("File QTY:   0"));
        QCOMPARE(form->lblDriveMFTSize->text(), QStringLiteral(u"MFT大小: 未知"));
        QCOMPARE(form->lblDriveMFTLocation->text(), QStringLiteral(u"MFT位置: 未知"));
        QVERIFY(form->edt1->text().isEmpty());
        QCOMPARE(form->pb1->value(), 0);
        QCOMPARE(form->Results()->Count(), 0);
        QCOMPARE(form->lv1->model()->rowCount(), 0);
        QVERIFY(form->edtPath->isReadOnly());
        QCOMPARE(form->edtPath->text(), QDir::currentPath());
        QCOMPARE(form->dirlstDLB->Directory(), QDir::currentPath());
        QCOMPARE(form->SortColumn, 0);
        QVERIFY(!form->ScanRunning && !form->ScanStopRequested && !form->RecoverRunning &&
                !form->RecoverStopRequested);
        for (QWidget* hidden :
             {static_cast<QWidget*>(form->Memo1), static_cast<QWidget*>(form->lblDriveMFTSize),
              static_cast<QWidget*>(form->lblDriveMFTLocation), static_cast<QWidget*>(form->lbl1),
              static_cast<QWidget*>(form->lbl2)})
            QVERIFY(hidden->isHidden());
        // Every control starts enabled.
        for (QWidget* w : form->findChildren<QWidget*>())
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
        // Coloured captions still grey out when a run disables their button.
        for (QAbstractButton* b :
             {static_cast<QAbstractButton*>(form->btnScan), static_cast<QAbstractButton*>(form->btnRecover),
              static_cast<QAbstractButton*>(form->btn2)})
            QVERIFY2(b->palette().color(QPalette::Disabled, QPalette::ButtonText) !=
                         b->palette().color(QPalette::Active, QPalette::ButtonText),
                     qPrintable(b->objectName()));

        const QHeaderView* header = form->lv1->horizontalHeader();
        QCOMPARE(Widths(header), (QList<int>{23, 282, 68, 80, 158, 158}));
        QStringList headers;
        for (int c = 0; c < 6; ++c) headers << form->lv1->model()->headerData(c, Qt::Horizontal).toString();
        QCOMPARE(headers, (QStringList{"N", "FileName", "Type", "Size", "Create Date", "Update Date"}));
    }

    void TabOrderRunsDownTheLeftPaneThenTheBar() {
        auto form = MakeForm(QString());
        const QList<QWidget*> expected = {
            form->btnScan,    form->lstDriveList, form->drvcbbDCB, form->dirlstDLB, form->edtPath, form->chk1,
            form->btnRecover, form->rb1,          form->rb2,       form->edt1,      form->lv1};
        QList<QWidget*> chain;
        QWidget* w = form->btnScan;
        do {
            if (expected.contains(w) && !chain.contains(w)) chain << w;
            w = w->nextInFocusChain();
        } while (w != form->btnScan && chain.size() < expected.size());
        QCOMPARE(chain, expected);
    }

    void DockingGrowsOnlyTheFillingControls() {
        auto form = MakeForm(QString());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const auto geometryOf = [&](QWidget* w) {
            return QRect(w->mapTo(form.get(), QPoint(0, 0)), w->size());
        };
        QCOMPARE(form->pnl1->width(), 197);
        QCOMPARE(form->pnl2->width(), 785);
        QCOMPARE(form->pnl3->height(), 33);
        QCOMPARE(form->pnl5->height(), 28);
        QCOMPARE(form->btnRecover->size(), QSize(88, 31));
        QCOMPARE(form->pnl6->width(), 221);
        QCOMPARE(form->edt1->width(), 145);
        // The seek box lies at the bar's right end, the button at its right edge.
        QCOMPARE(geometryOf(form->btn2).right(), geometryOf(form->pnl3).right() - 1);
        QCOMPARE(geometryOf(form->edtPath).bottom(), geometryOf(form->pnl1).bottom() - 1);
        QVERIFY(geometryOf(form->lstDriveList).bottom() < geometryOf(form->pnl12).top());
        const int listHeight = form->lstDriveList->height();
        const int lvHeight = form->lv1->height();
        const int lvWidth = form->lv1->width();

        form->resize(1183, 796);
        QTRY_COMPARE(form->lstDriveList->height(), listHeight + 200);
        QCOMPARE(form->pnl1->width(), 197);
        QCOMPARE(form->lv1->height(), lvHeight + 200);
        QCOMPARE(form->lv1->width(), lvWidth + 200);
        QCOMPARE(form->pnl12->height(), 126);
        QCOMPARE(form->dirlstDLB->height(), 200);
        QCOMPARE(form->edtPath->height(), 24);
        QCOMPARE(geometryOf(form->edtPath).bottom(), geometryOf(form->pnl1).bottom() - 1);
    }

    void SplitterCollapsesNarrowLeftPane() {
        auto form = MakeForm(QString());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QWidget* handle = form->spl1->handle(1);
        // Drags the 1 px strip so that the left pane becomes toX wide; the
        // pane changes on release.
        auto drag = [&](int toX) {
            const int y = handle->height() / 2;
            SendMouse(handle, QEvent::MouseButtonPress, {0, y}, Qt::LeftButton);
            SendMouse(handle, QEvent::MouseMove, {toX - handle->x(), y}, Qt::LeftButton);
            SendMouse(handle, QEvent::MouseButtonRelease, {toX - handle->x(), y}, Qt::NoButton);
        };
        drag(120);
        QCOMPARE(form->spl1->sizes().at(0), 120);
        drag(31);
        QCOMPARE(form->spl1->sizes().at(0), 31);
        drag(30);
        QCOMPARE(form->spl1->sizes().at(0), 0);
    }

    void FolderListEntersOnDoubleClickOrEnter() {
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString base = QDir(root.path()).canonicalPath();
        for (const char* sub : {"beta", "Alpha", "gamma/inner"})
            QVERIFY(QDir(base).mkpath(QString::fromLatin1(sub)));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(base));
        auto form = MakeForm(QString());
        QDir::setCurrent(previous);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QListWidget* list = form->dirlstDLB;

        // The levels from "/" down, then the sorted sub-folders.
        const int levels = static_cast<int>(base.split(u'/', Qt::SkipEmptyParts).size()) + 1;
        QCOMPARE(list->count(), levels + 3);
        QCOMPARE(list->item(0)->data(app::TDirectoryList::kPathRole).toString(), QStringLiteral("/"));
        QCOMPARE(list->item(levels - 1)->data(app::TDirectoryList::kPathRole).toString(), base);
        QStringList children;
        for (int i = levels; i < list->count(); ++i) children << list->item(i)->text().trimmed();
        QCOMPARE(children, (QStringList{"Alpha", "beta", "gamma"}));
        QCOMPARE(form->edtPath->text(), base);

        // A single click only highlights.
        const QModelIndex gamma = ItemIndexOf(list, base + QStringLiteral("/gamma"));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(gamma).center());
        QCOMPARE(form->edtPath->text(), base);
        QCOMPARE(form->dirlstDLB->Directory(), base);

        // A double click enters, and edtPath follows at once.
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(gamma).center());
        QCOMPARE(form->dirlstDLB->Directory(), base + QStringLiteral("/gamma"));
        QCOMPARE(form->edtPath->text(), base + QStringLiteral("/gamma"));
        QVERIFY(ItemIndexOf(list, base + QStringLiteral("/gamma/inner")).isValid());

        // Enter on a level goes back up; "/" stays "/", no trailing slash elsewhere.
        list->setCurrentIndex(ItemIndexOf(list, base));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(form->edtPath->text(), base);
        list->setCurrentIndex(ItemIndexOf(list, QStringLiteral("/")));
        QTest::keyClick(list, Qt::Key_Enter);
        QCOMPARE(form->edtPath->text(), QStringLiteral("/"));
        QCOMPARE(form->dirlstDLB->Directory(), QStringLiteral("/"));

        // A folder that vanished is not entered; the output folder stays.
        QVERIFY(form->dirlstDLB->SetDirectory(base));
        const QModelIndex beta = ItemIndexOf(list, base + QStringLiteral("/beta"));
        QVERIFY(QDir(base + QStringLiteral("/beta")).removeRecursively());
        QSignalSpy failed(form->dirlstDLB, &app::TDirectoryList::EnterFailed);
        QString message;
        AnswerNextMessage(&message);
        list->setCurrentIndex(beta);
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(failed.count(), 1);
        QVERIFY(message.startsWith(QStringLiteral("Lumbra|")));
        QCOMPARE(form->edtPath->text(), base);
        QCOMPARE(form->dirlstDLB->Directory(), base);
    }

    void VolumeOfAPathIsTheDeepestMount() {
        const std::vector<app::TVolume> volumes = {
            {QStringLiteral("/"), {}, app::TVolumeKind::Fixed},
            {QStringLiteral("/mnt/usb"), {}, app::TVolumeKind::Removable},
            {QStringLiteral("/mnt/usb2"), {}, app::TVolumeKind::Fixed}};
        QCOMPARE(app::VolumeIndexOf(volumes, QStringLiteral("/home/user")), 0);
        QCOMPARE(app::VolumeIndexOf(volumes, QStringLiteral("/mnt/usb")), 1);
        QCOMPARE(app::VolumeIndexOf(volumes, QStringLiteral("/mnt/usb/photos")), 1);
        QCOMPARE(app::VolumeIndexOf(volumes, QStringLiteral("/mnt/usb2/x")), 2);
        QCOMPARE(app::VolumeIndexOf(volumes, QStringLiteral("/mnt/usbx")), 0);
        QCOMPARE(volumes[1].Text(), QStringLiteral("/mnt/usb"));
        QCOMPARE(
            (app::TVolume{QStringLiteral("/data"), QStringLiteral("DATA"), app::TVolumeKind::Fixed}.Text()),
            QStringLiteral("/data [DATA]"));
    }

    void AppendedRowsCountAndArriveUnticked() {
        auto form = MakeForm(QString());
        TRow ticked = MakeRow("0x4000", "a.txt", ".txt", "1 KB");
        ticked.Checked = true;
        form->AddFoundFile(ticked);
        form->AddFoundFile(MakeRow("0x4400", "b.txt", ".txt", "1 KB"));
        form->AddFoundFile(MakeRow("0x4800", "c.txt", ".txt", "1 KB"));
        QCOMPARE(form->lblDelCount->text(), QStringLiteral(u"Deleted QTY：3"));
        QCOMPARE(form->Results()->Count(), 3);
        QCOMPARE(form->Results()->CheckedCount(), 0);
        // The view learns of them within the announce interval.
        QTRY_COMPARE(form->lv1->model()->rowCount(), 3);
        QCOMPARE(form->lv1->model()->index(0, 0).data(Qt::CheckStateRole).value<Qt::CheckState>(),
                 Qt::Unchecked);
        QCOMPARE(form->lv1->model()->index(2, 1).data().toString(), QStringLiteral("c.txt"));
        QVERIFY(!(form->lv1->model()->flags(form->lv1->model()->index(0, 1)) & Qt::ItemIsEditable));
    }

    void HeaderClickSortsAscendingAsText() {
        auto form = MakeForm(QString());
        form->AppendRows(
            {MakeRow("0x200", "b.txt", ".txt", "9 KB"), MakeRow("0x1000", "_a.txt", ".txt", "10 KB"),
             MakeRow("0xC00", "A.doc", ".doc", "9 KB"), MakeRow("0x2000", "a.DOC", ".DOC", "2 KB")});
        QHeaderView* header = form->lv1->horizontalHeader();
        auto clickHeader = [&](int column) {
            const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                            header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        };
        clickHeader(0);
        QCOMPARE(form->SortColumn, 0);
        QCOMPARE(Captions(*form), (QStringList{"0x1000", "0x200", "0x2000", "0xC00"}));
        clickHeader(3);  // Size: "10 KB" above "9 KB"; equal keys keep their order
        QCOMPARE(form->SortColumn, 3);
        QCOMPARE(Captions(*form), (QStringList{"0x1000", "0x2000", "0x200", "0xC00"}));
        clickHeader(1);  // a-z folded; "_" (95) ranks after A-Z
        QCOMPARE(Captions(*form), (QStringList{"0x2000", "0xC00", "0x200", "0x1000"}));
        clickHeader(1);  // a second click sorts the same way
        QCOMPARE(Captions(*form), (QStringList{"0x2000", "0xC00", "0x200", "0x1000"}));

        // Selection and focus follow their rows through a sort.
        QItemSelectionModel* selection = form->lv1->selectionModel();
        selection->setCurrentIndex(form->lv1->model()->index(3, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        form->Results()->SetChecked(3, true);
        clickHeader(0);
        QCOMPARE(selection->currentIndex().row(), 0);  // 0x1000 went to the top
        QCOMPARE(selection->selectedRows().size(), 1);
        QVERIFY(form->Results()->Row(0).Checked);

        // A new scan's rows come in scan order; the column is kept.
        form->Results()->Clear();
        form->AppendRows({MakeRow("0x300", "z", "", "1 KB"), MakeRow("0x100", "y", "", "1 KB")});
        QCOMPARE(form->SortColumn, 0);
        QCOMPARE(Captions(*form), (QStringList{"0x300", "0x100"}));
    }

    void SortAgreesWithCompareOnAwkwardKeys() {
        // Keys built to trip a fast sort: shared heads longer than eight
        // units, prefixes, real U+0000 units, case pairs, units above 0x7F.
        const char16_t alphabet[] = {u'a',      u'A', u'b', u'_', u'\0',    u'\u00e9',
                                     u'\u00c9', u'0', u'/', u' ', u'\uffff'};
        std::vector<TRow> rows;
        quint32 seed = 12345;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
        for (int i = 0; i < 3000; ++i) {
            QString key = (i % 3 == 0) ? QStringLiteral("2024/05/1") : QString();
            const quint32 length = next() % 12;
            for (quint32 u = 0; u < length; ++u) key += QChar(alphabet[next() % std::size(alphabet)]);
            rows.push_back(MakeRow(QString::number(i), key, "", "1 KB"));
        }
        auto form = MakeForm(QString());
        form->AppendRows(std::move(rows));
        form->lv1ColumnClick(1);
        const app::TResultsModel& results = *form->Results();
        for (int i = 0; i + 1 < results.Count(); ++i) {
            const int order = form->lv1Compare(results.Row(i), results.Row(i + 1));
            QVERIFY2(order <= 0, qPrintable(QStringLiteral("rows %1 and %2 out of order").arg(i).arg(i + 1)));
            // Rows that rank equal keep the order they had.
            if (order == 0)
                QVERIFY(app::ToQString(results.Row(i).Caption).toInt() <
                        app::ToQString(results.Row(i + 1).Caption).toInt());
        }
    }

    void SeekFindsFirstMatchTicksAndKeepsFocus() {
        auto form = MakeForm(QString());
        form->AppendRows(
            {MakeRow("0x4000", "read me.txt", ".txt", "1 KB"), MakeRow("0x4400", "notes.txt", ".txt", "3 KB"),
             MakeRow("0x4800", "other.txt", ".txt", "1 KB"), MakeRow("0x4C00", "NOTES.TXT", ".TXT", "5 KB")});
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->edt1->setFocus();
        auto seek = [&](const QString& text) {
            form->edt1->setText(text);
            QTest::mouseClick(form->btn2, Qt::LeftButton);
        };
        QItemSelectionModel* selection = form->lv1->selectionModel();
        selection->select(form->lv1->model()->index(2, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);

        // Across the sub-item boundary; "read me.txt" is quoted, so row 1 is first.
        seek(QStringLiteral("txt,.txt"));
        QCOMPARE(selection->currentIndex().row(), 1);
        QVERIFY(form->Results()->Row(1).Checked);
        QCOMPARE(selection->selectedRows().size(), 2);  // row 2 stays selected
        QCOMPARE(form->focusWidget(), form->edt1);

        // Pressing again finds the same row, never a later one.
        seek(QStringLiteral("notes"));
        QCOMPARE(selection->currentIndex().row(), 1);
        QCOMPARE(form->Results()->CheckedCount(), 1);

        // A double quote matches the first row: every size text is quoted.
        seek(QStringLiteral("\""));
        QCOMPARE(selection->currentIndex().row(), 0);
        QCOMPARE(form->Results()->CheckedCount(), 2);

        // The caption is not searched; no match and empty text change nothing.
        seek(QStringLiteral("0x4C00"));
        seek(QStringLiteral("no such text"));
        seek(QString());
        QCOMPARE(selection->currentIndex().row(), 0);
        QCOMPARE(form->Results()->CheckedCount(), 2);
        QVERIFY(!form->Results()->Row(3).Checked);
    }

    void SeekScrollsTheMatchIntoView() {
        auto form = MakeForm(QString());
        std::vector<TRow> rows;
        for (int i = 0; i < 2000; ++i)
            rows.push_back(
                MakeRow(QStringLiteral("0x%1").arg(i), QStringLiteral("file%1.bin").arg(i), ".bin", "1 KB"));
        form->AppendRows(std::move(rows));
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->edt1->setText(QStringLiteral("FILE1500.BIN"));
        form->btn2Click();
        const QRect cell = form->lv1->visualRect(form->lv1->model()->index(1500, 0));
        QVERIFY(form->lv1->viewport()->rect().contains(cell));
    }

    void SelectAllTicksAndUnticksEveryRow() {
        auto form = MakeForm(QString());
        form->AppendRows({MakeRow("0x10", "a", "", "1 KB"), MakeRow("0x20", "b", "", "1 KB")});
        form->AddFoundFile(MakeRow("0x30", "c", "", "1 KB"));  // not yet announced to the view
        form->Results()->SetChecked(1, true);
        form->chk1->click();
        QCOMPARE(form->Results()->CheckedCount(), 3);
        form->chk1->click();
        QCOMPARE(form->Results()->CheckedCount(), 0);
        // Rows of a later scan arrive unticked while "Select All" stays ticked.
        form->chk1->click();
        form->AddFoundFile(MakeRow("0x40", "d", "", "1 KB"));
        QVERIFY(form->chk1->isChecked());
        QVERIFY(!form->Results()->Row(3).Checked);
    }

    void DividerDragLeavesWidths() {
        auto form = MakeForm(QString());
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QHeaderView* header = form->lv1->horizontalHeader();
        const QList<int> design{23, 282, 68, 80, 158, 158};
        DragDivider(header, 1, 60);
        DragDivider(header, 0, 40);
        QCOMPARE(Widths(header), design);
        QCOMPARE(form->SortColumn, 0);
        // The hook refuses the drag by itself, even on sections the header
        // would let the user resize.
        header->setSectionResizeMode(QHeaderView::Interactive);
        DragDivider(header, 1, 60);
        DragDivider(header, 4, -50);
        QCOMPARE(Widths(header), design);
        // Double-clicking a divider (size to contents) is refused too.
        const int x = header->sectionViewportPosition(2) + header->sectionSize(2);
        QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, {x, header->height() / 2});
        QCOMPARE(Widths(header), design);
    }

    void ChineseCaptionsHaveAFont() {
        app::SetUpFonts();
        const QString texts = QStringLiteral(
            u"停止恢复恢复文件文件数据恢复完成！MFT大小: 未知MFT位置: 未知文件保存路径:NTFS格式磁盘列表:");
        const QFontMetrics metrics(app::FontOf(13, true));
        // Some family of the window's list covers every character, so none
        // is drawn as a box.
        bool covered = false;
        for (const QString& family : app::FontOf(13).families()) {
            if (!QFontDatabase::hasFamily(family)) continue;
            const QFontMetrics m(QFont(family, 10));
            if (std::all_of(texts.begin(), texts.end(), [&](QChar c) { return m.inFont(c); })) covered = true;
        }
        QVERIFY2(covered, "install a CJK font (fonts-wqy-microhei)");
    }
};

QTEST_MAIN(TMainFormTest)
#include "main_form_test.moc"
