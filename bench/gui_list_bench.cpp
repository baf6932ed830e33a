// SPDX-License-Identifier: GPL-3.0-or-later
// Times the results list on 300,000 rows in the real, shown window: append
// (one AddFoundFile per row, as the scan hands them over, and in one batch),
// sort by a header click, Select All on and off, and Seek for the last row.
// Not a test: run it by hand, e.g. QT_QPA_PLATFORM=offscreen gui_list_bench.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableView>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/qt/main_form.h"

namespace {

constexpr int kRows = 300000;

// Names as a disk holds them: many share a stem ("IMG_", "report"), the rest
// are scattered letters, in either case.
QString NameOf(unsigned key, int i) {
    static const char* const stems[] = {"IMG_", "report", "Document", "~WRL", "photo-", ""};
    QString name = QString::fromLatin1(stems[key % 6]);
    unsigned bits = key;
    for (unsigned n = 0; n < 3 + key % 9; ++n) {
        const unsigned letter = bits % 52;
        name += QChar(letter < 26 ? u'a' + letter : u'A' + (letter - 26));
        bits = bits * 1103515245u + 12345u;
    }
    return name + QString::number(i % 977) + QStringLiteral(".txt");
}

form::TRow RowOf(int i) {
    const unsigned key = static_cast<unsigned>(i) * 2654435761u;
    form::TRow row;
    row.Caption = QStringLiteral("0x%1")
                      .arg(0xC0004000ull + 1024ull * static_cast<unsigned>(i), 0, 16)
                      .toUpper()
                      .toStdU16String();
    row.FileName = NameOf(key, i).toStdU16String();
    row.FileExt = u".txt";
    row.FileSize = QStringLiteral("%1 KB").arg(1 + key % 5000).toStdU16String();
    row.CreateTime = QStringLiteral("2024/%1/%2 10:%3:00")
                         .arg(1 + key % 12)
                         .arg(1 + key % 28)
                         .arg(key % 60)
                         .toStdU16String();
    row.LastTime = QStringLiteral("2025/%1/%2 09:%3:00")
                       .arg(1 + key % 12)
                       .arg(1 + key % 28)
                       .arg(key % 60)
                       .toStdU16String();
    row.ScanIndex = static_cast<std::size_t>(i);
    return row;
}

// CPU time of this process, which other work on a busy machine disturbs
// less than the wall clock does.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double g_cpuStart = 0;

void Report(const char* what, QElapsedTimer& clock) {
    const double cpu = CpuMs();
    std::printf("%-44s %8.1f ms wall %8.1f ms cpu\n", what, static_cast<double>(clock.nsecsElapsed()) / 1e6,
                cpu - g_cpuStart);
    std::fflush(stdout);
    g_cpuStart = CpuMs();
    clock.restart();
    g_cpuStart = CpuMs();
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    qputenv("LUMBRA_DRIVES", "");
    app::TMainForm form;
    form.show();
    QApplication::processEvents();

    std::vector<form::TRow> rows;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i) rows.push_back(RowOf(i));

    QElapsedTimer clock;
    clock.start();
    g_cpuStart = CpuMs();
    // As a scan hands them over: in batches of about 1,000 rows.
    for (std::size_t at = 0; at < rows.size(); at += 1000) {
        const auto end = rows.begin() + static_cast<std::ptrdiff_t>(std::min(at + 1000, rows.size()));
        form.AppendRows(std::vector<form::TRow>(rows.begin() + static_cast<std::ptrdiff_t>(at), end));
    }
    QApplication::processEvents();
    Report("append 300,000 rows in batches of 1,000", clock);

    form.Results()->Clear();
    QApplication::processEvents();
    std::vector<form::TRow> batch = rows;
    clock.restart();
    g_cpuStart = CpuMs();
    form.AppendRows(std::move(batch));
    QApplication::processEvents();
    Report("append 300,000 rows in one batch", clock);

    form.lv1ColumnClick(1);
    QApplication::processEvents();
    Report("sort by FileName (header click)", clock);

    form.lv1ColumnClick(3);
    QApplication::processEvents();
    Report("sort by Size", clock);

    form.lv1ColumnClick(4);
    QApplication::processEvents();
    Report("sort by Create Date (long shared prefixes)", clock);

    form.lv1ColumnClick(0);
    QApplication::processEvents();
    Report("sort by N", clock);

    form.chk1->setChecked(true);
    QApplication::processEvents();
    Report("Select All on", clock);

    form.chk1->setChecked(false);
    QApplication::processEvents();
    Report("Select All off", clock);

    // The last row in display order: a full pass over the list.
    form.edt1->setText(app::ToQString(form.Results()->Row(kRows - 1).FileName));
    clock.restart();
    g_cpuStart = CpuMs();
    form.btn2Click();
    QApplication::processEvents();
    Report("Seek (match in the last row)", clock);

    form.edt1->setText(QStringLiteral("no row holds this"));
    clock.restart();
    g_cpuStart = CpuMs();
    form.btn2Click();
    QApplication::processEvents();
    Report("Seek (no match)", clock);
    return 0;
}
