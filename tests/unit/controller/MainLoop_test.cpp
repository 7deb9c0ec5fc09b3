// The loop's filters, dispatch and periodic duties, without the GUI link (no front-panel
// object): what the loop did is read from the log and the loop state.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/unit/controller/MainLoopFixture.h"

namespace {

using loop_testing::MainLoopTest;

constexpr int kGain = SETT_CAMERA_GAIN;
const char* const kGainLog = "CAMERA Gain Settings\n";
const char* const kWhiteBalanceLog = "CAMERA White Balance Settings\n";

TEST_F(MainLoopTest, EveryMessageIsLoggedWithBothWords) {
    handle(0xA0000035, 0x12);
    EXPECT_EQ(logged("MAIN: got message a0000035:00000012\n"), 1u);
}

TEST_F(MainLoopTest, DuringStartUpEveryValueRunsItsHandler) {
    setting(tEV_UPDATE, kGain, 0); // equal to the stored 0
    setting(tEV_ACTION, kGain, 0);
    EXPECT_EQ(logged(kGainLog), 2u);
    EXPECT_TRUE(setting_changed);
}

TEST_F(MainLoopTest, AfterStartUpOnlyChangesRunHandlersExceptWhiteBalance) {
    execute_mode.init_complete = 1;
    setting(tEV_ACTION, kGain, 7);
    setting(tEV_ACTION_BEEP, kGain, 7);
    EXPECT_FALSE(setting_changed);
    setting(tEV_UPDATE, kGain, 8);
    EXPECT_EQ(logged(kGainLog), 2u);
    EXPECT_EQ(shadow_settings[kGain], 8);

    setting(tEV_ACTION_BEEP, SETT_CAMERA_WHITE_BALANCE, 1);
    setting(tEV_ACTION_BEEP, SETT_CAMERA_WHITE_BALANCE, 1);
    EXPECT_EQ(logged(kWhiteBalanceLog), 2u);
}

TEST_F(MainLoopTest, NegativeValuesAreStoredSigned) {
    setting(tEV_ACTION, SETT_HDR_RATIO, -3);
    EXPECT_EQ(shadow_settings[SETT_HDR_RATIO], -3);
    EXPECT_EQ(logged("MAIN: HDR Ratio -3\n"), 1u);
}

// Capture and log-archive names read the date format from the controller's copy: the
// collection asks for it, and its answer is only stored.
TEST_F(MainLoopTest, TheDateFormatIsCollectedAndOnlyStored) {
    EXPECT_TRUE(implemented_settings[SETT_DATEFORMAT]);
    markLog();
    setting(tEV_UPDATE, SETT_DATEFORMAT, 2);
    EXPECT_EQ(shadow_settings[SETT_DATEFORMAT], 2);
    EXPECT_EQ(loggedSinceMark("Unimplemented Setting"), 0u) << newLog();
}

TEST_F(MainLoopTest, AnIndexOutsideTheTableIsNotStored) {
    const int32_t before = shadow_settings[LAST_SETTING_INDEX];
    handle(tEV_ACTION | 0x00FFFFFF, 99);
    handle(tEV_ACTION | SETT_MAX_SETTING, 99);
    EXPECT_EQ(logged("Unimplemented Setting 16777215\n"), 1u);
    EXPECT_EQ(logged("Unimplemented Setting 124\n"), 1u);
    EXPECT_EQ(shadow_settings[LAST_SETTING_INDEX], before);
}

TEST_F(MainLoopTest, InitialisationCompletesWithTheAnswerToTheLastRequest) {
    // The request for 98, the last one, has not gone out yet.
    loop_state.settings_collection_index = 98;
    setting(tEV_UPDATE, SETT_PRESET_P2, 0);
    EXPECT_EQ(execute_mode.init_complete, 0u);
    loop_state.settings_collection_index = 99;
    setting(tEV_UPDATE, SETT_PRESET_P3, 0);
    EXPECT_EQ(logged("PRESET 3 option 0\nSettings initialisation complete\n"), 1u);
    EXPECT_EQ(execute_mode.init_complete, 1u);
    setting(tEV_UPDATE, SETT_PRESET_P3, 0);
    EXPECT_EQ(logged("Settings initialisation complete\n"), 1u);
}

TEST_F(MainLoopTest, StandbyGuardIgnoresEveryMessage) {
    start_timeout("test guard", &loop_timers.standbyGuard, 5000, 0);
    execute_mode.standby = 1;
    handle(tEV_POWER_ON);
    execute_mode.standby = 0;
    setting(tEV_ACTION, kGain, 5);
    EXPECT_EQ(logged("MAIN: Message ignored during Standby Timeout period\n"), 2u);
    EXPECT_EQ(logged("MAIN: POWER ON COMMAND"), 0u);
    EXPECT_EQ(logged(kGainLog), 0u);
    EXPECT_EQ(shadow_settings[kGain], 0);
}

TEST_F(MainLoopTest, InStandbyOnlyPowerMessagesAct) {
    execute_mode.standby = 1;
    setting(tEV_ACTION, kGain, 5);
    key(UKEY_P_UP);
    handle(tEV_POWER_OFF);
    EXPECT_EQ(logged(kGainLog), 0u);
    EXPECT_EQ(shadow_settings[kGain], 0);
    EXPECT_EQ(logged("MAIN: Programmable UP Key Press"), 0u);
    EXPECT_EQ(logged("MAIN: POWER OFF COMMAND"), 0u);

    loop_state.audio_poll_error_count = 10;
    handle(tEV_SAVELOG);
    EXPECT_EQ(logged("MAIN: POWER ON COMMAND\n"), 1u);
    EXPECT_EQ(loop_state.audio_poll_error_count, 0);
    EXPECT_EQ(execute_mode.standby, 0u); // woken up
    execute_mode.standby = 1;
    loop_state.audio_poll_error_count = 10;
    handle(tEV_SYSUPDATE);
    EXPECT_EQ(logged("MAIN: SYSTEM UPDATE COMMAND\n"), 1u);
    EXPECT_EQ(loop_state.audio_poll_error_count, 0);
    EXPECT_EQ(execute_mode.standby, 0u);

    // An update that ends with the program being stopped (the reboot) does not go on to
    // wake the devices, whose last step sends the GUI the image format.
    execute_mode.standby = 1;
    const size_t wakeUps = logged("MAIN: send Image Format");
    install_termination_handlers();
    std::raise(SIGTERM);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    handle(tEV_SYSUPDATE);
    EXPECT_EQ(logged("MAIN: SYSTEM UPDATE COMMAND\n"), 2u);
    EXPECT_EQ(logged("MAIN: send Image Format"), wakeUps);
    reset_main_loop_state();
    EXPECT_FALSE(termination_requested());
}

TEST_F(MainLoopTest, PowerOffActsOnlyOutsideStandby) {
    handle(tEV_POWER_ON);
    EXPECT_EQ(logged("MAIN: POWER ON COMMAND"), 0u);
    handle(tEV_POWER_OFF);
    EXPECT_EQ(logged("MAIN: POWER OFF COMMAND\n"), 1u);
}

TEST_F(MainLoopTest, WithScreensOffAKeyOnlySwitchesThemBackOn) {
    execute_mode.screenoff = 1;
    execute_mode.hdmiInput = 0;
    backlightScale[0] = 50;
    key(UKEY_BRIGHTNESS_LEFT_DEC);
    EXPECT_EQ(logged("MAIN: Message ignored when screens are off\nMAIN: turning screens back on\n"), 1u);
    EXPECT_EQ(execute_mode.screenoff, 0u);
    EXPECT_EQ(execute_mode.hdmiInput, 1u);
    EXPECT_EQ(backlightScale[0], 50u); // the key itself was not handled
    EXPECT_NE(loop_timers.screenoff, no_timeout());
    EXPECT_FALSE(timeout_expired(&loop_timers.screenoff, 0, 0));

    key(UKEY_BRIGHTNESS_LEFT_DEC);
    EXPECT_EQ(backlightScale[0], 49u);
}

TEST_F(MainLoopTest, WithScreensOffOtherMessagesAreIgnoredButPowerOffActs) {
    execute_mode.screenoff = 1;
    setting(tEV_ACTION, kGain, 5);
    EXPECT_EQ(logged("MAIN: Message ignored when screens are off\n"), 1u);
    EXPECT_EQ(logged("turning screens back on"), 0u);
    EXPECT_EQ(logged(kGainLog), 0u);
    EXPECT_EQ(execute_mode.screenoff, 1u);

    handle(tEV_POWER_OFF);
    EXPECT_EQ(logged("MAIN: POWER OFF COMMAND\n"), 1u);
}

TEST_F(MainLoopTest, KeysSwitchTheInputStateOn) {
    execute_mode.hdmiInput = 0;
    key(UKEY_P_DOWN);
    EXPECT_EQ(execute_mode.hdmiInput, 1u);
    EXPECT_EQ(logged("MAIN: Programmable DOWN Key Press\n"), 1u);
}

TEST_F(MainLoopTest, KeysTheControllerDoesNotHandleAreLogged) {
    key(UKEY_SELECT);
    key(UKEY_GAIN_UP);
    key(UKEY_SETREFERENCEFRAME);
    EXPECT_EQ(logged("MAIN: Unhandled Key Press 4\n"), 1u);
    EXPECT_EQ(logged("MAIN: Unhandled Key Press 42\n"), 1u);
    EXPECT_EQ(logged("MAIN: UKEY_SETREFERENCEFRAME\n"), 1u);
    EXPECT_EQ(logged("Unhandled Key Press 28"), 0u);
}

TEST_F(MainLoopTest, BacklightScalesStayWithinTenToHundred) {
    key(UKEY_BRIGHTNESS_LEFT_INC);
    EXPECT_EQ(backlightScale[0], 100u);
    backlightScale[0] = 11;
    key(UKEY_BRIGHTNESS_LEFT_DEC);
    key(UKEY_BRIGHTNESS_LEFT_DEC);
    EXPECT_EQ(backlightScale[0], 10u);
    backlightScale[1] = 10;
    key(UKEY_BRIGHTNESS_RIGHT_DEC);
    EXPECT_EQ(backlightScale[1], 10u);
    key(UKEY_BRIGHTNESS_RIGHT_INC);
    EXPECT_EQ(backlightScale[1], 11u);
    EXPECT_EQ(backlightScale[0], 10u);
}

TEST_F(MainLoopTest, DivergenceNeverGoesBelowZero) {
    key(UKEY_DIVERGENT_IN);
    EXPECT_EQ(StereoSeparation, 0);
    key(UKEY_DIVERGENT_OUT);
    key(UKEY_DIVERGENT_OUT);
    key(UKEY_DIVERGENT_IN);
    EXPECT_EQ(StereoSeparation, 1);
    key(UKEY_DIVERGENT_RESET);
    EXPECT_EQ(StereoSeparation, 0);
}

TEST_F(MainLoopTest, BrightnessResetChangesOnlyTheScales) {
    backlightScale[0] = 20;
    backlightScale[1] = 30;
    StereoSeparation = 4;
    key(UKEY_BRIGHTNESS_RESET);
    EXPECT_EQ(backlightScale[0], 100u);
    EXPECT_EQ(backlightScale[1], 100u);
    EXPECT_EQ(StereoSeparation, 4);
}

TEST_F(MainLoopTest, PresetLoadedLogsItsKindAndRestartsTheCollection) {
    loop_state.settings_collection_index = 200;
    handle(tEV_PRESETLOADED | 2);
    EXPECT_EQ(logged("MAIN: Preset number 2 applied. Requesting all settings...\n"), 1u);
    // Without the front panel the first request cannot be queued and stays due.
    EXPECT_EQ(loop_state.settings_collection_index, 2);
    handle(tEV_PRESETLOADED | 0xFFFF);
    EXPECT_EQ(logged("MAIN: Preset from USB applied. Requesting all settings...\n"), 1u);
    handle(tEV_PRESETLOADED);
    EXPECT_EQ(logged("MAIN: Factory reset applied. Requesting all settings...\nMAIN: skip AWB reset after "
                     "factory reset since initialisation not complete.\n"),
              1u);
    execute_mode.init_complete = 1;
    handle(tEV_PRESETLOADED);
    EXPECT_EQ(logged("MAIN: Factory reset forceWhiteBalanceSettings\n"), 1u);
}

// A preset loaded in standby is remembered, not collected there: the collection's
// finish would light the front panel and reach the unpowered camera.
TEST_F(MainLoopTest, PresetLoadedInStandbyIsCollectedAtTheWakeUp) {
    execute_mode.standby = 1;
    loop_state.settings_collection_index = 200;
    handle(tEV_PRESETLOADED | 1);
    EXPECT_EQ(logged("MAIN: Settings collection deferred to wake-up\n"), 1u);
    EXPECT_EQ(logged("MAIN: Preset number 1 applied."), 0u);
    EXPECT_EQ(loop_state.settings_collection_index, 200);
    EXPECT_TRUE(loop_state.collection_at_wakeup);
}

TEST_F(MainLoopTest, CollectionWaitsForTheStandbyGuard) {
    loop_state.settings_collection_index = 5;
    start_timeout("test guard", &loop_timers.standbyGuard, 5000, 0);
    settings_collection_step();
    EXPECT_EQ(logged("setting request"), 0u);
    delete_timeout(&loop_timers.standbyGuard);
    settings_collection_step();
    EXPECT_EQ(logged("MAIN: ERROR: Failed to send setting request to GUI (5)"), 1u);
}

TEST_F(MainLoopTest, CoreTemperatureReportAndChangeRule) {
    check_core_temperature(45000);
    EXPECT_EQ(logged("MAIN: Core Temp 45.00.\n"), 1u);
    check_core_temperature(47000);
    EXPECT_EQ(logged("MAIN: Core Temp 47.00 changed by 2.00\n"), 1u);
    check_core_temperature(48620); // exactly 1.62 degrees is not a change
    check_core_temperature(47000); // nor is -1.62
    EXPECT_EQ(logged("changed by"), 1u);
    check_core_temperature(45379);
    EXPECT_EQ(logged("MAIN: Core Temp 45.38 changed by -1.62\n"), 1u);
    // A slow drift is compared pass by pass and never reported as a change.
    for (int reading = 45379; reading < 55000; reading += 1000) {
        check_core_temperature(reading);
    }
    EXPECT_EQ(logged("changed by"), 2u);
}

TEST_F(MainLoopTest, CoreTemperatureIsReportedEveryTwoThousandPasses) {
    // A report, then 2000 passes counting down, then the next report.
    for (int pass = 0; pass < 2 * (TEMP_LOG_LOOPS + 1) + 1; ++pass) {
        check_core_temperature(40000);
    }
    EXPECT_EQ(logged("MAIN: Core Temp 40.00.\n"), 3u);
    EXPECT_EQ(logged("changed by"), 0u);
}

TEST_F(MainLoopTest, CoreTemperatureComesFromTheThermalZone) {
    // Each reading is the zone's current one, whether the file was rewritten in place or
    // removed and made again.
    ASSERT_TRUE(board().execute({"temp", "51234"}).ok);
    EXPECT_EQ(read_core_temperature(), 51234);
    ASSERT_TRUE(board().execute({"temp", "47000"}).ok);
    EXPECT_EQ(read_core_temperature(), 47000);
    std::filesystem::remove(root() + "/sys/class/thermal/thermal_zone0/temp");
    EXPECT_EQ(read_core_temperature(), 0);
    ASSERT_TRUE(board().execute({"temp", "46000"}).ok);
    EXPECT_EQ(read_core_temperature(), 46000);
}

TEST_F(MainLoopTest, IdlePassWithoutFrontPanelSleepsAndPolls) {
    USE_HDMI_CHIPS = 1;
    EXPECT_FALSE(main_loop_pass());
    EXPECT_EQ(loop_state.loopcounter, 1);
    execute_mode.standby = 1;
    EXPECT_FALSE(main_loop_pass());
    EXPECT_EQ(loop_state.loopcounter, 1); // no hardware polls in standby
}

TEST_F(MainLoopTest, CommandFileMessageIsTakenFirst) {
    loop_state.typed_command = true;
    loop_state.typed_message = message_s{tEV_KEY | UKEY_P_UP, 0};
    EXPECT_TRUE(main_loop_pass());
    EXPECT_FALSE(loop_state.typed_command);
    EXPECT_EQ(logged("MAIN: Programmable UP Key Press\n"), 1u);
    EXPECT_FALSE(main_loop_pass());
}

TEST_F(MainLoopTest, SignalLossTurnsTheScreensOffAfterTheTimeout) {
    execute_mode.controlsEnabled = 1;
    main_loop_pass(); // no receiver reports an input
    EXPECT_EQ(execute_mode.hdmiInput, 0u);
    EXPECT_EQ(logged("MAIN: Screen Blanking ON\n5876 starting screenoffTimer (60 s) - !inputDetected\r\n"),
              1u);
    EXPECT_EQ(execute_mode.screenoff, 0u);

    start_timeout("test: signal-loss timeout over", &loop_timers.screenoff, 0, 0);
    main_loop_pass();
    EXPECT_EQ(execute_mode.screenoff, 1u);
    EXPECT_EQ(logged("MAIN: turning off backlights\n5891 backlight off - screenoffTimer expired\r\n"), 1u);
    EXPECT_FALSE(timeout_expired(&loop_timers.systemStandby, 0, 0));
    main_loop_pass();
    EXPECT_EQ(logged("MAIN: turning off backlights"), 1u);
}

TEST_F(MainLoopTest, NoSignalLossBeforeTheControlsAreEnabledOrWithAStoredImage) {
    main_loop_pass();
    execute_mode.controlsEnabled = 1;
    execute_mode.pngdisplay = 1;
    main_loop_pass();
    EXPECT_EQ(execute_mode.hdmiInput, 1u);
    EXPECT_EQ(logged("Screen Blanking"), 0u);
}

TEST_F(MainLoopTest, UnblankTimerEndsTheBlanking) {
    start_screen_blanking();
    EXPECT_EQ(execute_mode.screensblanked, 1u);
    main_loop_pass();
    EXPECT_EQ(execute_mode.screensblanked, 1u); // not armed: nothing to unblank
    start_timeout("test: unblank due", &loop_timers.unblank, 0, 0);
    main_loop_pass();
    EXPECT_EQ(execute_mode.screensblanked, 0u);
    EXPECT_EQ(loop_timers.unblank, no_timeout());
    EXPECT_EQ(logged("MAIN: Unblank timer expired, unblanking screens\r\n"), 1u);
}

TEST_F(MainLoopTest, SyncTimerMarksTheSyncDetected) {
    start_timeout("test: sync due", &loop_timers.syncUpdate, 0, 0);
    main_loop_pass();
    EXPECT_EQ(execute_mode.sync_detected, 1u);
    EXPECT_EQ(loop_timers.syncUpdate, no_timeout());
    EXPECT_EQ(logged("Sync timer expired; updated FPGA.\r\n"), 1u);
}

} // namespace
