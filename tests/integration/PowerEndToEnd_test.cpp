// Standby and wake-up of the running controller, driven through the command file as a
// service script would: the GUI is told to close, the board reports standby, a wake-up
// inside the 5 s guard is ignored and a later one brings the board back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/messages.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::waitUntil;

class PowerEndToEndTest : public testing_support::EndToEndTest {
protected:
    std::string commandFile() const { return home() + "/command"; }

    // The one-word power state ostrix-sim reports.
    std::string powerState() const {
        std::string text;
        sim({"power"}, &text);
        const std::string key = "\"state\":\"";
        const size_t at = text.find(key);
        return at == std::string::npos
                   ? text
                   : text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
    }

    // Writes the word and waits until the controller has taken the file.
    bool command(const std::string& word) const {
        testing_support::writeFile(commandFile(), word + "\n");
        return waitUntil([&] { return !std::filesystem::exists(commandFile()); });
    }
};

TEST_F(PowerEndToEndTest, StandbyAndWakeUpThroughTheCommandFile) {
    StandInGui gui;
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    EXPECT_EQ(powerState(), "operating");

    ASSERT_TRUE(command("standby"));
    ASSERT_TRUE(controller->waitForLog("MAIN: Going to Sleep\n")) << controller->log();
    EXPECT_TRUE(controller->waitForLog("MAIN: Command : 'standby'\n"));
    const auto gotExit = [&] {
        for (const message_s& msg : gui.received()) {
            if (msg.command == tEV_EXIT) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(waitUntil(gotExit));
    // The GUI hears first; the displays, lights and camera follow.
    EXPECT_TRUE(waitUntil([&] { return powerState() == "standby"; })) << powerState();

    // At once: inside the guard. Then again until the guard has run out.
    ASSERT_TRUE(command("wakeup"));
    EXPECT_TRUE(controller->waitForLog("MAIN: Message ignored during Standby Timeout period\n"));
    const auto wakeLimit = std::chrono::steady_clock::now() + testing_support::kEndToEndLimit;
    while (!testing_support::contains(controller->log(), "Waking Up\n") &&
           std::chrono::steady_clock::now() < wakeLimit) {
        ASSERT_TRUE(command("wakeup"));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(controller->waitForLog("MAIN: POWER ON COMMAND\n")) << controller->log();
    EXPECT_TRUE(controller->waitForLog("MAIN: send Image Format", 2)) << controller->log();
    EXPECT_EQ(powerState(), "operating");
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
