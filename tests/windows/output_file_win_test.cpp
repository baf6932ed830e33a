// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 output file: a temporary file in the target's folder, written at
// positions, sized, and moved onto the target only on Commit.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "recover/output_file.h"
#include "windows/win_support.h"

namespace {

using testing_support::ReadWholeFile;
using testing_support::TWinScratchDir;
using testing_support::WriteWholeFile;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// The test binary run again as a child with LUMBRA_OUTPUT_CHILD set to a
// target path: it starts an output file there, writes to it and dies before
// Commit, as a killed recovery run does (no destructor runs).
[[maybe_unused]] const bool g_child = [] {
    wchar_t target[MAX_PATH * 2];
    const DWORD n = ::GetEnvironmentVariableW(L"LUMBRA_OUTPUT_CHILD", target, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return false;
    auto out = recover::CreateOutputFile(platform::Narrow(std::wstring(target, n)));
    if (out == nullptr || !out->WriteAt(0, Bytes("half written")))
        ::TerminateProcess(::GetCurrentProcess(), 2);
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return true;
}();

TEST(OutputFileWin, CommitWritesTheBytesWithZeroGapsUnderTheUtf8Name) {
    TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string target = dir.Path("r\xC3\xA9sum\xC3\xA9-\xE6\x96\x87\xE4\xBB\xB6.txt");
    auto out = recover::CreateOutputFile(target);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(recover::FolderPrefix(out->TempPath(), true), dir.Path(""));
    const auto head = Bytes("head");
    const auto tail = Bytes("tail");
    // Written out of order, with a gap (a sparse run) and a zero tail.
    ASSERT_TRUE(out->WriteAt(100000, tail));
    ASSERT_TRUE(out->WriteAt(0, head));
    ASSERT_TRUE(out->Commit(100010));
    out.reset();

    const auto written = ReadWholeFile(target);
    ASSERT_TRUE(written.has_value());
    std::vector<std::uint8_t> expected(100010, 0);
    std::copy(head.begin(), head.end(), expected.begin());
    std::copy(tail.begin(), tail.end(), expected.begin() + 100000);
    EXPECT_EQ(*written, expected);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"r\xC3\xA9sum\xC3\xA9-\xE6\x96\x87\xE4\xBB\xB6.txt"});
}

TEST(OutputFileWin, CommitReplacesAnOlderFileAndCutsItToSize) {
    TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string target = dir.Path("same.bin");
    ASSERT_TRUE(WriteWholeFile(target, std::vector<std::uint8_t>(5000, 0xAA)));
    auto out = recover::CreateOutputFile(target);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(out->WriteAt(0, Bytes("new")));
    ASSERT_TRUE(out->Commit(3));
    out.reset();
    EXPECT_EQ(ReadWholeFile(target), Bytes("new"));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"same.bin"});
}

TEST(OutputFileWin, UncommittedFileLeavesTheTargetAndNoTemporaryFile) {
    TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string target = dir.Path("keep.bin");
    ASSERT_TRUE(WriteWholeFile(target, Bytes("old content")));
    {
        auto out = recover::CreateOutputFile(target);
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(out->WriteAt(0, Bytes("half")));
    }
    EXPECT_EQ(ReadWholeFile(target), Bytes("old content"));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"keep.bin"});
}

TEST(OutputFileWin, ProcessDyingBeforeCommitLeavesNothing) {
    TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    wchar_t self[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    ASSERT_GT(n, 0u);
    ASSERT_TRUE(
        ::SetEnvironmentVariableW(L"LUMBRA_OUTPUT_CHILD", platform::Widen(dir.Path("x.bin")).c_str()));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = L"\"" + std::wstring(self, n) + L"\" --gtest_list_tests";
    const BOOL started =
        ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    ::SetEnvironmentVariableW(L"LUMBRA_OUTPUT_CHILD", nullptr);
    ASSERT_TRUE(started);
    ::WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 3u);  // the child wrote, then died
    EXPECT_EQ(dir.Names(), std::vector<std::string>{});
}

TEST(OutputFileWin, FolderThatIsNotThereTakesNoFile) {
    TWinScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    EXPECT_EQ(recover::CreateOutputFile(dir.Path("no-such-folder\\x.bin")), nullptr);
    EXPECT_EQ(recover::CreateOutputFile(""), nullptr);
}

}  // namespace
