// The controller program with a stand-in GUI on the real UDP ports: the GUI starts after
// the controller, announces itself, and the controller collects every setting and then
// acts on changes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/SettingsIndex.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/controller/MainLoopFixture.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::OstrixPiProcess;

class ControllerGuiTest : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override { return "[SYSTEM]\nmajorversion = 4\nminorversion = 2\n"; }
};

TEST_F(ControllerGuiTest, LateGuiGetsEverySettingAskedForThenChangesAreApplied) {
    auto controller = startController();
    ASSERT_TRUE(controller->waitForLog("UC: Sent Message from MAIN to GUI e0000002:00000000\n"))
        << controller->console();

    // Requests sent before the GUI runs are lost; its start-up message restarts them.
    StandInGui gui([](int index) { return index == SETT_CAMERA_GAIN ? 40 : 0; });
    gui.send(tEV_PRESETLOADED);
    ASSERT_TRUE(settingsCollected(*controller));
    EXPECT_EQ(OstrixPiProcess::count(controller->log(),
                                     "MAIN: Factory reset applied. Requesting all settings...\n"),
              1u);
    ASSERT_TRUE(gui.waitForRequests(loop_testing::expected_collection().size()));
    EXPECT_EQ(gui.requests(), loop_testing::expected_collection());
    // The answers come after the requests: the last ones complete the start-up.
    ASSERT_TRUE(controller->waitForLog("Settings initialisation complete\n"));
    EXPECT_EQ(OstrixPiProcess::count(controller->log(), "Settings initialisation complete\n"), 1u);

    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, 40); // unchanged: nothing to do
    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, 41);
    ASSERT_TRUE(controller->waitForLog("MAIN: got message a0000035:00000029\n"));
    EXPECT_EQ(OstrixPiProcess::count(controller->log(), "CAMERA Gain Settings\n"), 2u);

    EXPECT_EQ(controller->stop(), 0);
    EXPECT_EQ(OstrixPiProcess::count(controller->log(), "Application terminated\n"), 1u);
    // Messages the controller queued before the GUI listened were lost; the image format
    // at the end of the collection arrived.
    EXPECT_TRUE(gui.hasReceived(tEV_IMAGEFORMAT, 1));
}

TEST_F(ControllerGuiTest, VersionsReachAGuiThatIsAlreadyRunning) {
    StandInGui gui;
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    EXPECT_TRUE(gui.hasReceived(tEV_VERSIONINFO | APP_VERSION, 0x0005000F));
    EXPECT_TRUE(gui.hasReceived(tEV_VERSIONINFO | SYSTEM_VERSION, 0x00040002));
    ASSERT_TRUE(gui.waitForRequests(loop_testing::expected_collection().size()));
    EXPECT_EQ(gui.requests(), loop_testing::expected_collection());
    ASSERT_TRUE(gui.waitFor(tEV_IMAGEFORMAT, 1));
    EXPECT_EQ(controller->stop(), 0);

    // The start-up ends with the image format right after the last request, its parameter
    // bits clear: the GUI reads the format from the data word alone.
    const std::vector<std::vector<uint8_t>> datagrams = gui.datagrams();
    size_t lastRequest = 0;
    for (size_t i = 0; i < datagrams.size(); ++i) {
        if (!datagrams[i].empty() && datagrams[i][0] == (tEV_REQUEST >> 24)) {
            lastRequest = i;
        }
    }
    ASSERT_LT(lastRequest + 1, datagrams.size());
    EXPECT_EQ(datagrams[lastRequest + 1], (std::vector<uint8_t>{0x80, 0, 0, 0, 0, 0, 0, 1}));
}

} // namespace
