// Loss of the HDMI input on the simulated board: OstrixPi runs with a stand-in GUI,
// ostrix-sim unplugs the camera's sources, and the controller tells the GUI, darkens the
// screens after the (short) signal-loss timeout and lights them again when the sources
// come back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/board/Board.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

extern char** environ;

namespace {

using testing_support::OstrixPiProcess;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kWaitLimit = std::chrono::seconds(30);
constexpr int kSignalLossSeconds = 1;
constexpr int kBrightness = 100;

template <typename Condition> bool waitFor(Condition condition) {
    const auto limit = std::chrono::steady_clock::now() + kWaitLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

class HdmiSignalLossTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        testing_support::writeFile(
            home() + "/ostrix.cfg",
            "[SYSTEM]\nmajorversion = 4\nsignallosstimeout = " + std::to_string(kSignalLossSeconds) +
                "\nscreenoffstandbytimeout = 30\n");
    }

    // Runs ostrix-sim on the board; its exit status, its output in `output`.
    int sim(std::vector<std::string> args, std::string* output = nullptr) const {
        args.insert(args.begin(), std::string(OSTRIX_BIN_DIR) + "/ostrix-sim");
        args.insert(args.begin() + 1, {"--root", root()});
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const std::string outPath = dir_.path() + "/sim-output.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (output) {
            *output = testing_support::readFile(outPath);
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The FPGA's backlight register of both channels, from the board's status.
    std::vector<int> backlights() const {
        std::string status;
        std::vector<int> levels;
        if (sim({"status"}, &status) != 0) {
            return levels;
        }
        const std::string key = "\"backlight\":";
        for (size_t at = status.find(key); at != std::string::npos; at = status.find(key, at + key.size())) {
            levels.push_back(std::stoi(status.substr(at + key.size())));
        }
        return levels;
    }

    static int32_t settingValue(int index) {
        switch (index) {
        case SETT_DISPLAY_BRIGHTNESS:
            return kBrightness;
        case SETT_STANDBY_ON_NO_SIGNAL:
            return 1;
        default:
            return 0;
        }
    }

private:
    testing_support::TempDir dir_;
};

TEST_F(HdmiSignalLossTest, ScreensGoDarkWithoutInputAndLightUpWhenItReturns) {
    StandInGui gui(settingValue);
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    // The sources restarted when the receivers' EDIDs were loaded: a 1080p input.
    ASSERT_TRUE(controller.waitForLog("MAIN: set 3D input mode 0\n")) << controller.log();
    ASSERT_TRUE(controller.waitForLog("MAIN: Unblank timer expired, unblanking screens\r\n"));

    for (size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(sim({"hdmi", "left", "off"}), 0);
        ASSERT_EQ(sim({"hdmi", "right", "off"}), 0);
        EXPECT_TRUE(controller.waitForLog("MAIN: Screen Blanking ON\n", round)) << controller.log();
        EXPECT_TRUE(waitFor([&] { return gui.hasReceived(tEV_MESSAGE | MESS_NO_INPUT_DETECTED, 1000); }));
        ASSERT_TRUE(controller.waitForLog("MAIN: turning off backlights\n", round)) << controller.log();
        EXPECT_TRUE(waitFor([&] { return backlights() == std::vector<int>{0, 0}; }));

        // Back before the standby time: the screens light up at the display brightness.
        ASSERT_EQ(sim({"hdmi", "left", "1920x1080@148.5"}), 0);
        ASSERT_EQ(sim({"hdmi", "right", "1920x1080@148.5"}), 0);
        EXPECT_TRUE(controller.waitForLog("5862 backlight on - inputDetected = 1\r\n", round))
            << controller.log();
        EXPECT_TRUE(waitFor([&] { return backlights() == std::vector<int>{255, 255}; }));
        EXPECT_TRUE(controller.waitForLog("MAIN: set 3D input mode 0\n", round + 1));
    }
    EXPECT_EQ(controller.stop(), 0);
}

TEST_F(HdmiSignalLossTest, AMonitorPluggedIntoAnOutputIsSwitchedOnAndItsEdidRead) {
    StandInGui gui(settingValue);
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    ASSERT_EQ(sim({"monitor", "left", "plug"}), 0);
    EXPECT_TRUE(controller.waitForLog("MAIN: new HDMI Tx connection in 2D mode, on loop"))
        << controller.log();
    EXPECT_TRUE(controller.waitForLog("HDMI Tx LEFT EDID Interrupt 04\n")) << controller.log();
    EXPECT_TRUE(controller.waitForLog("F: enableHDMITx new 1 was 0\n"));
    std::string status;
    ASSERT_EQ(sim({"status"}, &status), 0);
    EXPECT_NE(status.find("\"edid_bytes_read\":256"), std::string::npos) << status;
    ASSERT_EQ(sim({"monitor", "left", "unplug"}), 0);
    EXPECT_TRUE(controller.waitForLog("HDMI Tx LEFT Disconnected\n"));
    EXPECT_TRUE(controller.waitForLog("F: enableHDMITx new 0 was 1\n"));
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace
