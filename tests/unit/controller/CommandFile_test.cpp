// The command file read by the main loop: the message each word makes, what is logged,
// and when the file is deleted.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/channel.h"
#include "controller/core/CommandFile.h"
#include "controller/core/configuration.h"
#include "controller/core/power.h"
#include "tests/unit/controller/MainLoopFixture.h"

namespace {

namespace fs = std::filesystem;
using loop_testing::MainLoopTest;

class CommandFileTest : public MainLoopTest {
protected:
    void SetUp() override {
        MainLoopTest::SetUp();
        reset_power_state();
    }
    void TearDown() override {
        reset_power_state();
        MainLoopTest::TearDown();
    }
    std::string path() const { return home() + "/command"; }
    void writeCommand(const std::string& text) const { testing_support::writeFile(path(), text); }
    std::string shellLog() const {
        return testing_support::readFile(root() + "/var/log/ostrix-sim/shell.log");
    }
};

struct WordCase {
    const char* text;
    uint32_t command;
    uint32_t data;
    const char* logLine;
};

class CommandWordTest : public CommandFileTest, public ::testing::WithParamInterface<WordCase> {};

TEST_P(CommandWordTest, WordMakesItsMessageAndTheFileGoes) {
    const WordCase wc = GetParam();
    writeCommand(wc.text);
    check_command_file();
    EXPECT_EQ(loop_state.typed_command, wc.command != 0);
    if (wc.command != 0) {
        EXPECT_EQ(loop_state.typed_message.command, wc.command);
        EXPECT_EQ(loop_state.typed_message.data, wc.data);
    }
    EXPECT_EQ(logged(wc.logLine), 1u) << newLog();
    EXPECT_FALSE(fs::exists(path()));
    EXPECT_FALSE(fs::exists(path() + ".taken"));
    EXPECT_NE(shellLog().find("sudo rm " + path() + ".taken\n"), std::string::npos) << shellLog();
}

INSTANTIATE_TEST_SUITE_P(
    Words, CommandWordTest,
    ::testing::Values(WordCase{"standby\n", 0xD2000000, 0, "MAIN: Command : 'standby'\n"},
                      WordCase{"wakeup", 0xD1000000, 0, "MAIN: Command : 'wakeup'\n"},
                      WordCase{"update\n", 0xF0000000, 0, "MAIN: Command : 'update'\n"},
                      WordCase{"  capture\r\n", 0x01000013, 0, "MAIN: Command : 'capture'\n"},
                      WordCase{"display 3\n", 0xA000004A, 3, "MAIN: Command : 'display'\n"},
                      WordCase{"display\n0", 0xA000004A, 0, "MAIN: Command : 'display'\n"},
                      WordCase{"update capture\n", 0xF0000000, 0, "MAIN: Command : 'update'\n"},
                      WordCase{"reboot\n", 0, 0, "MAIN: unrecognised command\n"},
                      WordCase{"Standby\n", 0, 0, "MAIN: unrecognised command\n"},
                      WordCase{"standbystandbystandby\n", 0, 0, "MAIN: unrecognised command\n"},
                      WordCase{"display three\n", 0, 0, "MAIN: ERROR: display needs an image number"},
                      WordCase{"display -1\n", 0, 0, "MAIN: ERROR: display needs an image number"},
                      WordCase{"display 4294967299\n", 0, 0, "MAIN: ERROR: display needs an image number"},
                      WordCase{"st\x1b[2Jop\n", 0, 0, "MAIN: Command : 'st?[2Jop'\n"}));

// The stored-image display itself belongs to the image source setting's handler.
TEST_F(CommandFileTest, DisplayReachesTheImageSourceSetting) {
    writeCommand("display 3\n");
    main_loop_pass();
    main_loop_pass();
    EXPECT_EQ(shadow_settings[SETT_IMAGE_SOURCE], 3);
    EXPECT_EQ(logged("MAIN: Set Image Source 3\n"), 1u);
}

TEST_F(CommandFileTest, AnEmptyFileStaysAndIsLookedAtAgain) {
    writeCommand(" \n\t");
    main_loop_pass();
    main_loop_pass();
    EXPECT_TRUE(fs::exists(path()));
    EXPECT_EQ(logged("MAIN: Command"), 0u);
    EXPECT_FALSE(loop_state.typed_command);
    writeCommand(" \nsplashoff");
    main_loop_pass();
    EXPECT_EQ(logged("MAIN: Command : 'splashoff'\n"), 1u);
    EXPECT_FALSE(fs::exists(path()));
}

TEST_F(CommandFileTest, AFolderOfThatNameIsNotACommand) {
    fs::create_directory(path());
    main_loop_pass();
    EXPECT_TRUE(fs::is_directory(path()));
    EXPECT_FALSE(loop_state.typed_command);
}

TEST_F(CommandFileTest, SplashWordsActAtOnceOnBothBridges) {
    splashImageFile[LEFT] = "left.bmp";
    splashImageFile[RIGHT] = "right.bmp";
    std::vector<std::string> shown;
    power_hooks.bridge_splash = [&](int c, const std::string& image) { shown.push_back(image); };
    writeCommand("splashon\n");
    check_command_file();
    EXPECT_FALSE(loop_state.typed_command);
    writeCommand("splashoff\n");
    check_command_file();
    EXPECT_EQ(shown, (std::vector<std::string>{"left.bmp", "right.bmp", "", ""}));
}

// "splashon" takes about a second on the board: a word written meanwhile lands in a new
// file and is acted on, not deleted unread with the old one.
TEST_F(CommandFileTest, AWordWrittenWhileSplashOnRunsIsActedOn) {
    int shown = 0;
    power_hooks.bridge_splash = [&](int, const std::string&) {
        if (shown++ == 0) {
            writeCommand("standby\n");
        }
    };
    writeCommand("splashon\n");
    check_command_file();
    EXPECT_EQ(logged("MAIN: Command : 'splashon'\n"), 1u);
    ASSERT_TRUE(fs::exists(path()));
    EXPECT_EQ(testing_support::readFile(path()), "standby\n");

    main_loop_pass(); // reads the new file
    main_loop_pass(); // handles its message
    EXPECT_EQ(logged("MAIN: Command : 'standby'\n"), 1u);
    EXPECT_EQ(execute_mode.standby, 1u);
    EXPECT_FALSE(fs::exists(path()));
}

TEST_F(CommandFileTest, UpdateOutsideStandbyDoesNothing) {
    writeCommand("update\n");
    main_loop_pass(); // reads the file
    main_loop_pass(); // handles the message
    EXPECT_EQ(logged("MAIN: got message f0000000:00000000\n"), 1u);
    EXPECT_EQ(logged("MAIN: SYSTEM UPDATE COMMAND\n"), 0u);
    EXPECT_EQ(logged("Waking Up\n"), 0u);
    EXPECT_EQ(execute_mode.standby, 0u);
}

// Words go through the same filters as the power key: a wake-up right after entering
// standby is ignored.
TEST_F(CommandFileTest, StandbyThenWakeupWithinTheGuardIsIgnored) {
    writeCommand("standby\n");
    main_loop_pass();
    main_loop_pass();
    EXPECT_EQ(execute_mode.standby, 1u);
    EXPECT_EQ(logged("MAIN: Going to Sleep\n"), 1u);
    writeCommand("wakeup\n");
    main_loop_pass();
    main_loop_pass();
    EXPECT_EQ(execute_mode.standby, 1u);
    EXPECT_EQ(logged("MAIN: Message ignored during Standby Timeout period\n"), 1u);
}

} // namespace
