// SPDX-License-Identifier: GPL-3.0-or-later
// The deep pass against the read it is made of: reads IMAGE whole in
// process (the same 8 MiB reads, a warm cache after a first read), then runs
// the pass over it, and prints both rates, the records found and what the
// pass kept per found record.
//
//   deep_pass_bench IMAGE [--rows]   (--rows: each row's record, state and name on stdout)
#include <chrono>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/raw_volume.h"
#include "scan/deep_pass.h"
#include "scan/volume_source.h"

namespace {

class TCount : public scan::TDeepSink {
public:
    bool Print = false;
    void OnProgress(std::uint64_t, std::uint64_t) override { ++Progress; }
    void OnRow(scan::TDeepRow&& row) override {
        ++Rows;
        Lost += row.Lost ? 1 : 0;
        if (Print)
            std::printf("%llu\t%s\t%s\n", static_cast<unsigned long long>(row.Entry.Record),
                        scan::DeepStateText(row.Lost), row.Entry.NameText.c_str());
    }
    std::uint64_t Progress = 0, Rows = 0, Lost = 0;
};

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool rows = argc == 3 && std::string_view(argv[2]) == "--rows";
    if (argc != 2 && !rows) {
        std::fprintf(stderr, "usage: deep_pass_bench IMAGE [--rows]\n");
        return 2;
    }
    scan::TSourceRequest request;
    request.Name = argv[1];
    request.Scope = scan::TSourceScope::AsItIs;
    const scan::TOpenedSource opened = scan::OpenSource(request);
    platform::TRawVolume* const volume = opened.Volume.get();
    if (!volume) {
        std::fprintf(stderr, "deep_pass_bench: %s does not open\n", argv[1]);
        return 1;
    }
    const std::uint64_t size = volume->Size();
    const double mb = static_cast<double>(size) / 1e6;
    std::vector<std::uint8_t> buffer(scan::TDeepPass::kReadBytes);
    double readSeconds = 0;
    for (int pass = 0; pass < 2; ++pass) {  // the second read is the warm one
        const auto start = std::chrono::steady_clock::now();
        std::uint64_t sum = 0;
        for (std::uint64_t pos = 0; pos < size; pos += buffer.size()) {
            const std::size_t got = volume->ReadAt(pos, buffer);
            sum += got != 0 ? buffer[0] : 0;
        }
        readSeconds = Seconds(start);
        if (sum == UINT64_MAX) std::puts("");  // keeps the reads
    }
    std::atomic<bool> stop{false};
    TCount sink;
    sink.Print = rows;
    const auto start = std::chrono::steady_clock::now();
    const auto result = scan::TDeepPass(*volume).Run(stop, sink);
    const double passSeconds = Seconds(start);
    const auto& c = result.Counters;
    std::printf("image: %.1f MB\n", mb);
    std::printf("read in process: %.3f s, %.0f MB/s\n", readSeconds, mb / readSeconds);
    std::printf("deep pass: %.3f s, %.0f MB/s, %.2fx the read\n", passSeconds, mb / passSeconds,
                passSeconds / readSeconds);
    std::printf(
        "records found: %llu, boot sectors: %llu, volumes: %zu, duplicates: %llu, live in use: %llu\n",
        static_cast<unsigned long long>(c.RecordsFound), static_cast<unsigned long long>(c.BootSectors),
        result.Volumes.size(), static_cast<unsigned long long>(c.Duplicates),
        static_cast<unsigned long long>(c.LiveInUse));
    std::printf("rows: %llu (%llu lost), not files: %llu, progress calls: %llu\n",
                static_cast<unsigned long long>(sink.Rows), static_cast<unsigned long long>(sink.Lost),
                static_cast<unsigned long long>(c.NotFiles), static_cast<unsigned long long>(sink.Progress));
    std::printf("kept per found record: %.1f bytes\n",
                c.RecordsFound == 0
                    ? 0.0
                    : static_cast<double>(result.FoundRecordBytes) / static_cast<double>(c.RecordsFound));
    return 0;
}
