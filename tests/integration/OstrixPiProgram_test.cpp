// The controller program as a service runs it: exit statuses, help text, start-up with
// and without configuration, and a clean stop on SIGTERM.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::OstrixPiProcess;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

// One run of OstrixPi on the simulated board, in its own working folder.
class OstrixPiProgramTest : public ::testing::Test {
protected:
    std::string work() const { return dir_.path() + "/work"; }
    std::string root() const { return dir_.path() + "/root"; }

    void SetUp() override {
        writeFile(work() + "/.keep", "");
        writeFile(root() + "/.keep", "");
    }

    std::unique_ptr<OstrixPiProcess> start(std::vector<std::string> args, bool withBoard = true) const {
        return std::make_unique<OstrixPiProcess>(OSTRIX_BIN_DIR "/OstrixPi", withBoard ? root() : "", work(),
                                                 std::move(args));
    }
    // The exit status, or -1 when the program had to be killed.
    int run(std::vector<std::string> args, bool withBoard = true) const {
        return start(std::move(args), withBoard)->wait();
    }

    std::string output() const { return readFile(work() + "/console.txt"); }
    bool printed(const std::string& text) const { return output().find(text) != std::string::npos; }
    std::string log() const { return readFile(work() + "/log/QLM_logfile_0001.log"); }

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
    auto program = start({});
    ASSERT_TRUE(program->waitForLog("Entering endless loop...\n")) << output();
    EXPECT_EQ(program->stop(), 0);
    EXPECT_TRUE(printed("Application terminated\n"));
}

// The overlay-store test of "-tspi" runs until it is stopped: a service stop must end it
// as it ends the loop.
TEST_F(OstrixPiProgramTest, TerminationSignalEndsTheOverlayStoreTest) {
    writeFile(work() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
    StandInGui gui; // answers the settings collection, after which the test starts
    auto program = start({"-tspi"});
    ASSERT_TRUE(program->waitForLog("M: AAAA\n")) << output();
    EXPECT_EQ(program->stop(std::chrono::seconds(20)), 0);
    EXPECT_TRUE(printed("Application terminated\n"));
}

} // namespace
