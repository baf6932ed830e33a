// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/screenshot.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <thread>

#include "app/qt/main_form.h"

namespace app {

namespace {

constexpr int kDrawnAfterMs = 1500;

// Answers every message box with OK, so the runs reach their ends.
class TAnswerMessages : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(watched))
                QTimer::singleShot(300, box, &QMessageBox::accept);
        return false;
    }
};

void GrabAndClose(TMainForm& form, const QString& file) {
    form.grab().save(file);
    form.close();
}

// Halfway through a recovery: serves the worker's hand-overs one by one
// until the bar is half full, then grabs while the worker waits for the next.
void GrabDuringRecovery(TMainForm& form, const QString& file) {
    while (!form.RecoverRunning) std::this_thread::yield();
    while (form.RecoverRunning && (form.btnRecover->text() != QStringLiteral(u"停止恢复") ||
                                   form.pb1->value() < (form.pb1->maximum() + 1) / 2))
        QCoreApplication::sendPostedEvents(&form, QEvent::MetaCall);
    form.grab().save(file);
}

// The window with the pop-ups over it (a tooltip, a menu) painted where they
// stand: each is a window of its own.
void GrabWithPopupsAndClose(TMainForm& form, const QString& file) {
    QPixmap picture = form.grab();
    QPainter painter(&picture);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (w->inherits("QTipLabel") || w->inherits("QMenu")))
            painter.drawPixmap(form.mapFromGlobal(w->mapToGlobal(QPoint(0, 0))), w->grab());
    painter.end();
    picture.save(file);
    form.close();
}

// Shows the tooltip of the first tinted row (a file not intact) as a
// pointer resting on its name would, then grabs the window with the tooltip
// painted where it stands: a tooltip is a window of its own.
void GrabWithToolTip(TMainForm& form, const QString& file) {
    QAbstractItemModel* model = form.lv1->model();
    int tinted = -1;
    for (int r = 0; r < model->rowCount() && tinted < 0; ++r)
        if (model->data(model->index(r, 1), Qt::ForegroundRole).isValid()) tinted = r;
    if (tinted < 0) {
        form.close();
        return;
    }
    const QModelIndex cell = model->index(tinted, 1);
    form.lv1->scrollTo(cell);
    const QRect rect = form.lv1->visualRect(cell);
    const QPoint at = form.lv1->viewport()->mapToGlobal(rect.center());
    QToolTip::showText(at, model->data(cell, Qt::ToolTipRole).toString(), form.lv1->viewport(), rect, 60000);
    QTimer::singleShot(800, &form, [&form, file] { GrabWithPopupsAndClose(form, file); });
}

// The drive list's menu open over its first entry, as a right-click opens it.
void GrabWithDriveMenu(TMainForm& form, const QString& file) {
    form.lstDriveList->setCurrentRow(0);
    form.lstDriveListContextPopup(form.lstDriveList->visualItemRect(form.lstDriveList->item(0)).center());
    QTimer::singleShot(800, &form, [&form, file] { GrabWithPopupsAndClose(form, file); });
}

}  // namespace

bool ScheduleScreenshot(TMainForm& form) {
    const QString file = qEnvironmentVariable("LUMBRA_SCREENSHOT");
    if (file.isEmpty()) return false;
    const QString run = qEnvironmentVariable("LUMBRA_SCREENSHOT_RUN");
    if (run.isEmpty()) {
        QTimer::singleShot(kDrawnAfterMs, &form, [&form, file] { GrabAndClose(form, file); });
        return true;
    }
    qApp->installEventFilter(new TAnswerMessages(&form));
    QTimer::singleShot(kDrawnAfterMs, &form, [&form, file, run] {
        if (form.lstDriveList->count() == 0) {
            form.close();
            return;
        }
        if (run == QStringLiteral("deepmenu")) {
            GrabWithDriveMenu(form, file);
            return;
        }
        form.lstDriveList->setCurrentRow(0);
        // "deep": the run the drive list's menu starts.
        if (run == QStringLiteral("deep"))
            form.mniDeepScan->trigger();
        else
            form.btnScan->click();
        // The scan has ended once its closing message has been answered.
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [&form, file, run, poll] {
            if (form.ScanRunning || QApplication::activeModalWidget() != nullptr ||
                form.btnScan->text() != QStringLiteral("Scan Disk"))
                return;
            poll->stop();
            if (run == QStringLiteral("tooltip")) {
                QTimer::singleShot(300, &form, [&form, file] { GrabWithToolTip(form, file); });
                return;
            }
            if (run != QStringLiteral("recovery")) {
                QTimer::singleShot(300, &form, [&form, file] { GrabAndClose(form, file); });
                return;
            }
            form.dirlstDLB->SetDirectory(qEnvironmentVariable("LUMBRA_SCREENSHOT_FOLDER"));
            form.chk1->setChecked(true);
            form.btnRecover->click();
            GrabDuringRecovery(form, file);
            auto* wait = new QTimer(&form);
            QObject::connect(wait, &QTimer::timeout, &form, [&form] {
                if (!form.RecoverRunning && QApplication::activeModalWidget() == nullptr) form.close();
            });
            wait->start(500);
        });
        poll->start(100);
    });
    return true;
}

}  // namespace app
