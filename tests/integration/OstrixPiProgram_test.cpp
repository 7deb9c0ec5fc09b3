// The controller program as a service runs it: exit statuses, help text, start-up with
// and without configuration, and a clean stop on SIGTERM.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/support/TempRoot.h"

extern char** environ;

namespace {

using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kRunLimit = std::chrono::seconds(60);

// One run of OstrixPi on the simulated board, in its own working folder.
class OstrixPiProgramTest : public ::testing::Test {
protected:
    std::string work() const { return dir_.path() + "/work"; }
    std::string root() const { return dir_.path() + "/root"; }

    void SetUp() override {
        writeFile(work() + "/.keep", "");
        writeFile(root() + "/.keep", "");
    }

    // Everything the child needs is built before fork(): between fork and exec it only
    // makes async-signal-safe calls.
    pid_t start(const std::vector<std::string>& args, bool withBoard = true) {
        const std::string program = std::string(OSTRIX_BIN_DIR) + "/OstrixPi";
        const std::string out = dir_.path() + "/stdout.txt";
        const std::string dir = work();
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("OSTRIX_PLATFORM=", 0) != 0 && entry.rfind("OSTRIX_SYSROOT=", 0) != 0) {
                env.push_back(entry);
            }
        }
        if (withBoard) {
            env.push_back("OSTRIX_PLATFORM=sim");
            env.push_back("OSTRIX_SYSROOT=" + root());
        }
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> arguments{program};
        arguments.insert(arguments.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : arguments) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);

        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || chdir(dir.c_str()) != 0) {
                _exit(126);
            }
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        return pid;
    }

    // The exit status, or -1 when the program had to be killed.
    int finish(pid_t pid) {
        const auto limit = std::chrono::steady_clock::now() + kRunLimit;
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > limit) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run(const std::vector<std::string>& args, bool withBoard = true) {
        return finish(start(args, withBoard));
    }

    std::string output() const { return readFile(dir_.path() + "/stdout.txt"); }
    bool printed(const std::string& text) const { return output().find(text) != std::string::npos; }

    std::string log() const { return readFile(work() + "/log/QLM_logfile_0001.log"); }

    // Waits until the program has logged the text (or the run limit has passed). The log
    // file is written line by line; the console may be buffered.
    bool waitForLog(const std::string& text) {
        const auto limit = std::chrono::steady_clock::now() + kRunLimit;
        while (log().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return true;
    }

private:
    TempDir dir_;
};

const char* const kHelpBlock = " Initialises and/or controls the functions of the Ostrix system\n"
                               " useage: OstrixPi [option] [option] ...\n"
                               " options: -h/--help/-?              help\n";
const char* const kHelpEnd =
    "          -X                        Pi3 mode: turns off functions that will crash the standard Pi3\n\n";

TEST_F(OstrixPiProgramTest, HelpExitsWithZero) {
    EXPECT_EQ(run({"--help"}), 0);
    const std::string out = output();
    const size_t start = out.find(kHelpBlock);
    ASSERT_NE(start, std::string::npos) << out;
    // The help text is the program's last output.
    EXPECT_EQ(out.substr(out.size() - std::string(kHelpEnd).size()), kHelpEnd);
    EXPECT_TRUE(printed("QLM Initialise and User Controls v5.15\n"));
    EXPECT_FALSE(printed("Command Line checked"));
}

// Help needs no hardware: with no board chosen it is still printed, and nothing else is.
TEST_F(OstrixPiProgramTest, HelpWithoutABoardExitsWithZero) {
    for (const char* option : {"-h", "-?", "--help"}) {
        EXPECT_EQ(run({option}, false), 0) << option;
        EXPECT_EQ(output().find(kHelpBlock), 0u) << output();
        EXPECT_FALSE(printed("No board")) << option;
    }
    EXPECT_EQ(run({"-X", "--help"}, false), 0);
    EXPECT_EQ(output().find(kHelpBlock), 0u) << output();
    // Anything else still needs a board and says how to get one.
    EXPECT_EQ(run({"-X"}, false), 2);
    EXPECT_TRUE(printed("No board")) << output();
}

TEST_F(OstrixPiProgramTest, OptionErrorsExitWith255) {
    EXPECT_EQ(run({"-bogus"}), 255);
    EXPECT_TRUE(printed("MAIN: ERROR: Unrecognised Command Line parameter '-bogus'"));
    EXPECT_EQ(run({"-wz", "missing.zip"}), 255);
    EXPECT_TRUE(printed("Warp Zip file 'missing.zip' not found.\n"));
    EXPECT_EQ(run({"-clk"}), 255);
    EXPECT_TRUE(printed("MAIN: ERROR: Missing Clock Script filename"));
}

TEST_F(OstrixPiProgramTest, NoConfigurationFileExitsWith255) {
    EXPECT_EQ(run({}), 255);
    EXPECT_TRUE(printed("Command Line checked\n"));
    EXPECT_TRUE(printed("MAIN: ERROR: No Config File found"));
}

TEST_F(OstrixPiProgramTest, StartsWithTheDefaultConfigurationAfterAFailedConf) {
    writeFile(work() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
    EXPECT_EQ(run({"-conf", "absent.cfg", "-R"}), 0);
    EXPECT_TRUE(printed("MAIN: ERROR: Config file not found, reverting to default"));
    EXPECT_TRUE(printed("Reading Config File ostrix.cfg\n"));
    EXPECT_TRUE(printed("MAIN: at_wakeup complete\n"));
    EXPECT_TRUE(printed("Run Mode not selected\n"));
    EXPECT_TRUE(printed("Application terminated\n"));
    // The folders the controller works in, and the log in its folder.
    EXPECT_NE(log().find("Application terminated"), std::string::npos);
    EXPECT_EQ(access((work() + "/images").c_str(), W_OK), 0);
    EXPECT_EQ(access((root() + "/media/usb").c_str(), W_OK), 0);
}

TEST_F(OstrixPiProgramTest, TerminationSignalEndsTheLoopCleanly) {
    writeFile(work() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
    pid_t pid = start({});
    ASSERT_TRUE(waitForLog("Entering endless loop...\n")) << output();
    kill(pid, SIGTERM);
    EXPECT_EQ(finish(pid), 0);
    EXPECT_TRUE(printed("Application terminated\n"));
}

} // namespace
