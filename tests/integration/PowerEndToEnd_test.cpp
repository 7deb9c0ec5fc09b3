// Standby and wake-up of the running controller, driven through the command file as a
// service script would: the GUI is told to close, the board reports standby, a wake-up
// inside the 5 s guard is ignored and a later one brings the board back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "common/messages.h"
#include "sim/board/Board.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::OstrixPiProcess;

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr auto kWaitLimit = std::chrono::seconds(60);

class PowerEndToEndTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }
    std::string commandFile() const { return home() + "/command"; }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        testing_support::writeFile(home() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
    }

    // The one-word power state ostrix-sim reports.
    std::string powerState() const {
        const std::string command = std::string(OSTRIX_BIN_DIR) + "/ostrix-sim --root '" + root() + "' power";
        std::string text;
        if (FILE* out = popen(command.c_str(), "r")) {
            char buffer[256];
            while (fgets(buffer, sizeof buffer, out)) {
                text += buffer;
            }
            pclose(out);
        }
        const std::string key = "\"state\":\"";
        const size_t at = text.find(key);
        return at == std::string::npos
                   ? text
                   : text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
    }

    // Writes the word and waits until the controller has taken the file.
    bool command(const std::string& word) const {
        testing_support::writeFile(commandFile(), word + "\n");
        const auto limit = std::chrono::steady_clock::now() + kWaitLimit;
        while (std::filesystem::exists(commandFile())) {
            if (std::chrono::steady_clock::now() > limit) {
                return false;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        return true;
    }

private:
    testing_support::TempDir dir_;
};

TEST_F(PowerEndToEndTest, StandbyAndWakeUpThroughTheCommandFile) {
    StandInGui gui;
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    EXPECT_EQ(powerState(), "operating");

    ASSERT_TRUE(command("standby"));
    ASSERT_TRUE(controller.waitForLog("MAIN: Going to Sleep\n")) << controller.log();
    EXPECT_TRUE(controller.waitForLog("MAIN: Command : 'standby'\n"));
    const auto gotExit = [&] {
        for (const message_s& msg : gui.received()) {
            if (msg.command == tEV_EXIT) {
                return true;
            }
        }
        return false;
    };
    const auto limit = std::chrono::steady_clock::now() + kWaitLimit;
    while (!gotExit() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(kPollInterval);
    }
    EXPECT_TRUE(gotExit());
    // The GUI hears first; the displays, lights and camera follow.
    const auto standbyLimit = std::chrono::steady_clock::now() + kWaitLimit;
    while (powerState() != "standby" && std::chrono::steady_clock::now() < standbyLimit) {
        std::this_thread::sleep_for(kPollInterval);
    }
    EXPECT_EQ(powerState(), "standby");

    // At once: inside the guard. Then again until the guard has run out.
    ASSERT_TRUE(command("wakeup"));
    EXPECT_TRUE(controller.waitForLog("MAIN: Message ignored during Standby Timeout period\n"));
    const auto wakeLimit = std::chrono::steady_clock::now() + kWaitLimit;
    while (controller.log().find("Waking Up\n") == std::string::npos &&
           std::chrono::steady_clock::now() < wakeLimit) {
        ASSERT_TRUE(command("wakeup"));
        std::this_thread::sleep_for(kPollInterval);
    }
    ASSERT_TRUE(controller.waitForLog("MAIN: POWER ON COMMAND\n")) << controller.log();
    EXPECT_TRUE(controller.waitForLog("MAIN: send Image Format", 2)) << controller.log();
    EXPECT_EQ(powerState(), "operating");
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace
