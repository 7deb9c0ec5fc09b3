// The settings table: factory ranges, clamping, stepping, serialising and presets.
#include "gui/settings/OstrixControlSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using testing::HasSubstr;

constexpr auto noIndex = static_cast<SettingsIndex_t>(SETT_MAX_SETTING);

std::string stdoutOf(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// The microscope's factory settings, written out row by row: {index, factory, min, max,
// step}. Rows that the factory list leaves out (screen-dependent ranges, command codes) are
// all zero.
struct FactoryRow {
    SettingsIndex_t index;
    uint16_t factory;
    uint16_t min;
    uint16_t max;
    uint16_t step;
};
// clang-format off
constexpr FactoryRow kFactoryRows[] = {
        {SETT_EXPO, 0, 0, 2, 1},
        {SETT_FOCUS, 1, 0, 1, 1},
        {SETT_LENSPOWER, 0, 0, 3, 1},
        {SETT_MULTIPLIER, 0, 0, 1, 1},
        {SETT_MEASUREMENTUNITS_MM, 1, 0, 1, 1},
        {SETT_DIGITALZOOM, 1, 0, 1, 1},
        {SETT_BLACKANDWHITEMODE, 0, 0, 1, 1},
        {SETT_WIDEDYNAMICRANGE, 0, 0, 1, 1},
        {SETT_UI_LANGUAGE, 0, 0, 9, 1},
        {SETT_UI_SOUND, 1, 0, 1, 1},
        {SETT_UI_CROSSHAIRSIZE, 0, 0, 2, 1},
        {SETT_UI_CROSSHAIRCOLOUR, 1, 0, 7, 1},
        {SETT_UI_MENUPOSITION, 1, 1, 4, 1},
        {SETT_UI_STATUSBARPOSITION, 0, 0, 1, 1},
        {SETT_UI_INFORMATIONTEXT, 1, 0, 1, 1},
        {SETT_DATEFORMAT, 0, 0, 2, 1},
        {SETT_CAMERAFREQ_50HZ, 1, 0, 1, 1},
        {SETT_SETSCREENSIZE, 24, 6, 100, 1},
        {SETT_AUTOWHITEBALANCE, 0, 0, 3, 0},
        {SETT_UI_TRANSPARENCY, 0, 0, 100, 4},
        {SETT_CAL_SETCALSCALE, 10, 1, 500, 1},
        {SETT_AEBRIGHTNESS, 14, 0, 27, 1},
        {SETT_APERTUREPRIORITY_APERTURE, 5, 0, 13, 1},
        {SETT_MANUALEXPOSURE_APERTURE, 5, 0, 13, 1},
        {SETT_MANUALEXPOSURE_GAIN, 4, 1, 15, 1},
        {SETT_MANUALEXPOSURE_TIME, 6, 0, 21, 1},
        {SETT_MANUALFOCUS_FOCUS, 100, 0, 100, 1},
        {SETT_SETGRIDSIZE_X, 40, 10, 480, 2},
        {SETT_SETGRIDSIZE_Y, 0, 0, 0, 0},
        {SETT_SETGRIDPOSITION_X, 0, 0, 480, 2},
        {SETT_SETGRIDPOSITION_Y, 0, 0, 0, 0},
        {SETT_ZOOM_POSITION, 0, 0, 31424, 1},
        {SETT_SUBSTAGE_LED_LEVEL, 0, 0, 100, 1},
        {SETT_INTERNAL_LED_LEVEL, 60, 0, 100, 1},
        {SETT_EXTERNAL_LED_LEVEL, 0, 0, 100, 1},
        {SETT_CAL_LEFTBAR, 0, 0, 0, 0},
        {SETT_CAL_RIGHTBAR, 0, 0, 0, 0},
        {SETT_MEAS_CURSOR1_X, 0, 0, 0, 0},
        {SETT_MEAS_CURSOR1_Y, 0, 0, 0, 0},
        {SETT_MEAS_CURSOR2_X, 0, 0, 0, 0},
        {SETT_MEAS_CURSOR2_Y, 0, 0, 0, 0},
        {SETT_ZOOM_SPEED, 7, 0, 7, 1},
        {SETT_IMAGEFREEZE, 0, 0, 1, 1},
        {SETT_KEYPAD_LOCK, 0, 0, 0, 0},
        {SETT_MEAS_TYPE, 2, 0, 2, 1},
        {SETT_APERTUREPRIORITY_BRIGHTNESS, 7, 0, 14, 1},
        {SETT_IRMODE, 0, 0, 1, 1},
        {SETT_OVERLAY, 1, 0, 1, 1},
        {SETT_CAL_LOCK, 0, 0, 1, 1},
        {SETT_FRONT_PANEL_LOCK, 0, 0, 1, 1},
        {SETT_DISPLAY_BRIGHTNESS, 50, 0, 100, 1},
        {SETT_DISPLAY_CONTRAST, 50, 0, 100, 1},
        {SETT_DISPLAY_SHARPNESS, 0, 0, 5, 1},
        {SETT_CAMERA_GAIN, 5, 0, 10, 1},
        {SETT_CAMERA_EXPOSURE_TIME, 5, 0, 10, 1},
        {SETT_CAMERA_BLACK_LEVEL, 5, 0, 10, 1},
        {SETT_CAMERA_SHARPNESS, 0, 0, 5, 1},
        {SETT_CAMERA_CONTRAST, 50, 0, 100, 1},
        {SETT_CAMERA_WHITE_BALANCE, 5, 0, 10, 1},
        {SETT_LIGHT_RING, 0, 0, 25, 1},
        {SETT_LIGHT_SUBSTAGE, 0, 0, 25, 1},
        {SETT_LIGHT_AUX, 0, 0, 25, 1},
        {SETT_LIGHT_QUADRANT_TOP, 1, 0, 1, 1},
        {SETT_LIGHT_QUADRANT_LEFT, 1, 0, 1, 1},
        {SETT_LIGHT_QUADRANT_BOTTOM, 1, 0, 1, 1},
        {SETT_LIGHT_QUADRANT_RIGHT, 1, 0, 1, 1},
        {SETT_SPEAKER_VOLUME, 0, 0, 100, 1},
        {SETT_HEADSET_VOLUME, 0, 0, 100, 1},
        {SETT_IMAGE_SAVE_OPTION, 0, 0, 3, 1},
        {SETT_PRESET_P1_SHORT, 0, 0, 7, 1},
        {SETT_PRESET_P2_SHORT, 0, 0, 7, 1},
        {SETT_PRESET_P3_SHORT, 0, 0, 7, 1},
        {SETT_CAMERA_MIRROR_HORIZ, 0, 0, 1, 1},
        {SETT_CAMERA_MIRROR_VERTICAL, 0, 0, 1, 1},
        {SETT_IMAGE_SOURCE, 0, 0, 0, 0},
        {SETT_STANDBY_ON_NO_SIGNAL, 1, 0, 1, 1},
        {SETT_AWB_RED_LO, 256, 0, 65535, 1},
        {SETT_AWB_RED_HI, 0, 0, 65535, 1},
        {SETT_AWB_GREEN_LO, 256, 0, 65535, 1},
        {SETT_AWB_GREEN_HI, 0, 0, 65535, 1},
        {SETT_AWB_BLUE_LO, 256, 0, 65535, 1},
        {SETT_AWB_BLUE_HI, 0, 0, 65535, 1},
        {SETT_AWB_VALID, 1, 0, 1, 1},
        {SETT_3DOUTPUT_MODE, 0, 0, 1, 1},
        {SETT_CAMERA_COLOUR_GAIN_RED, 5, 0, 10, 1},
        {SETT_CAMERA_COLOUR_GAIN_GREEN, 5, 0, 10, 1},
        {SETT_CAMERA_COLOUR_GAIN_BLUE, 5, 0, 10, 1},
        {SETT_CAMERA_CHROMA_CORRECT, 0, 0, 1, 1},
        {SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS, 0, 0, 0, 0},
        {SETT_CAMERA_SHUTTER_POSITION, 0, 0, 0, 0},
        {SETT_3DINPUT_MODE, 0, 0, 2, 1},
        {SETT_COLOUR_CORRECTION_PROFILE, 0, 0, 1, 1},
        {SETT_DISPLAY_MAGNIFICATION, 0, 0, 1, 1},
        {SETT_HDR_RATIO, 1, 1, 16, 1},
        {SETT_HDR_EXPOSURE, 1, 1, 26, 1},
        {SETT_HDR_MODE, 0, 0, 1, 1},
        {SETT_PRESET_P1, 0, 0, 10, 1},
        {SETT_PRESET_P2, 0, 0, 10, 1},
        {SETT_PRESET_P3, 0, 0, 10, 1},
        {SETT_TIME_HOURS, 0, 0, 23, 1},
        {SETT_TIME_MINUTES, 0, 0, 59, 1},
        {SETT_DATE_DAY, 1, 1, 31, 1},
        {SETT_DATE_MONTH, 1, 1, 12, 1},
        {SETT_DATE_YEAR, 17, 0, 99, 1},
        {SETT_FACTORY_DEFAULTS, 0, 0, 0, 0},
        {SETT_OVERVIEW_MODE, 1, 0, 1, 1},
        {SETT_BEEP, 0, 0, 0, 0},
        {SETT_GUI_UPDATE, 0, 0, 0, 0},
        {SETT_ZOOM_IN, 0, 0, 0, 0},
        {SETT_ZOOM_OUT, 0, 0, 0, 0},
        {SETT_ZOOM_STOP, 0, 0, 0, 0},
        {SETT_FOCUS_IN, 0, 0, 0, 0},
        {SETT_FOCUS_OUT, 0, 0, 0, 0},
        {SETT_FOCUS_STOP, 0, 0, 0, 0},
        {SETT_APPLY_PRESET, 0, 0, 9, 1},
        {SETT_STORE_PRESET, 0, 0, 9, 1},
        {SETT_IMPORT_SETTINGS, 0, 0, 0, 0},
        {SETT_EXPORT_SETTINGS, 0, 0, 0, 0},
        {SETT_KEYPAD_FREEZE, 0, 0, 1, 1},
        {SETT_IMPORT_OVERLAY, 0, 0, 0, 0},
        {SETT_CLEAR_OVERLAY, 0, 0, 0, 0},
        {SETT_CAMERA_REFERENCE_FRAME, 0, 0, 0, 0},
        {SETT_ZOOM_ENCODER, 127, 0, 255, 1},
        {SETT_ZOOM_VALUE, 0, 0, 65535, 1},
};
// clang-format on

TEST(SettingsFactoryTable, EveryListedSettingStartsAtItsDefaultWithinItsRange) {
    ASSERT_EQ(std::size(kFactoryRows), size_t(SETT_MAX_SETTING));
    OstrixControlSettings settings;
    int listed = 0;
    for (int i = 0; i < SETT_MAX_SETTING; ++i) {
        const FactoryRow& expected = kFactoryRows[i];
        ASSERT_EQ(expected.index, i);
        const auto index = static_cast<SettingsIndex_t>(i);
        const auto row = OstrixControlSettings::GetFactorySetting(index);
        const auto s = settings.GetSetting(index);
        EXPECT_EQ(row.factory, expected.factory) << "index " << i;
        EXPECT_EQ(row.min, expected.min) << "index " << i;
        EXPECT_EQ(row.max, expected.max) << "index " << i;
        EXPECT_EQ(row.step, expected.step) << "index " << i;
        EXPECT_EQ(s.value, expected.factory) << "index " << i;
        EXPECT_EQ(s.factory, expected.factory) << "index " << i;
        EXPECT_EQ(s.min, expected.min) << "index " << i;
        EXPECT_EQ(s.max, expected.max) << "index " << i;
        EXPECT_EQ(s.step, expected.step) << "index " << i;
        if (expected.max != 0) {
            ++listed;
            EXPECT_LE(expected.min, expected.factory) << "index " << i;
            EXPECT_LE(expected.factory, expected.max) << "index " << i;
        }
    }
    EXPECT_EQ(listed, 98);
}

TEST(SettingsFactoryTable, ScreenRangesAndCommandCodesStartEmpty) {
    OstrixControlSettings settings;
    const std::vector<int> unlisted = {28,  30,  35,  36,  37,  38,  39,  40,  43,  74,  88,  89,  104,
                                       106, 107, 108, 109, 110, 111, 112, 113, 116, 117, 119, 120, 121};
    for (int i : unlisted) {
        const auto s = settings.GetSetting(static_cast<SettingsIndex_t>(i));
        EXPECT_EQ(s.value | s.factory | s.min | s.max | s.step, 0) << "index " << i;
    }
}

TEST(SettingsFactoryTable, UnusualRowsKeepTheirRanges) {
    OstrixControlSettings settings;
    const auto grid = settings.GetSetting(SETT_SETGRIDSIZE_X);
    EXPECT_EQ(grid.value, 40);
    EXPECT_EQ(grid.min, 10);
    EXPECT_EQ(grid.max, 480);
    EXPECT_EQ(grid.step, 2);
    EXPECT_EQ(settings.GetSetting(SETT_AWB_RED_LO).max, 65535);
    EXPECT_EQ(settings.GetValue(SETT_AWB_GREEN_LO), 256);
    EXPECT_EQ(settings.GetSetting(SETT_SETSCREENSIZE).min, 6);
    EXPECT_EQ(settings.GetSetting(SETT_AUTOWHITEBALANCE).step, 0);
    EXPECT_EQ(settings.GetValue(SETT_ZOOM_ENCODER), 127);
    EXPECT_EQ(settings.GetValue(SETT_DATE_YEAR), 17);
    EXPECT_EQ(settings.GetSetting(SETT_ZOOM_POSITION).max, 31424);
}

TEST(SettingsFactoryTable, TheProcessWideInstanceIsBuiltBeforeMain) {
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_INTERNAL_LED_LEVEL), 60);
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_SETSCREENSIZE), 24);
}

