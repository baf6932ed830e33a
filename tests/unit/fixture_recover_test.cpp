// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli recover on the committed real images: every deleted file comes
// back with the sha256 of what was written before the delete (compressed,
// sparse, fragmented and attribute-list files included), names never leave
// the output folder, and the source image is never written.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <set>
#include <sstream>

#include "recover/target_name.h"
#include "unit/fixtures.h"

using testing_support::FixtureImage;
using testing_support::FixtureManifest;
using testing_support::RunCommand;

namespace {

namespace fs = std::filesystem;

struct TOutLine {
    std::string target;
    std::string outcome;
};

std::map<std::string, TOutLine> ParseLines(const std::string& out) {
    std::map<std::string, TOutLine> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t a = line.find('\t');
        const std::size_t b = line.find('\t', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        lines[line.substr(0, a)] = {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    }
    return lines;
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/lumbra-test-XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

std::string Recover(const std::string& source, const fs::path& out, const std::string& args, int& status) {
    const auto r = RunCommand("'" LUMBRA_CLI "' recover '" + source + "' --out '" + out.string() + "' " +
                              args + " 2>/dev/null");
    status = r.status;
    return r.out;
}

class FixtureRecover : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureRecover, EveryDeletedFileComesBackByteForByte) {
    const auto m = FixtureManifest(GetParam());
    TempDir dir;
    int status = -1;
    const auto lines = ParseLines(Recover(FixtureImage(GetParam()).string(), dir.Path(), "--all", status));
    EXPECT_EQ(status, 0);
    std::size_t files = 0;
    for (const auto& row : m["deleted"]) {
        const std::string caption = row["caption"];
        SCOPED_TRACE(row["name"].get<std::string>());
        ASSERT_TRUE(lines.count(caption));
        const fs::path target = lines.at(caption).target;
        EXPECT_EQ(target.parent_path(), dir.Path());  // never outside the folder
        // A row whose clusters were reused comes back as other files' bytes:
        // its verdict says so on its line.
        const std::string verdict = testing_support::ExpectedVerdict(row);
        EXPECT_NE(lines.at(caption).outcome.find("; " + verdict), std::string::npos)
            << lines.at(caption).outcome;
        if (verdict == "partial" || verdict == "overwritten") {
            EXPECT_NE(testing_support::Sha256OfFile(target), row["sha256"].get<std::string>());
        } else {
            EXPECT_EQ(testing_support::Sha256OfFile(target), row["sha256"].get<std::string>());
        }
        EXPECT_EQ(fs::file_size(target), row["size"].get<std::uint64_t>());
        ++files;
    }
    // Nothing else in the folder: no temporary files left behind.
    EXPECT_EQ(
        static_cast<std::size_t>(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator())),
        files);
    EXPECT_EQ(testing_support::Sha256OfFile(FixtureImage(GetParam())), m["imageSha256"].get<std::string>());
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(FixtureRecover);
INSTANTIATE_TEST_SUITE_P(Images, FixtureRecover, ::testing::ValuesIn(testing_support::FixtureNames()),
                         [](const auto& p) { return p.param; });

TEST(CliRecover, AutoNamesChosenCaptionsAndExitCodes) {
    if (!fs::exists(FixtureImage("basic"))) GTEST_SKIP();
    const auto m = FixtureManifest("basic");
    const auto& rows = m["deleted"];
    TempDir dir;
    int status = -1;
    // Rows 0 and 2 by caption, auto-named by their row index.
    const std::string args =
        "--auto-names " + rows[0]["caption"].get<std::string>() + " " + rows[2]["caption"].get<std::string>();
    auto lines = ParseLines(Recover(FixtureImage("basic").string(), dir.Path(), args, status));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(testing_support::Sha256OfFile(dir.Path() / "File_0"), rows[0]["sha256"].get<std::string>());
    EXPECT_EQ(testing_support::Sha256OfFile(dir.Path() / "File_2"), rows[2]["sha256"].get<std::string>());
    EXPECT_FALSE(fs::exists(dir.Path() / "File_1"));

    // A caption that names no deleted file is skipped: exit 1.
    lines = ParseLines(Recover(FixtureImage("basic").string(), dir.Path(), "0x4000", status));
    EXPECT_EQ(status, 1);
    EXPECT_NE(lines["0x4000"].outcome.find("skipped"), std::string::npos);

    // An output folder that is a file, or a source that is not NTFS: exit 2.
    const fs::path file = dir.Path() / "File_0";
    Recover(FixtureImage("basic").string(), file, "--all", status);
    EXPECT_EQ(status, 2);
    Recover("/nonexistent.img", dir.Path(), "--all", status);
    EXPECT_EQ(status, 2);
}

// A USB stick formatted exFAT, mounted through exfat-fuse on a loop device:
// names that differ only in case, or that hold characters Windows forbids,
// must each come back as a file of their own.
class TExfatFolder {
public:
    explicit TExfatFolder(const fs::path& work) : m_image(work / "stick.img"), m_mount(work / "stick") {
        // A loop device and a FUSE mount need root: a user with sudo gets
        // them through it, the mount owned by that user.
        std::string owner;
        if (::geteuid() != 0) {
            if (RunCommand("sudo -n true >/dev/null 2>&1").status != 0) {
                m_why = "needs root (or sudo without a password) for a loop device and a FUSE mount";
                return;
            }
            m_sudo = "sudo -n ";
            owner = " -o uid=" + std::to_string(::geteuid()) + ",gid=" + std::to_string(::getegid());
        }
        fs::create_directory(m_mount);
        const auto loop = RunCommand("truncate -s 32M '" + m_image.string() + "' && mkfs.exfat '" +
                                     m_image.string() + "' >/dev/null 2>&1 && " + m_sudo +
                                     "losetup -f --show '" + m_image.string() + "' 2>/dev/null");
        if (loop.status != 0 || loop.out.empty()) {
            m_why = "no exfatprogs or no free loop device";
            return;
        }
        m_loop = loop.out.substr(0, loop.out.find('\n'));
        if (RunCommand(m_sudo + "mount.exfat-fuse" + owner + " '" + m_loop + "' '" + m_mount.string() +
                       "' >/dev/null 2>&1")
                .status != 0) {
            m_why = "exfat-fuse could not mount (no /dev/fuse?)";
            return;
        }
        m_mounted = true;
    }
    ~TExfatFolder() {
        if (m_mounted) RunCommand(m_sudo + "umount '" + m_mount.string() + "'");
        if (!m_loop.empty()) RunCommand(m_sudo + "losetup -d '" + m_loop + "'");
    }
    bool Ready() const { return m_mounted; }
    const std::string& Why() const { return m_why; }
    const fs::path& Path() const { return m_mount; }

private:
    fs::path m_image;
    fs::path m_mount;
    std::string m_loop;
    std::string m_why;
    std::string m_sudo;  // "sudo -n " for a user who is not root
    bool m_mounted = false;
};

TEST(CliRecover, ClashingNamesIntoAnExfatFolderStayDistinct) {
    if (!fs::exists(FixtureImage("names"))) GTEST_SKIP() << "names fixture not built";
    TempDir work;
    TExfatFolder stick(work.Path());
    if (!stick.Ready()) GTEST_SKIP() << "exFAT folder unavailable: " << stick.Why();
    EXPECT_EQ(recover::FolderNameRules(stick.Path().string()), recover::TNameRules::Windows);

    const auto m = FixtureManifest("names");
    const fs::path out = stick.Path() / "recovered";
    int status = -1;
    const auto lines = ParseLines(Recover(FixtureImage("names").string(), out, "--all", status));
    EXPECT_EQ(status, 0);
    std::set<std::string> targets;
    for (const auto& row : m["deleted"]) {
        const std::string caption = row["caption"];
        SCOPED_TRACE(row["name"].get<std::string>());
        ASSERT_TRUE(lines.count(caption));
        const fs::path target = lines.at(caption).target;
        EXPECT_EQ(target.parent_path(), out);
        targets.insert(target.filename().string());
        EXPECT_EQ(testing_support::Sha256OfFile(target), row["sha256"].get<std::string>());
    }
    // Every row its own file, and nothing else in the folder.
    EXPECT_EQ(targets.size(), m["deleted"].size());
    std::set<std::string> present;
    for (const auto& entry : fs::directory_iterator(out)) present.insert(entry.path().filename().string());
    EXPECT_EQ(present, targets);
    EXPECT_TRUE(targets.count("Report.doc") && targets.count("REPORT (2).DOC") &&
                targets.count("report (3).DOC"));
}

TEST(CliRecover, KeepFoldersRebuildsTheOriginalFolders) {
    if (!fs::exists(FixtureImage("reuse")) || !fs::exists(FixtureImage("hostile"))) GTEST_SKIP();
    for (const std::string name : {"reuse", "hostile"}) {
        SCOPED_TRACE(name);
        const auto m = FixtureManifest(name);
        TempDir dir;
        int status = -1;
        const auto lines =
            ParseLines(Recover(FixtureImage(name).string(), dir.Path(), "--keep-folders --all", status));
        EXPECT_EQ(status, 0);
        std::set<fs::path> targets;
        for (const auto& row : m["deleted"]) {
            SCOPED_TRACE(row["name"].get<std::string>());
            const fs::path target = lines.at(row["caption"]).target;
            // The folders of the path below DIR, a broken chain under _unknown_.
            std::string path = testing_support::ExpectedPath(row);
            fs::path want = dir.Path();
            if (path.rfind("?", 0) == 0) {
                want /= "_unknown_";
                path.erase(0, 1);
            }
            const std::string dirPart = row["dir"].get<std::string>();
            if (path.rfind("?", 0) != 0 && !row.contains("path") && !dirPart.empty()) want /= dirPart;
            if (row.contains("path")) {
                std::size_t start = 1;
                for (std::size_t sep; (sep = path.find('\\', start)) != std::string::npos; start = sep + 1)
                    want /= path.substr(start, sep - start);
            }
            EXPECT_EQ(target.parent_path(), want);
            targets.insert(target);
            if (testing_support::ExpectedVerdict(row) == "intact") {
                EXPECT_EQ(testing_support::Sha256OfFile(target), row["sha256"].get<std::string>());
            }
        }
        // Same names in different folders stay apart; nothing escapes DIR.
        EXPECT_EQ(targets.size(), m["deleted"].size());
        for (const auto& entry : fs::recursive_directory_iterator(dir.Path()))
            if (entry.is_regular_file()) {
                EXPECT_TRUE(targets.count(entry.path())) << entry.path();
            }
    }
}

TEST(CliRecover, RunReplacesOlderFilesButNotItsOwn) {
    if (!fs::exists(FixtureImage("hostile"))) GTEST_SKIP();
    TempDir dir;
    // A file from before the run is replaced by the run's file of that name.
    { std::ofstream(dir.Path() / "dup.txt") << "old content"; }
    int status = -1;
    const auto lines = ParseLines(Recover(FixtureImage("hostile").string(), dir.Path(), "--all", status));
    const auto m = FixtureManifest("hostile");
    std::map<std::string, std::string> shaByTarget;
    for (const auto& row : m["deleted"]) shaByTarget[lines.at(row["caption"]).target] = row["sha256"];
    EXPECT_EQ(shaByTarget.size(), m["deleted"].size());  // two dup.txt rows, two files
    EXPECT_NE(testing_support::Sha256OfFile(dir.Path() / "dup.txt"),
              testing_support::Sha256Hex("old content", 11));
}

}  // namespace
