// The main loop against a stand-in GUI on the real UDP ports: the settings collection,
// the change rule afterwards, and the handling of message bursts. (Here rather than with
// the link tests, which link the GUI's code too.)
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <sstream>

#include "controller/core/configuration.h"
#include "controller/core/power.h"
#include "tests/unit/controller/MainLoopFixture.h"
#include "tests/unit/link/StandInGui.h"

namespace {

// An idle pass sleeps 10 ms, so this bounds a wait at about a minute.
constexpr int kMaxPasses = 6000;
constexpr int kUserControlsWorkerPort = 1531;

class MainLoopGuiTest : public loop_testing::MainLoopTest {
protected:
    void startFrontPanel(bool withWorker = true) {
        user_controls = std::make_unique<UserControls>();
        if (withWorker) {
            user_controls->run_user_controls(kUserControlsWorkerPort);
        }
    }

    // Runs loop passes until done() holds; false when it never did.
    template <typename Done> bool runUntil(Done done) {
        for (int pass = 0; pass < kMaxPasses; ++pass) {
            if (done()) {
                return true;
            }
            main_loop_pass();
        }
        return done();
    }

    bool runUntilLogged(const std::string& text) {
        return runUntil([&] { return logged(text) > 0; });
    }

    // The last request goes out before its answer comes back: the collection is over once
    // that answer has been handled too.
    static bool collected() {
        return loop_state.settings_collection_index > LAST_SETTING_INDEX && execute_mode.init_complete;
    }

    bool collect() {
        start_settings_collection();
        return runUntil(collected);
    }

