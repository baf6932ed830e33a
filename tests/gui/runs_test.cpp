// SPDX-License-Identifier: GPL-3.0-or-later
// Scan and recovery runs through the real window, headless, on the fixture
// images: rows, labels, buttons and the bar against the manifests, every
// recovered file against its hash, stops, quiet ends, missing choices, and a
// window destroyed in the middle of a run.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "app/qt/main_form.h"
#include "form/bar_scale.h"
#include "form/texts.h"
#include "unit/fixtures.h"

using app::TMainForm;

namespace {

constexpr int kRunTimeoutMs = 30000;

QString Image(const QString& name) {
    return QStringLiteral(LUMBRA_FIXTURE_IMAGES "/%1.img").arg(name);
}

QJsonObject Manifest(const QString& name) {
    QFile f(QStringLiteral(LUMBRA_FIXTURE_MANIFESTS "/%1.json").arg(name));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

// The manifest's deleted files in the order the scan meets them.
QList<QJsonObject> DeletedRows(const QJsonObject& manifest) {
    QList<QJsonObject> rows;
    for (const QJsonValue& v : manifest.value("deleted").toArray()) rows << v.toObject();
    std::sort(rows.begin(), rows.end(), [](const QJsonObject& a, const QJsonObject& b) {
        return a["record"].toInt() < b["record"].toInt();
    });
    return rows;
}

std::unique_ptr<TMainForm> MakeForm(const QString& drives) {
    qputenv("LUMBRA_DRIVES", drives.toUtf8());
    auto form = std::make_unique<TMainForm>();
    // Every reset, insertion, reorder and tick the list sees is checked
    // against the model contract while the test runs.
    new QAbstractItemModelTester(form->Results(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 form.get());
    form->show();
    return form;
}

void SelectDrive(TMainForm& form, const QString& letter) {
    for (int i = 0; i < form.lstDriveList->count(); ++i)
        if (form.lstDriveList->item(i)->text() == letter) form.lstDriveList->setCurrentRow(i);
}

// Answers every message box the program shows, found among the top-level
// widgets, and keeps the texts. A question gets `Answer`, a message OK.
class TMessages : public QObject {
public:
    TMessages() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box == nullptr || !box->isVisible()) continue;
                Texts << box->windowTitle() + u'|' + box->text();
                const bool question = box->button(QMessageBox::Yes) != nullptr;
                QAbstractButton* button = box->button(question ? Answer : QMessageBox::Ok);
                if (button != nullptr) button->click();
            }
            ++m_polls;
        });
        m_timer.start(5);
    }
    // Waits for the n-th message of the test.
    bool WaitFor(qsizetype n) {
        return QTest::qWaitFor([&] { return Texts.size() >= n; }, kRunTimeoutMs);
    }
    // Waits until the windows have been looked at twice more: a box shown
    // before the call has been seen by then, so Texts is complete up to now.
    bool Settle() {
        const int target = m_polls + 2;
        return QTest::qWaitFor([&] { return m_polls >= target; }, kRunTimeoutMs);
    }
    QStringList Texts;
    QMessageBox::StandardButton Answer = QMessageBox::Cancel;

private:
    QTimer m_timer;
    int m_polls = 0;
};

QString Titled(const QString& text) {
    return QStringLiteral("Lumbra|") + text;
}

const QString kScanDone = QStringLiteral("When the scan is complete, check the file and click Lumbra file!");
const QString kScanEmpty = QStringLiteral(
    u"Scan completed, no deleted file records found, please select another drive to try scanning！");
const QString kSelectDrive = QStringLiteral(u" Please select a disk drive in the upper left corner！");
const QString kRecoverDone = QStringLiteral(u"文件数据恢复完成！");
const QString kCheckFile = QStringLiteral("Please check the file you want to recover!");

// Presses a button and waits until the n-th message has been answered.
bool PressAndWait(QAbstractButton* button, TMessages& messages) {
    const qsizetype n = messages.Texts.size() + 1;
    button->click();
    return messages.WaitFor(n);
}