TEST(SettingsSetValue, ClampsToTheRange) {
    OstrixControlSettings settings;
    EXPECT_TRUE(settings.SetValue(SETT_UI_MENUPOSITION, 0));
    EXPECT_EQ(settings.GetValue(SETT_UI_MENUPOSITION), 1);
    EXPECT_TRUE(settings.SetValue(SETT_CAMERA_GAIN, 200));
    EXPECT_EQ(settings.GetValue(SETT_CAMERA_GAIN), 10);
    EXPECT_TRUE(settings.SetValue(SETT_AWB_RED_LO, 65535));
    EXPECT_EQ(settings.GetValue(SETT_AWB_RED_LO), 65535);
}

TEST(SettingsSetValue, ARangelessSettingHoldsOnlyZeroUntilItGetsARange) {
    OstrixControlSettings settings;
    EXPECT_TRUE(settings.SetValue(SETT_IMAGE_SOURCE, 1));
    EXPECT_EQ(settings.GetValue(SETT_IMAGE_SOURCE), 0);
    settings.SetValueRange(SETT_IMAGE_SOURCE, 0, 3, 1);
    settings.SetValue(SETT_IMAGE_SOURCE, 2);
    EXPECT_EQ(settings.GetValue(SETT_IMAGE_SOURCE), 2);
}

