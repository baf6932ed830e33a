// SPDX-License-Identifier: GPL-3.0-or-later
// Named temporary files, the fallback where a folder refuses unnamed ones
// (FAT, exFAT, FUSE): a run ended by a signal removes its own, and a run
// into a folder removes those a killed run left there, never one that a
// running process still writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "recover/output_file.h"
#include "unit/fixtures.h"
#include "unit/recover_support.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> TempFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        if (recover::IsTempFileName(e.path().filename().string())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// lumbra-cli recover --all of the demo volume into `out`, the unnamed
// temporary file refused, stuck at its first line of output: its stdout is a
// pipe filled beforehand that nobody reads, so the writing threads have put
// the files ahead into named temporary files and wait. Returns its pid once
// at least `atLeast` temporary files are there.
pid_t StuckRun(const std::string& out, std::size_t atLeast, int& pipeRead) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string fill(4096, 'x');
    while (::write(fds[1], fill.data(), fill.size()) > 0) {
    }
    ::fcntl(fds[1], F_SETFL, 0);
    const std::string image = testing_support::FixtureImage("basic").string();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::setenv("LUMBRA_TEST_NO_TMPFILE", "1", 1);
        ::execl(LUMBRA_CLI, LUMBRA_CLI, "recover", image.c_str(), "--out", out.c_str(), "--all",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    pipeRead = fds[0];
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (TempFiles(out).size() < atLeast && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return child;
}

std::size_t RecoveredFiles(const std::string& folder) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file() && !recover::IsTempFileName(e.path().filename().string())) ++n;
    return n;
}

testing_support::TCommandResult FreeRun(const std::string& out) {
    return testing_support::RunCommand("LUMBRA_TEST_NO_TMPFILE=1 '" LUMBRA_CLI "' recover '" +
                                       testing_support::FixtureImage("basic").string() + "' --out '" + out +
                                       "' --all 2>/dev/null");
}

TEST(TempFiles, NoneLeftAfterASignalOrASecondRun) {
    const std::size_t rows = testing_support::FixtureManifest("basic")["deleted"].size();
    for (const int signal : {SIGINT, SIGTERM, SIGKILL}) {
        testing_support::TScratchDir dir;
        const std::string out = dir.Path("out");
        fs::create_directories(out);
        int pipeRead = -1;
        const pid_t stuck = StuckRun(out, 3, pipeRead);
        ASSERT_GT(stuck, 0);
        const std::vector<std::string> held = TempFiles(out);
        ASSERT_GE(held.size(), 3u) << "signal " << signal;

        // A second run while the first still writes: the first's files stay.
        const auto beside = FreeRun(out);
        EXPECT_EQ(beside.status, 0) << beside.out;
        for (const std::string& name : held)
            EXPECT_TRUE(fs::exists(out + "/" + name)) << name << ", signal " << signal;

        ::kill(stuck, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(stuck, &status, 0), stuck);
        ::close(pipeRead);
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal;
        EXPECT_EQ(WTERMSIG(status), signal);
        // A handled signal removes the run's own; a kill leaves them.
        if (signal != SIGKILL)
            EXPECT_EQ(TempFiles(out), std::vector<std::string>{}) << "signal " << signal;
        else
            EXPECT_FALSE(TempFiles(out).empty());

        // A killed run's files go with the next run into the folder.
        const auto next = FreeRun(out);
        EXPECT_EQ(next.status, 0) << next.out;
        EXPECT_EQ(TempFiles(out), std::vector<std::string>{}) << "signal " << signal;
        EXPECT_GE(RecoveredFiles(out), rows) << "signal " << signal;
    }
}

// In-process: the refused unnamed file gives a named one, locked while it is
// open; only an unlocked one of the right name is removed.
TEST(TempFiles, CleanUpTakesOnlyUnheldFilesOfItsOwnNames) {
    testing_support::TScratchDir dir;
    recover::RefuseUnnamedTempFilesForTesting(true);
    auto held = recover::CreateOutputFile(dir.Path("a.bin"));
    recover::RefuseUnnamedTempFilesForTesting(false);
    ASSERT_NE(held, nullptr);
    ASSERT_FALSE(held->TempPath().empty());
    const std::string stale = dir.Path(recover::TempFileName(0x1234));
    testing_support::WriteFileBytes(stale, "left by a killed run");
    for (const char* other : {".lumbra-1234.part", ".lumbra-000000000000123g.part", "keep.part"})
        testing_support::WriteFileBytes(dir.Path(other), "not ours");

    recover::RemoveStaleTempFiles(dir.Root());
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(held->TempPath()));
    EXPECT_EQ(dir.Names().size(), 4u);  // the held file and the three others

    ASSERT_TRUE(held->WriteAt(0, std::vector<std::uint8_t>{'o', 'k'}));
    ASSERT_TRUE(held->Commit(2));
    EXPECT_EQ(testing_support::ReadFileBytes(dir.Path("a.bin")), (std::vector<std::uint8_t>{'o', 'k'}));
    EXPECT_EQ(TempFiles(dir.Root()), std::vector<std::string>{});
}

}  // namespace