// Spins, without serving the UI thread, until the worker has set its flag:
// the worker then waits for its first hand-over, so the run stands still.
void WaitForFlag(const std::atomic<bool>& flag) {
    while (!flag) std::this_thread::yield();
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

QString Sha(const QString& path) {
    return QString::fromStdString(testing_support::Sha256OfFile(std::filesystem::u8path(path.toStdString())));
}

}  // namespace

class TRunsTest : public QObject {
    Q_OBJECT

private slots:
    void ScanListsEveryDeletedFile_data() {
        QTest::addColumn<QString>("fixture");
        for (const char* name :
             {"basic", "hostile", "fragmft", "straddle", "compressed", "attrlist", "c512", "s4k", "c64k"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void ScanListsEveryDeletedFile() {
        QFETCH(QString, fixture);
        const QJsonObject m = Manifest(fixture);
        const QJsonObject boot = m["boot"].toObject();
        const QJsonObject mft = m["mft"].toObject();
        auto form = MakeForm(QStringLiteral("D=") + Image(fixture));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));

        const QList<QJsonObject> expected = DeletedRows(m);
        QCOMPARE(messages.Texts, QStringList{Titled(expected.isEmpty() ? kScanEmpty : kScanDone)});
        app::TResultsModel* results = form->Results();
        QCOMPARE(results->Count(), expected.size());
        for (int i = 0; i < results->Count(); ++i) {
            const form::TRow& row = results->Row(i);
            const QJsonObject& e = expected[i];
            QStringList got;
            for (int c = 0; c < form::kColumnCount; ++c) got << app::ToQString(row.Column(c));
            const QStringList want{e["caption"].toString(), e["name"].toString(),
                                   e["type"].toString(),    e["sizeText"].toString(),
                                   e["created"].toString(), e["modified"].toString()};
            QCOMPARE(got, want);
            QVERIFY(!row.Checked);
        }
        QCOMPARE(form->lv1->model()->rowCount(), expected.size());  // every row reached the view

        QString serial = boot["serial"].toString();
        while (serial.size() > 8 && serial.startsWith(u'0')) serial.remove(0, 1);
        qint64 mftClusters = 0;
        for (const QJsonValue& run : mft["runs"].toArray()) mftClusters += run["clusters"].toInteger();
        const qint64 records = mft["records"].toInteger();
        QCOMPARE(form->lblDriveName->text(), QStringLiteral("Driver Name: ") + boot["label"].toString());
        QCOMPARE(form->lblDriveSerial->text(), QStringLiteral("SN") + serial);
        QCOMPARE(form->lblDriveSize->text(), QStringLiteral("Size : %1 MB")
                                                 .arg(boot["totalSectors"].toInteger() *
                                                      boot["bytesPerSector"].toInteger() / 1024 / 1024));
        QCOMPARE(form->lblDriveMFTLocation->text(),
                 QStringLiteral(u"MFT位置 : 0x") +
                     QString::number(boot["mftByteOffset"].toInteger(), 16).toUpper());
        QCOMPARE(form->lblDriveMFTSize->text(),
                 QStringLiteral(u"MFT大小 : %1 Byte").arg(mftClusters * boot["bytesPerCluster"].toInteger()));
        QCOMPARE(form->lblDriveMFTRecordsCount->text(), QStringLiteral("File QTY : %1").arg(records));
        QCOMPARE(form->lblDelCount->text(), QStringLiteral(u"Deleted QTY：%1").arg(expected.size()));
        QCOMPARE(form->pb1->maximum(), records - 16);
        QCOMPARE(form->pb1->value(), records - 16);
        QCOMPARE(form->btnScan->text(), QStringLiteral("Scan Disk"));
        QVERIFY(form->btnScan->isEnabled() && form->btnRecover->isEnabled() && form->btn2->isEnabled());
        QVERIFY(!form->ScanRunning);
        // The rows keep the geometry of the volume they came from.
        const auto scan = form->Logic().ShownScan();
        QVERIFY(scan != nullptr);
        QCOMPARE(qint64(scan->Geometry.BytesPerCluster), boot["bytesPerCluster"].toInteger());
        QCOMPARE(qint64(scan->Geometry.BytesPerFileRecord), boot["bytesPerFileRecord"].toInteger());
    }

    // A second scan replaces the rows; the count starts again from "Deleted QTY: 0".
    void SecondScanReplacesTheRows() {
        auto form = MakeForm(QStringLiteral("D=%1;E=%2").arg(Image("basic"), Image("c512")));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        SelectDrive(*form, QStringLiteral("E:"));
        form->btnScan->click();
        QCOMPARE(form->lblDelCount->text(), QStringLiteral("Deleted QTY: 0"));
        QVERIFY(!form->btn2->isEnabled());
        QVERIFY(messages.WaitFor(2));
        QCOMPARE(form->Results()->Count(), DeletedRows(Manifest("c512")).size());
        QCOMPARE(app::ToQString(form->Results()->Row(0).Caption),
                 DeletedRows(Manifest("c512"))[0]["caption"].toString());
    }

    // A disk image in the drive table: one letter per NTFS partition (its
    // own, then the next ones free); scanning F: reads partition 2, shows
    // its label, and its recovery writes partition 2's files.
    void PartitionsOfADiskImageAreDrivesOfTheirOwn() {
        QTemporaryDir out;
        auto form = MakeForm(QStringLiteral("D=%1;E=%2").arg(Image("mbr"), Image("c512")));
        QStringList drives;
        for (int i = 0; i < form->lstDriveList->count(); ++i) drives << form->lstDriveList->item(i)->text();
        QCOMPARE(drives, (QStringList{"D:", "E:", "F:", "G:"}));
        QJsonObject volume;
        for (const auto p : Manifest("mbr")["partitions"].toArray())
            if (p.toObject()["number"].toInt() == 2) volume = p.toObject()["volume"].toObject();
        const QList<QJsonObject> expected = DeletedRows(volume);
        QCOMPARE(expected.size(), 2);

        TMessages messages;
        SelectDrive(*form, QStringLiteral("F:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QCOMPARE(form->lblDriveName->text(), QStringLiteral("Driver Name: LumbraP2"));
        QCOMPARE(form->Results()->Count(), std::size_t(expected.size()));
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        QStringList names;
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(app::ToQString(form->Results()->Row(i).Caption), expected[i]["caption"].toString());
            form->Results()->SetChecked(i, true);
            names << expected[i]["name"].toString();
        }
        QVERIFY(PressAndWait(form->btnRecover, messages));
        names.sort();
        QCOMPARE(FilesIn(out.path()), names);
        for (const QJsonObject& row : expected)
            QCOMPARE(Sha(out.filePath(row["name"].toString())), row["sha256"].toString());
    }

    void RecoveryWritesEveryTickedFile_data() {
        QTest::addColumn<QString>("fixture");
        QTest::addColumn<bool>("autoNames");
        for (const char* name : {"basic", "compressed", "attrlist", "fragmft"})
            QTest::newRow(name) << QString::fromLatin1(name) << false;
        QTest::newRow("basic, auto names") << QStringLiteral("basic") << true;
    }
    void RecoveryWritesEveryTickedFile() {
        QFETCH(QString, fixture);
        QFETCH(bool, autoNames);
        QTemporaryDir out;
        auto form = MakeForm(QStringLiteral("D=") + Image(fixture));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        const QList<QJsonObject> expected = DeletedRows(Manifest(fixture));
        QVERIFY(expected.size() >= 3);

        // Auto names: rows 0 and 2 only; the unticked row 1 leaves no file and no step.
        QStringList names;
        QStringList hashes;
        for (int i = 0; i < expected.size(); ++i) {
            if (autoNames && i != 0 && i != 2) continue;
            form->Results()->SetChecked(i, true);
            names << (autoNames ? QStringLiteral("File_%1").arg(i) : expected[i]["name"].toString());
            hashes << expected[i]["sha256"].toString();
        }
        (autoNames ? form->rb2 : form->rb1)->setChecked(true);
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));

        QStringList sortedNames = names;
        sortedNames.sort();
        QCOMPARE(FilesIn(out.path()), sortedNames);
        for (int i = 0; i < names.size(); ++i) QCOMPARE(Sha(out.filePath(names[i])), hashes[i]);
        QCOMPARE(form->pb1->maximum(), names.size());
        QCOMPARE(form->pb1->value(), names.size());
        QCOMPARE(form->btnRecover->text(), QStringLiteral(u"恢复文件"));
        QVERIFY(form->btnScan->isEnabled() && form->btn2->isEnabled() && form->btnRecover->isEnabled());
        QVERIFY(!form->RecoverRunning);
    }

