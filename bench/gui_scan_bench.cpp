// SPDX-License-Identifier: GPL-3.0-or-later
// Times a scan in the real, shown window: from the press of "Disk Scan" to
// the closing message, with the list's memory and the window's repaints.
// Not a test: bench/gui_scan_bench.sh runs it under a virtual X display and
// sets it against lumbra-cli scan on the same image.
//
//   LUMBRA_DRIVES=S=/path/image gui_scan_bench
//
// Prints: seconds, rows, resident memory before and after (MiB), peak
// resident memory, the longest gap between two paints of the window and the
// longest gap between two ticks of a 5 ms timer on the UI thread (ms).
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

#include "app/qt/main_form.h"

namespace {

// A field of /proc/self/status in MiB ("VmRSS", "VmHWM").
double StatusMiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::stod(line.substr(line.find(':') + 1)) / 1024.0;
    return 0;
}

// Watches the whole application: paints of any widget of the window, and
// the closing message, which it answers.
class TWatch : public QObject {
public:
    QElapsedTimer Clock;
    bool Running = false;
    qint64 LastPaint = -1;
    qint64 MaxPaintGap = 0;
    qint64 Paints = 0;
    qint64 EndedAt = -1;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!Running) return false;
        if (event->type() == QEvent::Paint) {
            const qint64 now = Clock.elapsed();
            if (LastPaint >= 0) MaxPaintGap = std::max(MaxPaintGap, now - LastPaint);
            LastPaint = now;
            ++Paints;
        } else if (event->type() == QEvent::Show) {
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                EndedAt = Clock.elapsed();
                Running = false;
                QTimer::singleShot(0, box, &QMessageBox::accept);
            }
        }
        return false;
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    app::TMainForm form;
    form.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (form.lstDriveList->count() == 0) {
        std::fprintf(stderr, "gui_scan_bench: no NTFS drive in LUMBRA_DRIVES\n");
        return 2;
    }
    form.lstDriveList->setCurrentRow(0);

    TWatch watch;
    application.installEventFilter(&watch);
    qint64 lastTick = -1;
    qint64 maxTickGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!watch.Running) return;
        const qint64 now = watch.Clock.elapsed();
        if (lastTick >= 0) maxTickGap = std::max(maxTickGap, now - lastTick);
        lastTick = now;
    });
    ticker.start(5);

    const double rssBefore = StatusMiB("VmRSS");
    watch.Clock.start();
    watch.Running = true;
    form.btnScan->click();
    while (watch.EndedAt < 0)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    // Let the message close and the worker end.
    QElapsedTimer tail;
    tail.start();
    while (tail.elapsed() < 200) QApplication::processEvents(QEventLoop::AllEvents, 20);
    const double rssAfter = StatusMiB("VmRSS");

    std::printf(
        "seconds %.3f\nrows %d\nrss_before_mib %.1f\nrss_after_mib %.1f\nlist_mib %.1f\npeak_mib %.1f\n"
        "paints %lld\nmax_paint_gap_ms %lld\nmax_tick_gap_ms %lld\n",
        static_cast<double>(watch.EndedAt) / 1000.0, form.Results()->Count(), rssBefore, rssAfter,
        rssAfter - rssBefore, StatusMiB("VmHWM"), static_cast<long long>(watch.Paints),
        static_cast<long long>(watch.MaxPaintGap), static_cast<long long>(maxTickGap));
    return 0;
}