TEST(SettingsSetValue, ANewRangeDoesNotReclampTheValue) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_MEAS_CURSOR1_X, 0);
    settings.SetValueRange(SETT_MEAS_CURSOR1_X, 50, 749, 1);
    EXPECT_EQ(settings.GetValue(SETT_MEAS_CURSOR1_X), 0);
    settings.SetValue(SETT_MEAS_CURSOR1_X, 800);
    EXPECT_EQ(settings.GetValue(SETT_MEAS_CURSOR1_X), 749);
    EXPECT_EQ(settings.GetSetting(SETT_MEAS_CURSOR1_X).step, 1);
}

TEST(SettingsSetValue, TracesEveryIndexButTheZoomValue) {
    OstrixControlSettings settings;
    EXPECT_THAT(stdoutOf([&] { settings.SetValue(SETT_CAMERA_GAIN, 200); }),
                HasSubstr("SetValue mSettings[53]=10\n"));
    EXPECT_EQ(stdoutOf([&] { settings.SetValue(SETT_ZOOM_VALUE, 200); }), "");
    EXPECT_EQ(settings.GetValue(SETT_ZOOM_VALUE), 200);
}

TEST(SettingsOutsideTheTable, ReadsAsZeroAndChangesNothing) {
    OstrixControlSettings settings;
    EXPECT_EQ(settings.GetValue(noIndex), 0);
    bool stored = true;
    EXPECT_THAT(stdoutOf([&] { stored = settings.SetValue(noIndex, 7); }),
                HasSubstr("GUI:SetValue: Index 124 not in settings\n"));
    EXPECT_FALSE(stored);
    EXPECT_FALSE(settings.SetValue(static_cast<SettingsIndex_t>(-1), 7));
    settings.SetValueRange(noIndex, 0, 10, 1);
    EXPECT_EQ(settings.GetValue(noIndex), 0);
    EXPECT_FALSE(settings.SetStepUp(noIndex, 0));
    EXPECT_FALSE(settings.SetStepDown(static_cast<SettingsIndex_t>(65535), 0));
    EXPECT_EQ(settings.GetSetting(noIndex).max, 0);
}

