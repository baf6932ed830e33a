#include "app/recover_thread.h"

#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <string>

#include "app/main_form.h"
#include "app/message_box.h"
#include "platform/same_volume.h"
#include "recover/recover_file.h"
#include "recover/target_name.h"

namespace app {

namespace {

// The next ticked row of the walk, as the UI thread read it.
struct TNextRow {
    bool Found = false;
    int Index = 0;
    std::string Caption;
    std::string Name;
    std::string Folder;
    bool OldName = true;
};

bool AskYesCancel(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text,
                    QMessageBox::Yes | QMessageBox::Cancel);
    // Enter alone must not send files onto the source.
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}

}  // namespace

TRecoverThread::TRecoverThread(TMainForm& form, QString curDrive, int fileCount,
                               const ntfs::TDISK_INFORMATION& diskInfo)
    : TRunThread(form), FdiskInfo(diskInfo), FFileCount(fileCount), FCurDrive(std::move(curDrive)) {}

void TRecoverThread::Execute() {
    TMainForm& form = m_form;
    form.RecoverRunning = true;

    int rowCount = 0;
    OnUiThread([&] {
        form.pb1->setRange(0, FFileCount);
        form.pb1->setValue(0);
        form.btnRecover->setText(QStringLiteral(u"停止恢复"));
        form.btnScan->setEnabled(false);
        // Rows a scan adds after this moment are not visited.
        rowCount = form.Results()->Count();
    });

    const recover::TNameRules rules = recover::HostNameRules();
    recover::TWrittenNames written(rules);
    const std::string drive = FCurDrive.toStdString();
    int index = 0;
    bool handled = false;  // a row is done whose progress step is still to show
    for (;;) {
        TNextRow next;
        const bool served = OnUiThread([&] {
            if (handled) form.pb1->setValue(form.pb1->value() + 1);
            for (; index < rowCount; ++index) {
                if (form.RecoverStopRequested) return;
                // A scan started meanwhile may have emptied the list.
                if (index >= form.Results()->Count()) return;
                const TRow& row = form.Results()->Row(index);
                if (!row.Checked) continue;
                next = {true,
                        index,
                        row.Caption.toStdString(),
                        row.FileName.toStdString(),
                        form.dirlstDLB->Directory().toStdString(),
                        form.rb1->isChecked()};
                return;
            }
        });
        if (!served || !next.Found) break;
        const std::string name = recover::TargetFileName(
            next.Name, static_cast<std::uint64_t>(next.Index),
            next.OldName ? recover::TNamingChoice::OldName : recover::TNamingChoice::AutoName, rules,
            written);
        const std::string target = recover::JoinTargetPath(next.Folder, name, rules);
        // A file that cannot be rebuilt leaves no trace but its absence.
        if (recover::RecoverFileFromRecord(drive, next.Caption, FdiskInfo, target).Status ==
            recover::TRecoverStatus::Written)
            written.Add(name);
        handled = true;
        index = next.Index + 1;
    }

    form.RecoverRunning = false;
    OnUiThread([&] {
        form.btnRecover->setText(QStringLiteral(u"恢复文件"));
        form.btnScan->setEnabled(true);
        form.btn2->setEnabled(true);
        ShowMessage(QStringLiteral(u"文件数据恢复完成！"));
        // Still on the UI thread: the next click starts a new run.
        HandedOverLast();
    });
    HandedOverLast();
}

void RecoverButtonClick(TMainForm& form, std::unique_ptr<TRecoverThread>& thread) {
    // A run counts from the click that started it, not only once it has set its flag.
    if (form.RecoverRunning || (thread && thread->Busy())) {
        form.RecoverStopRequested = true;
        return;
    }
    const int count = form.Results()->CheckedCount();
    if (count == 0) {
        ShowMessage(QStringLiteral("Please check the file you want to recover!"));
        return;
    }
    const QList<QListWidgetItem*> selected = form.lstDriveList->selectedItems();
    if (selected.isEmpty()) {
        ShowMessage(QStringLiteral(u" Please select a disk drive in the upper left corner！"));
        return;
    }
    const QString drive = selected.first()->text();
    if (platform::FolderIsOnDrive(form.dirlstDLB->Directory().toStdString(), drive.toStdString()) &&
        !AskYesCancel(QString::fromUtf16(kOutputOnSourceQuestion)))
        return;
    form.RecoverStopRequested = false;
    form.btn2->setEnabled(false);
    thread.reset();
    thread = std::make_unique<TRecoverThread>(form, drive, count, form.diskInfo);
    thread->start();
}

}  // namespace app