    // Names from a crafted volume: "../evil.txt" and its kin stay in the
    // folder, and the second "dup.txt" does not replace the first.
    void HostileNamesStayInTheFolder() {
        QTemporaryDir outer;
        const QString folder = outer.filePath("out");
        QVERIFY(QDir().mkpath(folder));
        auto form = MakeForm(QStringLiteral("D=") + Image("hostile"));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(form->dirlstDLB->SetDirectory(folder));
        form->chk1->setChecked(true);
        QVERIFY(PressAndWait(form->btnRecover, messages));

        const QList<QJsonObject> expected = DeletedRows(Manifest("hostile"));
        QVERIFY(std::any_of(expected.begin(), expected.end(),
                            [](const QJsonObject& e) { return e["name"].toString() == "../evil.txt"; }));
        QCOMPARE(QDir(outer.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"out"});
        // One file per row, each with its own content.
        const QStringList written = FilesIn(folder);
        QCOMPARE(written.size(), expected.size());
        QStringList got, want;
        for (const QString& name : written) got << Sha(folder + u'/' + name);
        for (const QJsonObject& e : expected) want << e["sha256"].toString();
        got.sort();
        want.sort();
        QCOMPARE(got, want);
        QVERIFY(written.contains("dup.txt") && written.contains("dup (2).txt"));
        QCOMPARE(Sha(folder + "/dup.txt"), expected[0]["sha256"].toString());  // the first row keeps its name
    }

