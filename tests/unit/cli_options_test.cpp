// SPDX-License-Identifier: GPL-3.0-or-later
// lumbra-cli's own options and its usage errors: --help and --version answer
// on stdout with exit 0; a command line that cannot be run prints the usage
// on stderr only, with exit 2, so a script never mistakes it for output.
#include <gtest/gtest.h>

#include <algorithm>

#include "lumbra_version.h"
#include "unit/fixtures.h"

using testing_support::RunCommand;

namespace {

struct TCase {
    const char* args;
    int status;
    const char* stdoutHas;  // nullptr: stdout must be empty
    bool usageOnStderr;
};

// Runs lumbra-cli with one stream: stdout as it is, or stderr alone.
testing_support::TCommandResult Cli(const std::string& args, bool stderrOnly) {
    const std::string command =
        "'" LUMBRA_CLI "' " + args + (stderrOnly ? " 2>&1 >/dev/null" : " 2>/dev/null");
    return RunCommand(command);
}

TEST(CliOptions, AnswerOrRefuseAsTheTableSays) {
    const TCase cases[] = {
        {"--help", 0, "usage: lumbra-cli scan SOURCE [--partition N] [--json", false},
        {"-h", 0, "lumbra-cli --help | --version\n", false},
        {"--version", 0, "lumbra-cli " LUMBRA_VERSION_TEXT "\n", false},
        {"", 2, nullptr, true},
        {"--help extra", 2, nullptr, true},
        {"--version --json", 2, nullptr, true},
        {"--bogus", 2, nullptr, true},
        {"help", 2, nullptr, true},
        {"scan", 2, nullptr, true},
        {"recover img --all", 2, nullptr, true},
        {"scan --deep img --save", 2, nullptr, true},
        {"scan --deep --save f img", 2, nullptr, true},
        {"recover --from", 2, nullptr, true},
        {"recover --from f --partition 1 --out d --all", 2, nullptr, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string("lumbra-cli ") + c.args);
        const auto out = Cli(c.args, false);
        EXPECT_EQ(out.status, c.status);
        if (c.stdoutHas) {
            EXPECT_NE(out.out.find(c.stdoutHas), std::string::npos) << out.out;
        } else {
            EXPECT_EQ(out.out, "");
        }
        const auto err = Cli(c.args, true);
        EXPECT_EQ(err.out.find("usage: lumbra-cli") != std::string::npos, c.usageOnStderr) << err.out;
    }
}

TEST(CliOptions, VersionIsTheWholeLineOfThreeNumbers) {
    const auto r = Cli("--version", false);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("lumbra-cli ") + LUMBRA_VERSION_TEXT + "\n");
    // Three numbers: digits and exactly two dots, none leading or trailing.
    const std::string version = LUMBRA_VERSION_TEXT;
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 2) << version;
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
    EXPECT_TRUE(!version.empty() && version.front() != '.' && version.back() != '.' &&
                version.find("..") == std::string::npos)
        << version;
    // The same numbers as the file version, less its fourth.
    EXPECT_EQ(std::string(LUMBRA_FILE_VERSION_TEXT).rfind(LUMBRA_VERSION_TEXT ".", 0), 0u);
}

}  // namespace
