// Loss of the HDMI input on the simulated board: OstrixPi runs with a stand-in GUI,
// ostrix-sim unplugs the camera's sources, and the controller tells the GUI, darkens the
// screens after the (short) signal-loss timeout and lights them again when the sources
// come back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::waitUntil;

constexpr int kSignalLossSeconds = 1;
constexpr int kBrightness = 100;

class HdmiSignalLossTest : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override {
        return "[SYSTEM]\nmajorversion = 4\nsignallosstimeout = " + std::to_string(kSignalLossSeconds) +
               "\nscreenoffstandbytimeout = 30\n";
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
};

TEST_F(HdmiSignalLossTest, ScreensGoDarkWithoutInputAndLightUpWhenItReturns) {
    StandInGui gui(settingValue);
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    // The sources restarted when the receivers' EDIDs were loaded: a 1080p input.
    ASSERT_TRUE(controller->waitForLog("MAIN: set 3D input mode 0\n")) << controller->log();
    ASSERT_TRUE(controller->waitForLog("MAIN: Unblank timer expired, unblanking screens\r\n"));

    for (size_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(sim({"hdmi", "left", "off"}), 0);
        ASSERT_EQ(sim({"hdmi", "right", "off"}), 0);
        EXPECT_TRUE(controller->waitForLog("MAIN: Screen Blanking ON\n", round)) << controller->log();
        EXPECT_TRUE(waitUntil([&] { return gui.hasReceived(tEV_MESSAGE | MESS_NO_INPUT_DETECTED, 1000); }));
        ASSERT_TRUE(controller->waitForLog("MAIN: turning off backlights\n", round)) << controller->log();
        EXPECT_TRUE(waitUntil([&] { return backlights() == std::vector<int>{0, 0}; }));

        // Back before the standby time: the screens light up at the display brightness.
        ASSERT_EQ(sim({"hdmi", "left", "1920x1080@148.5"}), 0);
        ASSERT_EQ(sim({"hdmi", "right", "1920x1080@148.5"}), 0);
        EXPECT_TRUE(controller->waitForLog("5862 backlight on - inputDetected = 1\r\n", round))
            << controller->log();
        EXPECT_TRUE(waitUntil([&] { return backlights() == std::vector<int>{255, 255}; }));
        EXPECT_TRUE(controller->waitForLog("MAIN: set 3D input mode 0\n", round + 1));
    }
    EXPECT_EQ(controller->stop(), 0);
}

TEST_F(HdmiSignalLossTest, AMonitorPluggedIntoAnOutputIsSwitchedOnAndItsEdidRead) {
    StandInGui gui(settingValue);
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    ASSERT_EQ(sim({"monitor", "left", "plug"}), 0);
    EXPECT_TRUE(controller->waitForLog("MAIN: new HDMI Tx connection in 2D mode, on loop"))
        << controller->log();
    EXPECT_TRUE(controller->waitForLog("HDMI Tx LEFT EDID Interrupt 04\n")) << controller->log();
    EXPECT_TRUE(controller->waitForLog("F: enableHDMITx new 1 was 0\n"));
    std::string status;
    ASSERT_EQ(sim({"status"}, &status), 0);
    EXPECT_NE(status.find("\"edid_bytes_read\":256"), std::string::npos) << status;
    ASSERT_EQ(sim({"monitor", "left", "unplug"}), 0);
    EXPECT_TRUE(controller->waitForLog("HDMI Tx LEFT Disconnected\n"));
    EXPECT_TRUE(controller->waitForLog("F: enableHDMITx new 0 was 1\n"));
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