    // The main thread's log lines, without the front-panel worker's (which interleave).
    std::string mainThreadLog() const {
        std::istringstream in(logText());
        std::string line;
        std::string out;
        while (std::getline(in, line)) {
            if (line.rfind("UC: ", 0) != 0 && line.rfind("CC: ", 0) != 0) {
                out += line + "\n";
            }
        }
        return out;
    }
};

// What each collected setting's handler logs for the value 0 (84..86 drive the camera only,
// 75 only sets a flag).
struct HandlerLine {
    int index;
    const char* text;
};
const HandlerLine kHandlerLines[] = {
    {2, "MAIN: Set Lens Power 0\n"},
    {5, "MAIN: Digital Zoom 0\n"},
    {9, "Sound Muting\nSound Mute OFF\n"},
    {10, "MAIN: Crosshair Size\n"},
    {11, "MAIN: Crosshair Colour 0\n"},
    {12, "GUI Menu Position 0\n"},
    {19, "GUI Transparency 0\n"},
    {50, "DISPLAY Brightness Settings\n"},
    {51, "DISPLAY Contrast Settings\n"},
    {52, "DISPLAY Sharpness Settings\n"},
    {53, "CAMERA Gain Settings\n"},
    {54, "CAMERA Exposure Time Settings\n"},
    {55, "CAMERA Black Level Settings\n"},
    {56, "CAMERA Sharpness Settings\n"},
    {57, "CAMERA Contrast Settings\nCAMERA Contrast Settings completed\n"},
    {59, "QUADRANT Control Settings\n"},
    {60, "SUBSTAGE Brightness Change\n"},
    {61, "AUX Brightness Change\n"},
    {62, "QUADRANT Control Settings\n"},
    {63, "QUADRANT Control Settings\n"},
    {64, "QUADRANT Control Settings\n"},
    {65, "QUADRANT Control Settings\n"},
    {66, "SPEAKER Volume Settings\n"},
    {67, "HEADSET Volume Settings\n"},
    {68, "IMAGE SAVE OPTION\n"},
    {69, "PRESET 1 SHORT option 0\n"},
    {70, "PRESET 2 SHORT option 0\n"},
    {71, "PRESET 3 SHORT option 0\n"},
    {72, "Horizontal Mirror 0\n"},
    {73, "Vertical Mirror 0\n"},
    {74, "MAIN: Set Image Source 0\n"},
    {76, "MAIN: AWB Red Lo\n"},
    {77, "MAIN: AWB Red Hi\n"},
    {78, "MAIN: AWB Green Lo\n"},
    {79, "MAIN: AWB Green Hi\n"},
    {80, "MAIN: AWB Blue Lo\n"},
    {81, "MAIN: AWB Blue Hi\n"},
    {82, "MAIN: AWB Valid\n"},
    {83, "MAIN: 3D Output Mode\n"},
    {87, "MAIN: Camera Chrom Correct 0\n"},
    {88, "MAIN: SHUTTER Autobrightness 0\n"},
    {89, "MAIN: SHUTTER Position 0\n"},
    {90, "MAIN: 3D Input Mode -> 0\n"},
    {91, "MAIN: Colour Correction Profile\n"},
    {93, "MAIN: HDR Ratio 0\n"},
    {94, "MAIN: HDR Exposure 0\n"},
    {95, "MAIN: HDR Mode 0\n"},
    {96, "PRESET 1 option 0\n"},
    {97, "PRESET 2 option 0\n"},
    {98, "PRESET 3 option 0\n"},
};

std::string gotMessage(uint32_t command, uint32_t data) {
    char text[64];
    snprintf(text, sizeof(text), "MAIN: got message %08x:%08x\n", command, data);
    return text;
}

TEST_F(MainLoopGuiTest, CollectionAsksForEverySettingOnceAndRunsEveryHandler) {
    StandInGui gui; // answers every request with 0, the value already stored
    startFrontPanel();
    ASSERT_TRUE(collect());

    ASSERT_TRUE(gui.waitForRequests(loop_testing::expected_collection().size()));
    EXPECT_EQ(gui.requests(), loop_testing::expected_collection());
    EXPECT_EQ(logged("Settings initialisation complete\n"), 1u);
    EXPECT_EQ(logged("MAIN: GUI settings collected\n"), 1u);
    EXPECT_EQ(logged("MAIN: send Image Format 1\n"), 1u);
    EXPECT_TRUE(execute_mode.init_complete);

    const std::string log = mainThreadLog();
    for (const HandlerLine& line : kHandlerLines) {
        const std::string expected = gotMessage(tEV_UPDATE | line.index, 0) + line.text;
        EXPECT_NE(log.find(expected), std::string::npos) << "no handler run for setting " << line.index;
    }
    EXPECT_EQ(execute_mode.standby_on_no_signal, 0u); // setting 75's handler ran
    EXPECT_EQ(log.find("Unimplemented Setting"), std::string::npos);

    // The finish enables the front panel and tells the GUI the image format.
    EXPECT_TRUE(execute_mode.controlsEnabled);
    EXPECT_TRUE(user_controls->controlsEnabled());
    EXPECT_FALSE(user_controls->pollingDisabled());
    EXPECT_EQ(user_controls->ledColourCode(), 2);
    EXPECT_TRUE(runUntil([&] { return gui.hasReceived(tEV_IMAGEFORMAT, 1); }));
}

TEST_F(MainLoopGuiTest, AfterStartUpARepeatedValueRunsNothingButWhiteBalance) {
    StandInGui gui;
    startFrontPanel();
    ASSERT_TRUE(collect());
    EXPECT_EQ(logged("CAMERA Gain Settings\n"), 1u);

    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, 0);
    gui.send(tEV_ACTION_BEEP | SETT_CAMERA_WHITE_BALANCE, 0);
    gui.send(tEV_ACTION_BEEP | SETT_CAMERA_WHITE_BALANCE, 0);
    gui.send(tEV_UPDATE | SETT_UI_CROSSHAIRCOLOUR, 0);
    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, 9);
    ASSERT_TRUE(runUntilLogged(gotMessage(tEV_ACTION | SETT_CAMERA_GAIN, 9)));

    EXPECT_EQ(logged(gotMessage(tEV_ACTION | SETT_CAMERA_GAIN, 0)), 1u);
    EXPECT_EQ(logged("CAMERA Gain Settings\n"), 2u); // the collection's and the change to 9
    EXPECT_EQ(logged("CAMERA White Balance Settings\n"), 2u);
    EXPECT_EQ(logged("MAIN: Crosshair Colour 0\n"), 1u);
    EXPECT_EQ(shadow_settings[SETT_CAMERA_GAIN], 9);
}

