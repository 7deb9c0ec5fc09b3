// User input from outside the controller: OstrixPi runs on the simulated board with a
// stand-in GUI, and ostrix-sim presses front-panel buttons and plugs a keypad in and out.
#include <gtest/gtest.h>

#include "common/messages.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::waitUntil;
using FrontPanelEndToEndTest = testing_support::EndToEndTest;

TEST_F(FrontPanelEndToEndTest, AButtonPressReachesTheGuiAndTheControllersDispatch) {
    StandInGui gui;
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    // Held until the controller has polled it down: on a loaded machine two ostrix-sim runs
    // back to back can press and release between two of its polls, as no hand can.
    ASSERT_EQ(sim({"button", "BTN2", "press"}), 0);
    EXPECT_TRUE(controller->waitForLog("UC: sent msg from Buttons to GUI 01000002:00000000\n"));
    ASSERT_EQ(sim({"button", "BTN2", "release"}), 0);
    EXPECT_TRUE(waitUntil([&] { return gui.hasReceived(tEV_KEY | UKEY_UP, 0); }));
    EXPECT_TRUE(controller->waitForLog("MAIN: got message 01000002:00000000\n"));

    // Held for more than a second, the power button powers off.
    ASSERT_EQ(sim({"button", "POWER", "press"}), 0);
    EXPECT_TRUE(controller->waitForLog("MAIN: POWER OFF COMMAND\n"));
    ASSERT_EQ(sim({"button", "POWER", "release"}), 0);
    EXPECT_EQ(controller->stop(), 0);
}

TEST_F(FrontPanelEndToEndTest, AKeypadPluggedInTypedOnAndUnpluggedAgain) {
    StandInGui gui;
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    const uint32_t connected = tEV_MESSAGE | MESS_KEYPAD_CONNECTED;
    const uint32_t disconnected = tEV_MESSAGE | MESS_KEYPAD_DISCONNECTED;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(sim({"keypad", "plug"}), 0);
        ASSERT_TRUE(controller->waitForLog("UC: Keypad/Kbd Connected\n", round + 1)) << controller->log();
        ASSERT_EQ(sim({"key", "KEY_T"}), 0);
        EXPECT_TRUE(
            controller->waitForLog("UC: sent msg from Keypad/kbd to GUI 0100002a:00000000\n", round + 1));
        ASSERT_EQ(sim({"keypad", "unplug"}), 0);
        EXPECT_TRUE(controller->waitForLog("UC: Keypad/Kbd Disconnected\n", round + 1));
    }
    EXPECT_TRUE(waitUntil([&] { return gui.hasReceived(tEV_KEY | UKEY_GAIN_UP, 0); }));
    EXPECT_TRUE(gui.hasReceived(connected, 3000));
    EXPECT_TRUE(gui.hasReceived(disconnected, 3000));
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
