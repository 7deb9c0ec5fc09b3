#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/controller/MainLoopFixture.h"

namespace {

using loop_testing::MainLoopTest;

TEST(ImplementedSettings, TableHoldsExactlyTheCollectedSettings) {
    std::vector<int> implemented;
    for (int i = 0; i < SETT_MAX_SETTING; ++i) {
        if (implemented_settings[i]) {
            implemented.push_back(i);
        }
    }
    EXPECT_EQ(implemented, loop_testing::expected_collection());
    EXPECT_EQ(implemented.size(), 55u);
}

TEST(ImplementedSettings, SearchSkipsCommandsAndStopsPastTheTable) {
    EXPECT_EQ(find_next_implemented_setting(0), 2);
    EXPECT_EQ(find_next_implemented_setting(2), 2);
    EXPECT_EQ(find_next_implemented_setting(3), 5);
    EXPECT_EQ(find_next_implemented_setting(20), 50);
    EXPECT_EQ(find_next_implemented_setting(58), 59); // white balance is a command
    EXPECT_EQ(find_next_implemented_setting(92), 93);
    EXPECT_GT(find_next_implemented_setting(99), LAST_SETTING_INDEX);
    EXPECT_GT(find_next_implemented_setting(124), LAST_SETTING_INDEX);
    EXPECT_EQ(find_next_implemented_setting(-5), 2);
}

TEST(CrosshairColours, TableAndBounds) {
    const uint32_t expected[] = {0xF80000, 0x00FC00, 0x0000F8, 0xF8FC00,
                                 0x00F8F8, 0xF800F8, 0xF8FCF8, 0x000000};
    for (int value = 0; value < 8; ++value) {
        uint32_t rgb = 0x123456;
        ASSERT_TRUE(crosshair_colour(value, &rgb));
        EXPECT_EQ(rgb, expected[value]) << value;
    }
    uint32_t untouched = 0x123456;
    EXPECT_FALSE(crosshair_colour(8, &untouched));
    EXPECT_FALSE(crosshair_colour(-1, &untouched));
    EXPECT_EQ(untouched, 0x123456u);
}

// 2024-02-29 12:34:56 UTC.
constexpr time_t kLeapDayNoon = 1709210096;

TEST_F(MainLoopTest, NewDateReplacesOnlyTheGivenFields) {
    EXPECT_EQ(newDateFrom(kLeapDayNoon, 15, 6, 23, 10, 30, 0), 1686825000); // 2023-06-15 10:30:00
    EXPECT_EQ(newDateFrom(kLeapDayNoon, -1, -1, -1, -1, -1, -1), kLeapDayNoon);
    EXPECT_EQ(newDateFrom(kLeapDayNoon, -1, -1, -1, 7, -1, -1), 1709192096); // 07:34:56
    // Day and month 0 mean "unchanged"; year 0 is 2000.
    EXPECT_EQ(newDateFrom(kLeapDayNoon, 0, 0, 0, -1, -1, -1), 951827696); // 2000-02-29
    EXPECT_TRUE(logged("MAIN: New Time and Date: Thu Jun 15 10:30:00 2023\n"));
}

TEST_F(MainLoopTest, NewDateNormalisesADayBeyondTheMonth) {
    // 31 February 2024 is 2 March.
    EXPECT_EQ(newDateFrom(kLeapDayNoon, 31, -1, -1, -1, -1, -1), 1709382896);
    EXPECT_TRUE(logged("MAIN: New Time and Date: Sat Mar  2 12:34:56 2024\n"));
}

TEST_F(MainLoopTest, ClockSettingsLogTheirFieldAndTheNewTime) {
    shadow_settings[SETT_TIME_MINUTES] = 42;
    run_setting_handler(SETT_TIME_MINUTES);
    const std::string log = logText();
    EXPECT_NE(log.find("MAIN: Set mins to 42\nMAIN: Local Time and Date: "), std::string::npos) << log;
    EXPECT_NE(log.find(":42:"), std::string::npos) << log;
}

TEST_F(MainLoopTest, HandlersLogTheirLinesWithoutDevices) {
    struct Case {
        int index;
        int32_t value;
        const char* log;
    };
    const Case cases[] = {
        {SETT_LENSPOWER, 3, "MAIN: Set Lens Power 3\n"},
        {SETT_UI_SOUND, 1, "Sound Muting\nSound Mute ON\n"},
        {SETT_UI_SOUND, 0, "Sound Muting\nSound Mute OFF\n"},
        {SETT_UI_CROSSHAIRCOLOUR, 9, "MAIN: Crosshair Colour 9\n"},
        {SETT_CAMERA_CONTRAST, 4, "CAMERA Contrast Settings\nCAMERA Contrast Settings completed\n"},
        {SETT_LIGHT_QUADRANT_LEFT, 1, "QUADRANT Control Settings\n"},
        {SETT_PRESET_P2_SHORT, 5, "PRESET 2 SHORT option 5\n"},
        {SETT_PRESET_P3, 7, "PRESET 3 option 7\n"},
        {SETT_AWB_GREEN_HI, 1, "MAIN: AWB Green Hi\n"},
        {SETT_AWB_BLUE_LO, 1, "MAIN: AWB Blue Lo\n"},
        {SETT_3DINPUT_MODE, 2, "MAIN: 3D Input Mode -> 2\n"},
        {SETT_HDR_MODE, 1, "MAIN: HDR Mode 1\n"},
        {SETT_EXPORT_SETTINGS, 1, "MAIN: Export all settings\n"},
        {SETT_CAMERA_REFERENCE_FRAME, 1, "MAIN: SHUTTER Capture Ref Frame\n"},
        {SETT_ZOOM_VALUE, 1, "Unimplemented Setting 123\n"},
        {SETT_DISPLAY_MAGNIFICATION, 1, "Unimplemented Setting 92\n"},
    };
    for (const Case& c : cases) {
        markLog();
        shadow_settings[c.index] = c.value;
        run_setting_handler(c.index);
        EXPECT_EQ(newLog(), c.log) << "setting " << c.index;
    }
}

TEST_F(MainLoopTest, HandlersKeepTheValuesOtherPartsRead) {
    shadow_settings[SETT_STANDBY_ON_NO_SIGNAL] = 2; // only bit 0 counts
    run_setting_handler(SETT_STANDBY_ON_NO_SIGNAL);
    EXPECT_EQ(execute_mode.standby_on_no_signal, 0u);
    shadow_settings[SETT_STANDBY_ON_NO_SIGNAL] = 3;
    run_setting_handler(SETT_STANDBY_ON_NO_SIGNAL);
    EXPECT_EQ(execute_mode.standby_on_no_signal, 1u);

    shadow_settings[SETT_HDR_MODE] = 1;
    run_setting_handler(SETT_HDR_MODE);
    EXPECT_EQ(hdr_mode, 1);
}

TEST_F(MainLoopTest, InputModeChangeBlanksUntilTheUnblankTimer) {
    shadow_settings[SETT_3DINPUT_MODE] = 1;
    run_setting_handler(SETT_3DINPUT_MODE);
    EXPECT_EQ(execute_mode.screensblanked, 1u);
    EXPECT_NE(loop_timers.unblank, no_timeout());
    EXPECT_FALSE(timeout_expired(&loop_timers.unblank, 0, 0));
}

TEST_F(MainLoopTest, RequestWithoutTheFrontPanelIsRetried) {
    EXPECT_EQ(send_implemented_setting_request(5), 5);
    EXPECT_EQ(logged("MAIN: ERROR: Failed to send setting request to GUI (5)"), 1u);
    // Past the table nothing is sent.
    markLog();
    EXPECT_EQ(send_implemented_setting_request(124), 124);
    EXPECT_EQ(newLog(), "");
}

} // namespace