    // A second press while the run probes: the walk reads nothing.
    void SecondPressStopsTheScan() {
        auto form = MakeForm(QStringLiteral("D=") + Image("basic"));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        form->btnScan->click();
        WaitForFlag(form->ScanRunning);
        QVERIFY(!form->btn2->isEnabled());
        form->btnScan->click();
        QVERIFY(form->btn2->isEnabled());  // at once, before the run has stopped
        QVERIFY(form->ScanStopRequested);
        QVERIFY(messages.WaitFor(1));
        QCOMPARE(messages.Texts, QStringList{Titled(kScanEmpty)});
        QCOMPARE(form->Results()->Count(), 0);
        QCOMPARE(form->pb1->value(), 0);
        QCOMPARE(form->lblDriveMFTRecordsCount->text(), QStringLiteral("File QTY : 92"));
        QCOMPARE(form->btnScan->text(), QStringLiteral("Scan Disk"));

        // Two presses in a row, before the run can have set its flag: still
        // one run, stopped.
        form->btnScan->click();
        form->btnScan->click();
        QVERIFY(messages.WaitFor(2));
        QTRY_VERIFY_WITH_TIMEOUT(!form->ScanRunning, kRunTimeoutMs);
        QVERIFY(messages.Settle());
        QCOMPARE(messages.Texts.size(), 2);
        QCOMPARE(messages.Texts.last(), Titled(kScanEmpty));

        // And the next press scans again: one run, one message. A second run
        // of the double press would show here, either as a message more or
        // by turning this press into a stop.
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(messages.Settle());
        QCOMPARE(messages.Texts, (QStringList{Titled(kScanEmpty), Titled(kScanEmpty), Titled(kScanDone)}));
    }