TEST_F(MainLoopGuiTest, PresetLoadedRestartsTheCollection) {
    StandInGui gui;
    startFrontPanel();
    ASSERT_TRUE(collect());

    gui.send(tEV_PRESETLOADED | 2);
    ASSERT_TRUE(runUntilLogged("MAIN: Preset number 2 applied. Requesting all settings...\n"));
    ASSERT_TRUE(runUntil([&] { return logged("MAIN: GUI settings collected\n") == 2; }));

    std::vector<int> twice = loop_testing::expected_collection();
    const std::vector<int> once = loop_testing::expected_collection();
    twice.insert(twice.end(), once.begin(), once.end());
    ASSERT_TRUE(gui.waitForRequests(twice.size()));
    EXPECT_EQ(gui.requests(), twice);
    // The values did not change, so no handler ran a second time.
    EXPECT_EQ(logged("CAMERA Gain Settings\n"), 1u);
    EXPECT_EQ(logged("Settings initialisation complete\n"), 1u);
}

// The GUI's unit restarts it while the microscope sleeps: its announcement (preset 0) must
// not light the front panel, pass keys on or reach the unpowered camera; its settings are
// collected once the system wakes.
TEST_F(MainLoopGuiTest, AGuiRestartInStandbyIsCollectedAtTheWakeUp) {
    StandInGui gui;
    startFrontPanel();
    ASSERT_TRUE(collect());
    const size_t oneCollection = loop_testing::expected_collection().size();
    ASSERT_TRUE(gui.waitForRequests(oneCollection));
    shut_down();
    delete_timeout(&loop_timers.standbyGuard); // the guard has run out
    markLog();

    gui.send(tEV_PRESETLOADED | 0);
    ASSERT_TRUE(runUntilLogged(gotMessage(tEV_PRESETLOADED, 0)));
    for (int pass = 0; pass < 50; ++pass) {
        main_loop_pass();
    }
    EXPECT_EQ(user_controls->ledColourCode(), LED_COLOUR_STANDBY);
    EXPECT_FALSE(user_controls->controlsEnabled());
    EXPECT_FALSE(execute_mode.controlsEnabled);
    EXPECT_EQ(gui.requests().size(), oneCollection);
    EXPECT_EQ(loggedSinceMark("MAIN: GUI settings collected\n"), 0u);
    EXPECT_EQ(loggedSinceMark("forceWhiteBalanceSettings"), 0u);
    EXPECT_EQ(execute_mode.standby, 1u);

    gui.send(tEV_POWER_ON);
    ASSERT_TRUE(runUntil([&] { return logged("MAIN: GUI settings collected\n") == 2; }));
    ASSERT_TRUE(gui.waitForRequests(2 * oneCollection));
    EXPECT_EQ(user_controls->ledColourCode(), LED_COLOUR_OPERATING);
    EXPECT_TRUE(user_controls->controlsEnabled());
}

// Standby cuts a collection short (its answers are not acted on there): it starts again at
// the wake-up instead of waiting for an answer that never comes.
TEST_F(MainLoopGuiTest, ACollectionCutShortByStandbyRunsAtTheWakeUp) {
    StandInGui gui;
    startFrontPanel();
    start_settings_collection();
    shut_down();
    delete_timeout(&loop_timers.standbyGuard);
    for (int pass = 0; pass < 50; ++pass) {
        main_loop_pass();
    }
    EXPECT_EQ(gui.requests().size(), 1u);
    EXPECT_EQ(user_controls->ledColourCode(), LED_COLOUR_STANDBY);

    gui.send(tEV_POWER_ON);
    ASSERT_TRUE(runUntil(collected));
    EXPECT_EQ(user_controls->ledColourCode(), LED_COLOUR_OPERATING);
}

TEST_F(MainLoopGuiTest, CollectionWaitsWhileTheGuiIsAway) {
    startFrontPanel();
    start_settings_collection(); // the request for 2 is lost: nobody listens
    for (int pass = 0; pass < 20; ++pass) {
        main_loop_pass();
    }
    EXPECT_EQ(loop_state.settings_collection_index, 3);
    EXPECT_EQ(logged("MAIN: Sent setting request to GUI"), 1u);

    // The GUI announces itself on start-up and the collection starts again.
    StandInGui gui;
    gui.send(tEV_PRESETLOADED);
    ASSERT_TRUE(runUntil(collected));
    ASSERT_TRUE(gui.waitForRequests(loop_testing::expected_collection().size()));
    EXPECT_EQ(gui.requests(), loop_testing::expected_collection());
}

