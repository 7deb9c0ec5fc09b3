// User input from outside the controller: OstrixPi runs on the simulated board with a
// stand-in GUI, and ostrix-sim presses front-panel buttons and plugs a keypad in and out.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

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

class FrontPanelEndToEndTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        testing_support::writeFile(home() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
    }

    // Runs ostrix-sim on the board; its exit status.
    int sim(std::vector<std::string> args) const {
        args.insert(args.begin(), std::string(OSTRIX_BIN_DIR) + "/ostrix-sim");
        args.insert(args.begin() + 1, {"--root", root()});
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    bool press(const std::string& button) {
        return sim({"button", button, "press"}) == 0 && sim({"button", button, "release"}) == 0;
    }

private:
    testing_support::TempDir dir_;
};

TEST_F(FrontPanelEndToEndTest, AButtonPressReachesTheGuiAndTheControllersDispatch) {
    StandInGui gui;
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    ASSERT_TRUE(press("BTN2"));
    EXPECT_TRUE(waitFor([&] { return gui.hasReceived(tEV_KEY | UKEY_UP, 0); }));
    EXPECT_TRUE(controller.waitForLog("UC: sent msg from Buttons to GUI 01000002:00000000\n"));
    EXPECT_TRUE(controller.waitForLog("MAIN: got message 01000002:00000000\n"));

    // Held for more than a second, the power button powers off.
    ASSERT_EQ(sim({"button", "POWER", "press"}), 0);
    EXPECT_TRUE(controller.waitForLog("MAIN: POWER OFF COMMAND\n"));
    ASSERT_EQ(sim({"button", "POWER", "release"}), 0);
    EXPECT_EQ(controller.stop(), 0);
}

TEST_F(FrontPanelEndToEndTest, AKeypadPluggedInTypedOnAndUnpluggedAgain) {
    StandInGui gui;
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    const uint32_t connected = tEV_MESSAGE | MESS_KEYPAD_CONNECTED;
    const uint32_t disconnected = tEV_MESSAGE | MESS_KEYPAD_DISCONNECTED;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(sim({"keypad", "plug"}), 0);
        ASSERT_TRUE(controller.waitForLog("UC: Keypad/Kbd Connected\n", round + 1)) << controller.log();
        ASSERT_EQ(sim({"key", "KEY_T"}), 0);
        EXPECT_TRUE(
            controller.waitForLog("UC: sent msg from Keypad/kbd to GUI 0100002a:00000000\n", round + 1));
        ASSERT_EQ(sim({"keypad", "unplug"}), 0);
        EXPECT_TRUE(controller.waitForLog("UC: Keypad/Kbd Disconnected\n", round + 1));
    }
    EXPECT_TRUE(waitFor([&] { return gui.hasReceived(tEV_KEY | UKEY_GAIN_UP, 0); }));
    EXPECT_TRUE(gui.hasReceived(connected, 3000));
    EXPECT_TRUE(gui.hasReceived(disconnected, 3000));
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace
