// The camera board seen from outside the controller: OstrixPi runs on the simulated
// board with a stand-in GUI; a setting changed in the GUI reaches the camera board over
// its serial link, and the board comes back with its settings after being unplugged.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::OstrixPiProcess;
using testing_support::waitUntil;

constexpr uint32_t kGain = 0x2A;

class CameraEndToEndTest : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override { return kLiveCameraConfiguration; }
    void SetUp() override {
        EndToEndTest::SetUp();
        installColourCorrection();
    }
    bool linkListed() const {
        return std::filesystem::directory_iterator(root() + "/dev/serial/by-id") !=
               std::filesystem::directory_iterator();
    }
};

TEST_F(CameraEndToEndTest, CameraGainFromTheGuiReachesTheCameraBoard) {
    StandInGui gui;
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    // The board came up with the power manager's camera rail and answered at start-up.
    EXPECT_EQ(OstrixPiProcess::count(controller->log(), "CB: Port Opened OK.\n"), 1u);
    EXPECT_EQ(OstrixPiProcess::count(controller->log(), "CB: Camera Board Software v2.7\n"), 1u);
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAM_VERSION, 0x00020007));
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAMFPGA_VERSION, 12));
    EXPECT_EQ(camera().settings().shutterAngles[29], 1800u); // the default list at start-up

    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, kGain);
    ASSERT_TRUE(waitUntil([&] { return camera().settings().gain == kGain; }));
    EXPECT_TRUE(cameraReceived("CG 2A"));
    EXPECT_EQ(camera().lineSettings(), "115200 even");
    EXPECT_TRUE(controller->waitForLog("CB:setGain 42\n"));
    EXPECT_EQ(OstrixPiProcess::count(controller->log(), "CAMERA Gain Settings\n"), 2u); // collected, changed
    EXPECT_EQ(controller->stop(), 0);
    // The link went with the program that served it.
    EXPECT_FALSE(linkListed());
    EXPECT_FALSE(camera().linkUp());
}

TEST_F(CameraEndToEndTest, ARepluggedBoardGetsTheCurrentSettingsBack) {
    StandInGui gui([](int index) { return index == SETT_CAMERA_EXPOSURE_TIME ? int32_t{0x33} : int32_t{0}; });
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    ASSERT_EQ(camera().settings().exposureTime, 0x33u);

    sim::CommandResult unplugged = camera().command({"camera", "unplug"}).value();
    ASSERT_TRUE(unplugged.ok);
    ASSERT_TRUE(controller->waitForLog("CB: Camera Board removed\n"));
    EXPECT_EQ(camera().settings().exposureTime, 0u);
    camera().command({"camera", "plug"});
    ASSERT_TRUE(controller->waitForLog("CB:Camera Board new connection\n"));
    EXPECT_TRUE(waitUntil(
        [&] { return gui.hasReceived(uint32_t{tEV_MESSAGE} | MESS_PREPARING_CAMERA_BOARD, 15000); }));
    // The wake-up waits as long as the real board needs to boot (15 s) before it sends.
    ASSERT_TRUE(waitUntil([&] { return camera().settings().exposureTime == 0x33u; }));
    EXPECT_TRUE(waitUntil([&] { return gui.hasReceived(uint32_t{tEV_MESSAGE} | MESS_NONE, 0); }));
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