TEST_F(MainLoopGuiTest, ABurstIsHandledOnePassPerMessageWithoutSleeping) {
    startFrontPanel(false);
    loop_state.settings_collection_index = LAST_SETTING_INDEX + 1; // nothing left to ask for
    for (uint32_t key : {UKEY_P_UP, UKEY_P_DOWN, UKEY_BRIGHTNESS_LEFT_DEC, UKEY_SELECT}) {
        message_s msg{tEV_KEY | key, 0};
        ASSERT_EQ(user_controls->postToMain(&msg), 0);
    }
    for (int pass = 0; pass < 4; ++pass) {
        EXPECT_TRUE(main_loop_pass()) << "pass " << pass;
    }
    EXPECT_FALSE(main_loop_pass());
    const std::string log = mainThreadLog();
    const size_t up = log.find("MAIN: Programmable UP Key Press\n");
    const size_t down = log.find("MAIN: Programmable DOWN Key Press\n");
    const size_t select = log.find("MAIN: Unhandled Key Press 4\n");
    ASSERT_NE(select, std::string::npos);
    EXPECT_LT(up, down);
    EXPECT_LT(down, select);
    EXPECT_EQ(backlightScale[0], 99u);
}

TEST_F(MainLoopGuiTest, ACommandFileMessageGoesFirstAndTheQueuedOneWaits) {
    startFrontPanel(false);
    loop_state.settings_collection_index = LAST_SETTING_INDEX + 1;
    message_s queued{tEV_KEY | UKEY_P_DOWN, 0};
    ASSERT_EQ(user_controls->postToMain(&queued), 0);
    loop_state.typed_command = true;
    loop_state.typed_message = message_s{tEV_KEY | UKEY_P_UP, 0};

    EXPECT_TRUE(main_loop_pass());
    EXPECT_EQ(logged("MAIN: Programmable UP Key Press\n"), 1u);
    EXPECT_EQ(logged("MAIN: Programmable DOWN Key Press\n"), 0u);
    EXPECT_TRUE(main_loop_pass());
    EXPECT_EQ(logged("MAIN: Programmable DOWN Key Press\n"), 1u);
}

TEST_F(MainLoopGuiTest, IgnoredMessagesStillAdvanceTheCollection) {
    startFrontPanel(false);
    execute_mode.screenoff = 1; // every message is ignored, yet each one takes a step
    loop_state.settings_collection_index = 9;
    message_s msg{tEV_ACTION | SETT_CAMERA_GAIN, 5};
    ASSERT_EQ(user_controls->postToMain(&msg), 0);
    EXPECT_TRUE(main_loop_pass());
    EXPECT_EQ(logged("MAIN: Message ignored when screens are off\n"), 1u);
    EXPECT_EQ(loop_state.settings_collection_index, 10);
    EXPECT_EQ(shadow_settings[SETT_CAMERA_GAIN], 0);
}

// A very long signal-loss time keeps the screens on: the timer is armed for the whole time
// (never "expired at once" by an overflow) and the GUI's countdown gets a time that stays
// long too.
TEST_F(MainLoopGuiTest, LongSignalLossTimesKeepTheScreensOn) {
    struct Case {
        int seconds;
        uint32_t messageMs;
    };
    const Case cases[] = {{3000000, 3000000000u}, {INT_MAX, UINT32_MAX}};
    StandInGui gui;
    startFrontPanel();
    loop_state.settings_collection_index = LAST_SETTING_INDEX + 1;
    execute_mode.controlsEnabled = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        signal_loss_timeout = c.seconds;
        execute_mode.hdmiInput = 1; // input present until this pass finds none
        ASSERT_TRUE(
            runUntil([&] { return gui.hasReceived(tEV_MESSAGE | MESS_NO_INPUT_DETECTED, c.messageMs); }));
        EXPECT_EQ(execute_mode.hdmiInput, 0u);
        for (int pass = 0; pass < 100; ++pass) {
            main_loop_pass();
        }
        EXPECT_EQ(execute_mode.screenoff, 0u);
        EXPECT_EQ(logged("MAIN: turning off backlights"), 0u);
        EXPECT_FALSE(timeout_expired(&loop_timers.screenoff, 0, 0));
    }
    signal_loss_timeout = DEFAULT_SIGNAL_LOSS_TIMEOUT_S;
}

} // namespace