TEST(SettingsStepUp, UsesTheOwnStepAndStopsAtTheMaximum) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_UI_TRANSPARENCY, 98);
    EXPECT_TRUE(settings.SetStepUp(SETT_UI_TRANSPARENCY, 0));
    EXPECT_EQ(settings.GetValue(SETT_UI_TRANSPARENCY), 100);
    EXPECT_FALSE(settings.SetStepUp(SETT_UI_TRANSPARENCY, 0));
    EXPECT_EQ(settings.GetValue(SETT_UI_TRANSPARENCY), 100);

    settings.SetValue(SETT_UI_TRANSPARENCY, 40);
    EXPECT_TRUE(settings.SetStepUp(SETT_UI_TRANSPARENCY, 0));
    EXPECT_EQ(settings.GetValue(SETT_UI_TRANSPARENCY), 44);
    EXPECT_TRUE(settings.SetStepUp(SETT_UI_TRANSPARENCY, 1));
    EXPECT_EQ(settings.GetValue(SETT_UI_TRANSPARENCY), 45);
}

TEST(SettingsStepUp, AStepBeyondTheTopOfTheWordDoesNotWrap) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_AWB_RED_LO, 65530);
    EXPECT_TRUE(settings.SetStepUp(SETT_AWB_RED_LO, 60000));
    EXPECT_EQ(settings.GetValue(SETT_AWB_RED_LO), 65535);
}