    void SecondPressStopsTheRecovery() {
        QTemporaryDir out;
        auto form = MakeForm(QStringLiteral("D=") + Image("basic"));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        form->chk1->setChecked(true);
        form->btnRecover->click();
        QVERIFY(!form->btn2->isEnabled());
        WaitForFlag(form->RecoverRunning);
        form->btnRecover->click();
        QVERIFY(form->RecoverStopRequested);
        QVERIFY(!form->btn2->isEnabled());  // unlike the scan button: only the run's end enables it
        QVERIFY(messages.WaitFor(2));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));
        QCOMPARE(FilesIn(out.path()), QStringList());
        QCOMPARE(form->pb1->value(), 0);
        QCOMPARE(form->pb1->maximum(), form->Results()->Count());
        QCOMPARE(form->btnRecover->text(), QStringLiteral(u"恢复文件"));
        QVERIFY(form->btn2->isEnabled() && form->btnScan->isEnabled());
    }

    // The drive list's menu: a right-click on an entry selects it and opens
    // the menu; "Deep Scan" reads the quick-formatted volume whole, shown as
    // a scan (the bar in MiB, the same button), and its old files come back
    // byte for byte through "Lumbra File".
    void DeepScanFromTheDriveListMenu() {
        QTemporaryDir out;
        const QJsonObject m = Manifest("qformat");
        auto form = MakeForm(QStringLiteral("D=%1;E=%2").arg(Image("basic"), Image("qformat")));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        const QList<QListWidgetItem*> items =
            form->lstDriveList->findItems(QStringLiteral("E:"), Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        QWidget* viewport = form->lstDriveList->viewport();
        const QPoint at = form->lstDriveList->visualItemRect(items[0]).center();
        QTest::mousePress(viewport, Qt::RightButton, {}, at);
        if (!form->pmDriveList->isVisible()) {
            QContextMenuEvent request(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
            QApplication::sendEvent(viewport, &request);
        }
        QTest::mouseRelease(viewport, Qt::RightButton, {}, at);
        QTRY_VERIFY(form->pmDriveList->isVisible());
        QCOMPARE(form->SelectedDrive(), std::optional<std::string>("E:"));
        QCOMPARE(form->pmDriveList->actions(), QList<QAction*>{form->mniDeepScan});
        QCOMPARE(form->mniDeepScan->text(), QStringLiteral("Deep Scan"));
        QVERIFY(form->mniDeepScan->isEnabled());
        const qsizetype n = messages.Texts.size() + 1;
        QTest::mouseClick(form->pmDriveList, Qt::LeftButton, {},
                          form->pmDriveList->actionGeometry(form->mniDeepScan).center());
        QVERIFY(form->ScanRunning);
        // While it runs the menu's item is off.
        form->lstDriveListContextPopup(at);
        QVERIFY(!form->mniDeepScan->isEnabled());
        form->pmDriveList->hide();
        QVERIFY(messages.WaitFor(n));
        QCOMPARE(messages.Texts, QStringList{Titled(kScanDone)});

        const int mib = int(m["imageSize"].toInteger() >> 20);
        QCOMPARE(form->pb1->maximum(), mib);
        QCOMPARE(form->pb1->value(), mib);
        QCOMPARE(form->lblDriveSize->text(), QStringLiteral("Size : %1 MB").arg(mib));
        QCOMPARE(form->lblDriveMFTLocation->text(), QStringLiteral(u"MFT位置: 未知"));
        QVERIFY(form->lblDriveMFTRecordsCount->text().startsWith(QStringLiteral("File QTY : ")));
        QCOMPARE(form->btnScan->text(), QStringLiteral("Scan Disk"));
        QVERIFY(form->btnRecover->isEnabled() && form->btn2->isEnabled());
        form->lstDriveListContextPopup(at);
        QVERIFY(form->mniDeepScan->isEnabled());  // on again once the run is over
        form->pmDriveList->hide();
        std::map<QString, QString> listed;  // caption -> name
        for (int i = 0; i < form->Results()->Count(); ++i)
            listed[app::ToQString(form->Results()->Row(i).Caption)] =
                app::ToQString(form->Results()->Row(i).FileName);
        QCOMPARE(form->lblDelCount->text(), QStringLiteral(u"Deleted QTY：%1").arg(form->Results()->Count()));
        // qformat is basic formatted again in place: its old deleted files
        // are basic's rows, at the same places and with the same bytes.
        const QJsonArray deep = Manifest("basic")["deleted"].toArray();
        QVERIFY(deep.size() >= 10);
        for (const QJsonValue& v : deep) {
            const QJsonObject e = v.toObject();
            QCOMPARE(listed[e["caption"].toString()], e["name"].toString());
        }

        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        form->chk1->setChecked(true);
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));
        QCOMPARE(FilesIn(out.path()).size(), form->Results()->Count());
        for (const QJsonValue& v : deep) {
            const QJsonObject e = v.toObject();
            QCOMPARE(Sha(out.filePath(e["name"].toString())), e["sha256"].toString());
        }
    }

    // A volume whose MFT record 0 and its mirror copy are both gone: the
    // scan cannot read the MFT and asks whether to search the whole drive.
    // Yes deep-scans it (the files come back byte for byte); Cancel leaves
    // the quiet end as it is.
    void UnreadableMftAsksForTheDeepScan_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("Cancel") << false;
    }
    void UnreadableMftAsksForTheDeepScan() {
        QFETCH(bool, yes);
        QTemporaryDir work;
        const QJsonObject m = Manifest("basic");
        const QJsonObject boot = m["boot"].toObject();
        const QString image = work.filePath("nomft.img");
        QVERIFY(QFile::copy(Image("basic"), image));
        QFile f(image);
        QVERIFY(f.setPermissions(f.permissions() | QFileDevice::WriteOwner));
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.seek(0x38));
        const QByteArray mirrorLcn = f.read(8);
        qint64 mirror = 0;
        for (int i = 7; i >= 0; --i) mirror = mirror * 256 + static_cast<unsigned char>(mirrorLcn[i]);
        const QByteArray zeros(int(boot["bytesPerFileRecord"].toInteger()), '\0');
        for (const qint64 at :
             {boot["mftByteOffset"].toInteger(), mirror * boot["bytesPerCluster"].toInteger()}) {
            QVERIFY(f.seek(at));
            QCOMPARE(f.write(zeros), zeros.size());
        }
        f.close();

        QTemporaryDir out;
        auto form = MakeForm(QStringLiteral("D=") + image);
        TMessages messages;
        messages.Answer = yes ? QMessageBox::Yes : QMessageBox::Cancel;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        const QString question =
            Titled(QStringLiteral(u"The MFT of this disk cannot be read. Deep Scan reads the whole disk for "
                                  u"deleted file records and "
                                  u"can take a long time. Whether to deep scan the whole disk？"));
        if (!yes) {
            QTRY_VERIFY_WITH_TIMEOUT(!form->ScanRunning, kRunTimeoutMs);
            QVERIFY(messages.Settle());
            QCOMPARE(messages.Texts, QStringList{question});
            QCOMPARE(form->Results()->Count(), 0);
            QVERIFY(!form->btn2->isEnabled());  // a quiet end leaves Seek off
            return;
        }
        QVERIFY(messages.WaitFor(2));
        QCOMPARE(messages.Texts, (QStringList{question, Titled(kScanDone)}));
        std::map<QString, QString> listed;  // caption -> name
        for (int i = 0; i < form->Results()->Count(); ++i)
            listed[app::ToQString(form->Results()->Row(i).Caption)] =
                app::ToQString(form->Results()->Row(i).FileName);
        const QList<QJsonObject> expected = DeletedRows(m);
        for (const QJsonObject& e : expected) QCOMPARE(listed[e["caption"].toString()], e["name"].toString());
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        form->chk1->setChecked(true);
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));
        for (const QJsonObject& e : expected)
            QCOMPARE(Sha(out.filePath(e["name"].toString())), e["sha256"].toString());
    }

    void MissingChoicesStartNothing() {
        QTemporaryDir out;
        auto form = MakeForm(QStringLiteral("D=") + Image("basic"));
        TMessages messages;
        // No drive selected.
        QVERIFY(PressAndWait(form->btnScan, messages));
        QCOMPARE(messages.Texts.last(), Titled(kSelectDrive));
        QCOMPARE(form->lblDelCount->text(), QStringLiteral(" Deleted QTY:   0"));
        QVERIFY(form->btn2->isEnabled() && !form->ScanStopRequested && !form->ScanRunning);
        // No rows, then rows and no tick.
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kCheckFile));
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kCheckFile));
        QCOMPARE(form->btnRecover->text(), QStringLiteral("Lumbra File"));
        QVERIFY(form->btn2->isEnabled());
        // Ticks but no drive selected.
        form->Results()->SetChecked(1, true);
        form->lstDriveList->clearSelection();
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kSelectDrive));
        QCOMPARE(FilesIn(out.path()), QStringList());
        QVERIFY(!form->RecoverRunning && !form->RecoverStopRequested);
    }

    // A drive that no longer opens, or is no longer NTFS, ends the run
    // without a word, leaving the window as the table of quiet ends says.
    void QuietEnds_data() {
        QTest::addColumn<QString>("replacement");  // empty: the image is gone
        QTest::newRow("does not open") << QString();
        QTest::newRow("not NTFS") << QStringLiteral("notntfs");
    }
    void QuietEnds() {
        QFETCH(QString, replacement);
        QTemporaryDir dir;
        const QString image = dir.filePath("drive.img");
        QVERIFY(QFile::copy(Image("basic"), image));
        auto form = MakeForm(QStringLiteral("D=") + image);
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(QFile::remove(image));
        if (!replacement.isEmpty()) QVERIFY(QFile::copy(Image(replacement), image));
        const QString name = form->lblDriveName->text();
        const QString size = form->lblDriveSize->text();

        form->btnScan->click();
        if (!replacement.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(form->lblDriveName->text() != name, kRunTimeoutMs);
        QTRY_VERIFY(!form->ScanRunning);
        QVERIFY(messages.Settle());
        QCOMPARE(messages.Texts, QStringList());
        QCOMPARE(form->lblDriveName->text() != name, !replacement.isEmpty());
        QCOMPARE(form->lblDriveSize->text(), size);
        QCOMPARE(form->lblDelCount->text(), QStringLiteral("Deleted QTY: 0"));
        QCOMPARE(form->btnScan->text(), QStringLiteral("Disk Scan"));
        QVERIFY(!form->btn2->isEnabled());  // until a later run ends normally
        QVERIFY(form->btnRecover->isEnabled());
        QVERIFY(form->Logic().ShownScan() == nullptr);  // no rows, no scan to recover from
    }

    // Destroying the window while a worker waits for the UI thread neither
    // hangs nor touches a control that is gone.
    void ClosingTheWindowEndsTheRuns() {
        QTemporaryDir out;
        {
            auto form = MakeForm(QStringLiteral("D=") + Image("basic"));
            SelectDrive(*form, QStringLiteral("D:"));
            form->btnScan->click();
            WaitForFlag(form->ScanRunning);
        }
        auto form = MakeForm(QStringLiteral("D=") + Image("basic"));
        {
            TMessages messages;
            SelectDrive(*form, QStringLiteral("D:"));
            QVERIFY(PressAndWait(form->btnScan, messages));
        }
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        form->chk1->setChecked(true);
        form->btnRecover->click();
        WaitForFlag(form->RecoverRunning);
        form->btnScan->setEnabled(true);
        form->btnScan->click();  // a scan beside it, also waiting for its first hand-over
        WaitForFlag(form->ScanRunning);
        // The window waits for its runs as it goes: no file can come after.
        form.reset();
        QCOMPARE(FilesIn(out.path()), QStringList());
    }

    // A folder on the drive being read: the question comes first, and only
    // Yes starts the run. Needs a loop mount (root and ntfs-3g).
    void OutputFolderOnTheSourceAsksFirst() {
        QTemporaryDir dir;
        const QString image = dir.filePath("drive.img");
        const QString mount = dir.filePath("mnt");
        QVERIFY(QFile::copy(Image("basic"), image));
        QFile(image).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(QDir().mkpath(mount));
        const auto mounted = testing_support::RunCommand(
            QStringLiteral("mount -o loop '%1' '%2' 2>/dev/null").arg(image, mount).toStdString());
        if (mounted.status != 0) QSKIP("cannot loop-mount the image here (needs root and ntfs-3g)");
        struct TUnmount {
            QString path;
            ~TUnmount() {
                testing_support::RunCommand(QStringLiteral("umount '%1'").arg(path).toStdString());
            }
        } unmount{mount};

        auto form = MakeForm(QStringLiteral("D=") + image);
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(form->dirlstDLB->SetDirectory(mount));
        form->Results()->SetChecked(0, true);
        const QStringList before = FilesIn(mount);
        const QString question = Titled(QString::fromUtf16(form::texts::kOutputOnSource.data()));

        messages.Answer = QMessageBox::Cancel;
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), question);
        QVERIFY(messages.Settle());
        QCOMPARE(messages.Texts.size(), 2);
        QVERIFY(!form->RecoverRunning && form->btn2->isEnabled());
        QCOMPARE(FilesIn(mount), before);

        messages.Answer = QMessageBox::Yes;
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), question);
        QVERIFY(messages.WaitFor(4));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));
        const QJsonObject first = DeletedRows(Manifest("basic"))[0];
        QCOMPARE(Sha(mount + u'/' + first["name"].toString()), first["sha256"].toString());

        // Another folder asks nothing.
        QTemporaryDir elsewhere;
        QVERIFY(form->dirlstDLB->SetDirectory(elsewhere.path()));
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));
    }

    // Rows keep their volume: after a scan of D:, selecting E: changes
    // nothing about where the recovery reads. E:'s image is gone by the time
    // of the click, so a single read of it would fail a file.
    void RecoveryReadsTheScannedVolume() {
        QTemporaryDir dir;
        QTemporaryDir out;
        const QString other = dir.filePath("other.img");
        QVERIFY(QFile::copy(Image("c512"), other));
        auto form = MakeForm(QStringLiteral("D=%1;E=%2").arg(Image("basic"), other));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        SelectDrive(*form, QStringLiteral("E:"));
        QCOMPARE(form->lstDriveList->selectedItems().first()->text(), QStringLiteral("E:"));
        QVERIFY(QFile::remove(other));
        QVERIFY(form->dirlstDLB->SetDirectory(out.path()));
        form->chk1->setChecked(true);
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(), Titled(kRecoverDone));

        const QList<QJsonObject> expected = DeletedRows(Manifest("basic"));
        QVERIFY(expected.size() >= 3);
        QStringList names;
        for (const QJsonObject& e : expected) names << e["name"].toString();
        names.sort();
        QCOMPARE(FilesIn(out.path()), names);
        for (const QJsonObject& e : expected)
            QCOMPARE(Sha(out.filePath(e["name"].toString())), e["sha256"].toString());
    }

    // A folder that cannot take files (replaced by a plain file after it was
    // chosen, which stops root too): the closing message says how many of
    // the ticked files were not written, never plain success.
    void UnwritableFolderIsReported() {
        QTemporaryDir dir;
        const QString folder = dir.filePath("out");
        QVERIFY(QDir().mkpath(folder));
        auto form = MakeForm(QStringLiteral("D=") + Image("basic"));
        TMessages messages;
        SelectDrive(*form, QStringLiteral("D:"));
        QVERIFY(PressAndWait(form->btnScan, messages));
        QVERIFY(form->dirlstDLB->SetDirectory(folder));
        QVERIFY(QDir().rmdir(folder));
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        form->chk1->setChecked(true);
        const int ticked = form->Results()->CheckedCount();
        QVERIFY(ticked >= 3);
        QVERIFY(PressAndWait(form->btnRecover, messages));
        QCOMPARE(messages.Texts.last(),
                 Titled(kRecoverDone + QStringLiteral("\n%1 of %1 files could not be written.").arg(ticked)));
        QCOMPARE(form->pb1->value(), ticked);
        QVERIFY(!form->RecoverRunning && form->btnScan->isEnabled() && form->btn2->isEnabled());
    }

    void BarScaleEndsFullBeyondInt() {
        for (const std::uint64_t steps :
             {std::uint64_t{0}, std::uint64_t{76}, std::uint64_t{INT_MAX}, std::uint64_t{INT_MAX} + 1,
              std::uint64_t{1} << 40, ~std::uint64_t{0}}) {
            const form::TBarScale scale(steps);
            QVERIFY(scale.Maximum() >= 0);
            QCOMPARE(scale.Position(steps), scale.Maximum());
            QCOMPARE(scale.Position(0), 0);
            if (steps <= INT_MAX)
                QCOMPARE(std::uint64_t(scale.Maximum()), steps);
            else
                QVERIFY(scale.Maximum() > INT_MAX / 4);  // still fine-grained
        }
    }
};

int main(int argc, char* argv[]) {
    // The manifests' date texts are for the C locale in UTC.
    setenv("TZ", "UTC", 1);
    setenv("LC_ALL", "C", 1);
    QApplication application(argc, argv);
    TRunsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "runs_test.moc"
