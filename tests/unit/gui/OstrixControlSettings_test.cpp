// The settings table: factory ranges, clamping, stepping, serialising and presets.
#include "gui/settings/OstrixControlSettings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
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

TEST(SettingsFactoryTable, EveryListedSettingStartsAtItsDefaultWithinItsRange) {
    OstrixControlSettings settings;
    int listed = 0;
    for (int i = 0; i < SETT_MAX_SETTING; ++i) {
        const auto index = static_cast<SettingsIndex_t>(i);
        const auto row = OstrixControlSettings::GetFactorySetting(index);
        const auto s = settings.GetSetting(index);
        EXPECT_EQ(s.value, row.factory) << "index " << i;
        EXPECT_EQ(s.factory, row.factory) << "index " << i;
        EXPECT_EQ(s.min, row.min) << "index " << i;
        EXPECT_EQ(s.max, row.max) << "index " << i;
        EXPECT_EQ(s.step, row.step) << "index " << i;
        if (row.max != 0) {
            ++listed;
            EXPECT_LE(row.min, row.factory) << "index " << i;
            EXPECT_LE(row.factory, row.max) << "index " << i;
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