TEST(SettingsStepUp, ASettingWithoutOwnStepNeverMovesByDefault) {
    OstrixControlSettings settings;
    EXPECT_FALSE(settings.SetStepUp(SETT_AUTOWHITEBALANCE, 0));
    EXPECT_EQ(settings.GetValue(SETT_AUTOWHITEBALANCE), 0);
    EXPECT_TRUE(settings.SetStepUp(SETT_AUTOWHITEBALANCE, 2));
    EXPECT_EQ(settings.GetValue(SETT_AUTOWHITEBALANCE), 2);
    EXPECT_FALSE(settings.SetStepDown(SETT_AUTOWHITEBALANCE, 0));
}

TEST(SettingsStepDown, StopsAtTheMinimum) {
    OstrixControlSettings settings;
    EXPECT_EQ(settings.GetValue(SETT_HDR_RATIO), 1);
    EXPECT_FALSE(settings.SetStepDown(SETT_HDR_RATIO, 0));
    settings.SetValue(SETT_HDR_RATIO, 3);
    EXPECT_TRUE(settings.SetStepDown(SETT_HDR_RATIO, 5));
    EXPECT_EQ(settings.GetValue(SETT_HDR_RATIO), 1);

    settings.SetValue(SETT_HDR_RATIO, 10);
    EXPECT_TRUE(settings.SetStepDown(SETT_HDR_RATIO, 0));
    EXPECT_EQ(settings.GetValue(SETT_HDR_RATIO), 9);
}

TEST(SettingsStepDown, ADecrementLargerThanTheValueEndsAtZeroNotWrapped) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_CAMERA_GAIN, 3);
    EXPECT_TRUE(settings.SetStepDown(SETT_CAMERA_GAIN, 5));
    EXPECT_EQ(settings.GetValue(SETT_CAMERA_GAIN), 0);
    EXPECT_FALSE(settings.SetStepDown(SETT_CAMERA_GAIN, 1));
}

TEST(SettingsSerialise, GivesIndexValuePairsAndReplacesTheOutput) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_FOCUS, 0);
    std::vector<uint16_t> words = {9, 9, 9, 9, 9, 9, 9, 9};
    settings.SerialiseSettings(words, 3);
    EXPECT_EQ(words, (std::vector<uint16_t>{0, 0, 1, 0, 2, 0}));
    settings.SerialiseSettings(words, 0);
    EXPECT_TRUE(words.empty());
}

TEST(SettingsDeserialise, AppliesCompletePairsWithClamping) {
    OstrixControlSettings settings;
    settings.DeserialiseSettings({SETT_CAMERA_GAIN, 7, SETT_UI_MENUPOSITION, 0, 500, 3, SETT_EXPO});
    EXPECT_EQ(settings.GetValue(SETT_CAMERA_GAIN), 7);
    EXPECT_EQ(settings.GetValue(SETT_UI_MENUPOSITION), 1);
    // The trailing odd word is not taken as an index with a missing value.
    EXPECT_EQ(settings.GetValue(SETT_EXPO), 0);

    settings.DeserialiseSettings({SETT_CAMERA_GAIN});
    EXPECT_EQ(settings.GetValue(SETT_CAMERA_GAIN), 7);
}

