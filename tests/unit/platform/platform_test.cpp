// The platform helpers every program uses: path mapping, shell quoting and the shell, on
// the real board's backend and with the simulated board's stand-ins.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>

#include "platform/linux/LinuxBackend.h"
#include "platform/platform.h"
#include "sim/board/SimBackend.h"
#include "tests/support/TempRoot.h"

namespace {

using testing_support::readFile;

// Sets or removes an environment variable for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(SysPath, MapsAbsolutePathsIntoTheSystemRootOnly) {
    {
        ScopedEnv root("OSTRIX_SYSROOT", "/tmp/board//");
        EXPECT_EQ(platform::sysPath("/dev/sda1"), "/tmp/board/dev/sda1");
        EXPECT_EQ(platform::sysPath("/"), "/tmp/board/");
        EXPECT_EQ(platform::sysPath("./log"), "./log");
        EXPECT_EQ(platform::sysPath("resources/icons.png"), "resources/icons.png");
        EXPECT_EQ(platform::sysPath(""), "");
    }
    ScopedEnv none("OSTRIX_SYSROOT", nullptr);
    EXPECT_EQ(platform::sysPath("/dev/sda1"), "/dev/sda1");
    EXPECT_EQ(platform::sysPath("./log"), "./log");
}

// The shell as the real board runs it: no stand-ins on PATH.
class BoardShell : public ::testing::Test {
protected:
    void SetUp() override { platform::setBackend(platform::makeLinuxBackend()); }
    void TearDown() override { platform::setBackend(nullptr); }

    testing_support::TempDir dir_;
};

TEST_F(BoardShell, QuotedNameReachesTheCommandVerbatimAndRunsNothing) {
    const std::string marker = dir_.path() + "/ran";
    const std::string name = "Bob's \"scan\" $(touch " + marker + ") `touch " + marker + "`; touch " +
                             marker + " && echo $HOME \\ * #";
    const std::string file = dir_.path() + "/name.txt";

    ASSERT_EQ(platform::shell("printf %s " + platform::shellQuote(name) + " > " + platform::shellQuote(file)),
              0);
    EXPECT_EQ(readFile(file), name);
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(BoardShell, EmptyAndSpacedWordsStayOneArgumentEach) {
    std::string out;
    ASSERT_EQ(platform::shellOutput("printf '<%s>' " + platform::shellQuote("") + " " +
                                        platform::shellQuote("a  b") + " " + platform::shellQuote("'"),
                                    out),
              0);
    EXPECT_EQ(out, "<><a  b><'>");
}

TEST_F(BoardShell, OutputIsCollectedAndExitCodesReported) {
    std::string out = "stale";
    EXPECT_EQ(platform::shellOutput("printf 'one\\ntwo\\n'; echo noise >&2; exit 3", out), 3);
    EXPECT_EQ(out, "one\ntwo\n");

    // More than a pipe holds must not stall the command.
    EXPECT_EQ(platform::shellOutput("head -c 200000 /dev/zero | tr '\\0' x", out), 0);
    EXPECT_EQ(out.size(), 200000u);

    EXPECT_EQ(platform::shell("exit 7"), 7);
    EXPECT_EQ(platform::shellOutput("kill -9 $$", out), -1);
    EXPECT_EQ(platform::shell("kill -9 $$"), -1);
}

// 2099-01-01 00:00:00 UTC: the clock the stand-in is asked for lies beyond it.
constexpr int64_t kYear2099 = 4070908800; // beyond a 32-bit time_t (armhf)

class SimulatedShell : public testing_support::SimBoardTest {};

TEST_F(SimulatedShell, ClockAndRebootOnlyReachTheStandIns) {
    // Never run these if the host's own tools would answer.
    for (const char* tool : {"sudo", "date", "reboot"}) {
        std::string where;
        ASSERT_EQ(platform::shellOutput(std::string("command -v ") + tool, where), 0);
        ASSERT_EQ(where, sim::standinsFolder() + "/" + tool + "\n") << "the host's " << tool << " is on PATH";
    }

    EXPECT_EQ(platform::shell("sudo date -s " + platform::shellQuote("2099-06-07 08:09:10")), 0);
    EXPECT_EQ(platform::shell("reboot"), 0);

    const std::string log = readFile(root() + "/var/log/ostrix-sim/shell.log");
    EXPECT_NE(log.find("sudo date -s 2099-06-07 08:09:10\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\ndate -s 2099-06-07 08:09:10\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\nreboot\n"), std::string::npos) << log;
    EXPECT_LT(static_cast<int64_t>(std::time(nullptr)), kYear2099);
}

} // namespace
