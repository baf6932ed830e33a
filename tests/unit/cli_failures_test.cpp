// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli's failures with their reasons: a source that does not open
// says why, the scan's counters reach stderr, and a recovery that could not
// write some files exits 1 naming each of them and why.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "ntfs/text.h"
#include "recover/target_name.h"
#include "unit/fixtures.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;
using testing_support::RunCommand;

namespace {

namespace fs = std::filesystem;

// stderr only (stdout is dropped).
testing_support::TCommandResult CliErr(const std::string& args, const std::string& prefix = "") {
    return RunCommand(prefix + "'" LUMBRA_CLI "' " + args + " 2>&1 >/dev/null");
}

class TTempDir {
public:
    TTempDir() {
        char pattern[] = "/tmp/lumbra-cli-XXXXXX";
        m_path = ::mkdtemp(pattern);
        fs::permissions(m_path, fs::perms::others_exec | fs::perms::others_read, fs::perm_options::add);
    }
    ~TTempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

TEST(CliFailures, MissingSourceSaysNoSuchDevice) {
    const auto r = CliErr("scan /nonexistent/lumbra.img");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "lumbra-cli: /nonexistent/lumbra.img: no such device\n");
    const auto letter = CliErr("scan Q:", "LUMBRA_DRIVES='D=/nonexistent' ");
    EXPECT_EQ(letter.status, 2);
    EXPECT_EQ(letter.out, "lumbra-cli: Q:: no such drive\n");
}

TEST(CliFailures, UnreadableSourceSaysPermissionDeniedWithAdvice) {
    TTempDir dir;
    const fs::path image = dir.Path() / "locked.img";
    fs::copy_file(FixtureImage("basic"), image);
    // No one but root may read it, its owner included.
    fs::permissions(image, fs::perms::none, fs::perm_options::replace);
    // Root reads anything: drop to nobody for the command (CI runs as root).
    std::string prefix;
    if (::geteuid() == 0) {
        ASSERT_EQ(RunCommand("command -v setpriv >/dev/null").status, 0) << "setpriv is needed as root";
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        // nobody must reach the binary but not the image.
        ASSERT_EQ(RunCommand(prefix + "test -x '" LUMBRA_CLI "'").status, 0);
    }
    const auto r = CliErr("scan '" + image.string() + "'", prefix);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "lumbra-cli: " + image.string() +
                         ": permission denied: run with sudo or as a member of the disk group\n");
}

TEST(CliFailures, ScanPrintsItsCountersOnStderr) {
    const auto m = FixtureManifest("basic");
    const auto r = CliErr("scan '" + FixtureImage("basic").string() + "'");
    EXPECT_EQ(r.status, 0);
    const std::uint64_t walked = m["mft"]["records"].get<std::uint64_t>() - 16;
    EXPECT_EQ(r.out, "lumbra-cli: " + std::to_string(walked) + " records walked, " +
                         std::to_string(m["deleted"].size()) +
                         " deleted files found, 0 records unreadable, 4 records failing their fixups\n");
}

// A folder every target of which is taken by a folder: no file can be
// renamed into place, whoever runs the test.
TEST(CliFailures, RecoveryThatCannotWriteExitsOneNamingEachFile) {
    const auto m = FixtureManifest("basic");
    TTempDir dir;
    const fs::path out = dir.Path() / "out";
    const std::string image = FixtureImage("basic").string();
    // The names the run will choose: a first run writes them all.
    const auto first =
        RunCommand("'" LUMBRA_CLI "' recover '" + image + "' --out '" + out.string() + "' --all 2>/dev/null");
    ASSERT_EQ(first.status, 0);
    std::vector<fs::path> targets;
    for (const auto& entry : fs::directory_iterator(out)) targets.push_back(entry.path());
    ASSERT_EQ(targets.size(), m["deleted"].size());
    for (const auto& t : targets) {
        fs::remove(t);
        fs::create_directories(t / "taken");
    }
    // A name the folder refuses falls back to File_<index><ext>: take those too.
    for (std::size_t i = 0; i < m["deleted"].size(); ++i) {
        const std::u16string name = ntfs::Utf8ToUtf16(m["deleted"][i]["name"].get<std::string>());
        fs::create_directories(out / recover::FallbackFileName(name, i, recover::TNameRules::Posix) /
                               "taken");
    }

    const auto r = CliErr("recover '" + image + "' --out '" + out.string() + "' --all");
    EXPECT_EQ(r.status, 1);
    std::istringstream lines(r.out);
    std::string line;
    std::size_t named = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("  0x", 0) != 0) continue;
        EXPECT_NE(line.find(": output file could not be written"), std::string::npos) << line;
        ++named;
    }
    EXPECT_EQ(named, m["deleted"].size());
    EXPECT_NE(r.out.find("lumbra-cli: " + std::to_string(named) + " of " + std::to_string(named) +
                         " files could not be written:\n"),
              std::string::npos);
    for (const auto& row : m["deleted"])
        EXPECT_NE(r.out.find("  " + row["caption"].get<std::string>() + " ("), std::string::npos);
}

}  // namespace