TEST(SettingsPresets, AStoredPresetRestoresTheSavedSettingsOnly) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_CAMERA_GAIN, 8);
    settings.SetValue(SETT_PRESET_P3, 4);
    settings.SetValue(SETT_TIME_HOURS, 12);
    settings.StorePreset(9);
    EXPECT_EQ(settings.GetPreset(9).size(), 2u * SETT_MAX_SAVED_SETTING);

    settings.SetValue(SETT_CAMERA_GAIN, 1);
    settings.SetValue(SETT_PRESET_P3, 0);
    settings.SetValue(SETT_TIME_HOURS, 5);
    EXPECT_TRUE(settings.ApplyPreset(9));
    EXPECT_EQ(settings.GetValue(SETT_CAMERA_GAIN), 8);
    EXPECT_EQ(settings.GetValue(SETT_PRESET_P3), 4);
    EXPECT_EQ(settings.GetValue(SETT_TIME_HOURS), 5);
}

TEST(SettingsPresets, EmptyOrMissingSlotsApplyNothing) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_CAMERA_GAIN, 2);
    bool applied = true;
    EXPECT_THAT(stdoutOf([&] { applied = settings.ApplyPreset(10); }), HasSubstr("GUI: No preset applied\n"));
    EXPECT_FALSE(applied);
    EXPECT_FALSE(settings.ApplyPreset(0));
    EXPECT_FALSE(settings.ApplyPreset(-1));
    settings.StorePreset(10);
    EXPECT_TRUE(settings.GetPreset(10).empty());
    EXPECT_EQ(settings.GetValue(SETT_CAMERA_GAIN), 2);
}

TEST(SettingsZoom, CombinesZoomValueDigitalZoomAndLens) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_ZOOM_VALUE, 200);
    settings.SetValue(SETT_DIGITALZOOM, 1);
    settings.SetValue(SETT_LENSPOWER, 3);
    float zoom = 0;
    bool digital = false;
    EXPECT_THAT(stdoutOf([&] { settings.CalculateZoom(zoom, digital); }), HasSubstr("Zoom = 5\n"));
    EXPECT_FLOAT_EQ(zoom, 5.0f);
    EXPECT_TRUE(digital);

    settings.SetValue(SETT_DIGITALZOOM, 0);
    settings.SetValue(SETT_ZOOM_VALUE, 150);
    settings.SetValue(SETT_LENSPOWER, 2);
    settings.CalculateZoom(zoom, digital);
    EXPECT_FALSE(digital);
    EXPECT_FLOAT_EQ(zoom, 1.5f);
}

TEST(SettingsZoom, NoLensGivesZeroAndALensOutsideTheTableIsNotRead) {
    OstrixControlSettings settings;
    settings.SetValue(SETT_ZOOM_VALUE, 200);
    float zoom = 1;
    bool digital = false;
    settings.CalculateZoom(zoom, digital);
    EXPECT_EQ(zoom, 0.0f);
    settings.SetValueRange(SETT_LENSPOWER, 0, 20, 1);
    settings.SetValue(SETT_LENSPOWER, 9);
    settings.CalculateZoom(zoom, digital);
    EXPECT_EQ(zoom, 0.0f);
}

TEST(SettingsZoom, MinimumZoomLevelFollowsTheLens) {
    OstrixControlSettings settings;
    EXPECT_EQ(settings.MinimumZoomLevel(), 0);
    settings.SetValue(SETT_LENSPOWER, 1);
    EXPECT_EQ(settings.MinimumZoomLevel(), 3862);
    settings.SetValue(SETT_LENSPOWER, 3);
    EXPECT_EQ(settings.MinimumZoomLevel(), 0);
    settings.SetValueRange(SETT_LENSPOWER, 0, 20, 1);
    settings.SetValue(SETT_LENSPOWER, 11);
    EXPECT_EQ(settings.MinimumZoomLevel(), 8625);
    settings.SetValue(SETT_LENSPOWER, 15);
    EXPECT_EQ(settings.MinimumZoomLevel(), 0);
}

} // namespace
