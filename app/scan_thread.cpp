#include "app/scan_thread.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <vector>

#include "app/main_form.h"
#include "app/message_box.h"
#include "app/drive_fact_text.h"
#include "scan/scan_engine.h"

namespace app {

namespace {

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// Collects the walk's rows and progress on the scan thread and hands them
// over in batches, queued behind the earlier hand-overs.
class TBatchSink : public scan::TScanSink {
public:
    using TPost = std::function<void(std::function<void()>)>;

    TBatchSink(TMainForm& form, TPost post, std::uint64_t walkLength)
        : m_form(form),
          m_post(std::move(post)),
          m_scale(walkLength),
          m_due(Clock::now() + TScanThread::kHandOverInterval) {}

    int BarMaximum() const { return m_scale.Maximum(); }

    void OnProgress(std::uint64_t recordsDone) override {
        m_done = recordsDone;
        if (Clock::now() >= m_due) Flush();
    }

    void OnFound(scan::DeletedFileEntry&& entry) override {
        // The caption and the size are ASCII by construction; Latin-1 is the
        // cheaper decoding, and this runs once per found file.
        m_rows.push_back(TRow{QString::fromLatin1(entry.Caption), Text(entry.NameText), Text(entry.Extension),
                              QString::fromLatin1(entry.SizeText), Text(entry.CreateTime),
                              Text(entry.LastTime), false});
    }

    void Flush() {
        m_due = Clock::now() + TScanThread::kHandOverInterval;
        if (m_rows.empty() && m_done == m_shown) return;
        m_shown = m_done;
        m_post([form = &m_form, position = m_scale.Position(m_done), rows = std::move(m_rows)]() mutable {
            form->pb1->setValue(position);
            if (!rows.empty()) form->AppendRows(std::move(rows));
        });
        m_rows = {};
    }

private:
    using Clock = std::chrono::steady_clock;
    TMainForm& m_form;
    TPost m_post;
    TBarScale m_scale;
    Clock::time_point m_due;
    std::uint64_t m_done = 0;
    std::uint64_t m_shown = 0;
    std::vector<TRow> m_rows;
};

}  // namespace

TScanThread::TScanThread(TMainForm& form, QString curDrive)
    : TRunThread(form), FcurDrive(std::move(curDrive)) {}

void TScanThread::EndQuietly() {
    // In this order: a click that sees the flag clear may start the next run.
    HandedOverLast();
    m_form.ScanRunning = false;
}

void TScanThread::Execute() {
    TMainForm& form = m_form;
    form.ScanRunning = true;

    scan::TScanEngine engine(FcurDrive.toStdString());
    if (!engine.Open()) return EndQuietly();
    engine.ReadBootSector();
    if (!OnUiThread([&] {
            form.lblDriveName->setText(Text(DriveNameText(engine.VolumeLabel())));
            form.lblDriveSerial->setText(Text(DriveSerialText(engine.Boot().VolumeSerialNumber)));
        }))
        return EndQuietly();
    if (!engine.IsNtfs()) return EndQuietly();

    engine.DeriveGeometry();
    diskInfo = engine.Geometry();
    // The window's copy is written on the UI thread, where a recovery takes
    // its copy at the click: it sees the old geometry or the new one, whole.
    if (!OnUiThread([&] {
            form.lblDriveSize->setText(Text(DriveSizeText(engine.Boot().TotalSectors * std::uint64_t{engine.Boot().BytesPerSector})));
            form.lblDriveMFTLocation->setText(Text(MftLocationText(engine.MftByteOffset())));
            form.diskInfo = diskInfo;
        }))
        return EndQuietly();
    if (engine.ReadMftLayout()) return EndQuietly();

    TBatchSink sink(
        form, [this](std::function<void()> fn) { PostToUiThread(std::move(fn)); }, engine.WalkLength());
    if (!OnUiThread([&] {
            form.lblDriveMFTSize->setText(Text(MftSizeText(engine.MftByteLength())));
            form.lblDriveMFTRecordsCount->setText(Text(RecordCountText(engine.RecordCount())));
            form.Results()->Clear();
            // A range of 0..0 would make the bar a busy indicator for good.
            form.pb1->setRange(0, std::max(sink.BarMaximum(), 1));
            form.pb1->setValue(0);
            form.btnScan->setText(QStringLiteral("Stop Scan"));
            form.btnRecover->setEnabled(false);
        }))
        return EndQuietly();

    engine.Walk(form.ScanStopRequested, sink);
    sink.Flush();

    engine.Close();
    form.ScanRunning = false;
    OnUiThread([&] {
        form.btn2->setEnabled(true);
        form.btnScan->setText(QStringLiteral("Scan Disk"));
        form.btnRecover->setEnabled(true);
        ShowMessage(form.Results()->Count() > 0
                        ? QStringLiteral("When the scan is complete, check the file and click Lumbra file!")
                        : QStringLiteral(u"Scan completed, no deleted file records found, please select "
                                         u"another drive to try scanning！"));
        // Still on the UI thread: the next click starts a new run.
        HandedOverLast();
    });
    HandedOverLast();
}

void ScanButtonClick(TMainForm& form, std::unique_ptr<TScanThread>& thread) {
    // A run counts from the click that started it, not only once it has set
    // its flag: a second click in between stops it rather than starting another.
    if (form.ScanRunning || (thread && thread->Busy())) {
        form.ScanStopRequested = true;
        form.btn2->setEnabled(true);
        return;
    }
    const QList<QListWidgetItem*> selected = form.lstDriveList->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(QStringLiteral(u" Please select a disk drive in the upper left corner！"));
        return;
    }
    form.ScanStopRequested = false;
    form.btn2->setEnabled(false);
    form.lblDelCount->setText(QStringLiteral("Deleted QTY: 0"));
    // The previous run has made its last hand-over; its thread is ending.
    thread.reset();
    thread = std::make_unique<TScanThread>(form, selected.first()->text());
    thread->start();
}

}  // namespace app
