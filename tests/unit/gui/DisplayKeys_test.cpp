// Keys from the controller as the GUI handles them: P keys long and short, the arrow keys
// with the menu closed by the selected hotkey, the encoder knobs, and the exit and overlay
// commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "gui/settings/OstrixControlSettings.h"
#include "tests/unit/gui/DisplayFixture.h"

namespace {

using namespace Ostrix;
namespace fs = std::filesystem;

using Result = testing_support::GuiReply;

class DisplayKeys : public testing_support::DisplayFixture {
protected:
    void SetUp() override {
        DisplayFixture::SetUp();
        programmableFunction = 0;
    }
    void TearDown() override {
        programmableFunction = 0;
        DisplayFixture::TearDown();
    }
    static uint16_t value(SettingsIndex_t i) { return ostrixControlSettings.GetValue(i); }
};

TEST_F(DisplayKeys, ShortPKeysSelectTheHotkeyThatUpAndDownDrive) {
    struct Case {
        uint16_t function;
        uint32_t key;
        uint32_t reply0;
        SettingsIndex_t setting;
        int change;
    };
    const Case cases[] = {
        {1, UKEY_UP, tEV_ACTION + SETT_CAMERA_GAIN, SETT_CAMERA_GAIN, +1},
        {1, UKEY_DOWN, tEV_ACTION + SETT_CAMERA_GAIN, SETT_CAMERA_GAIN, -1},
        {2, UKEY_UP, tEV_ACTION + SETT_CAMERA_EXPOSURE_TIME, SETT_CAMERA_EXPOSURE_TIME, +1},
        {5, UKEY_DOWN, tEV_ACTION + SETT_DISPLAY_BRIGHTNESS, SETT_DISPLAY_BRIGHTNESS, -1},
        {3, UKEY_UP, tEV_ACTION + SETT_LIGHT_QUADRANT_TOP, SETT_LIGHT_QUADRANT_TOP, 0},
        {3, UKEY_LEFT, tEV_ACTION + SETT_LIGHT_QUADRANT_LEFT, SETT_LIGHT_QUADRANT_LEFT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "function " << c.function << " key " << c.key);
        ostrixControlSettings.SetValue(SETT_PRESET_P2_SHORT, c.function);
        const Result select = key(UKEY_P2_SHORT);
        EXPECT_FALSE(select.send);
        EXPECT_EQ(display_->currentMessage(), MESS_CAMERA_GAIN_HOTKEY_ON - 1 + c.function);
        const uint16_t before = value(c.setting);
        const Result r = key(c.key);
        EXPECT_TRUE(r.send);
        EXPECT_EQ(r.reply0, c.reply0);
        EXPECT_EQ(r.reply1, value(c.setting));
        if (c.change != 0) {
            EXPECT_EQ(int(value(c.setting)), int(before) + c.change);
        } else {
            EXPECT_NE(value(c.setting), before); // toggled
        }
        EXPECT_EQ(display_->currentMessage(), MESS_NONE); // every key clears the message
        // The same short key again switches the hotkey off.
        key(UKEY_P2_SHORT);
        EXPECT_EQ(display_->currentMessage(), MESS_CAMERA_GAIN_HOTKEY_OFF - 1 + c.function);
        EXPECT_EQ(programmableFunction, 0u);
    }
    EXPECT_FALSE(key(UKEY_UP).send);
    EXPECT_EQ(display_->currentMessage(), MESS_NO_FUNCTION_ASSIGNED);
}

TEST_F(DisplayKeys, GainAtItsMaximumIsStillReported) {
    ostrixControlSettings.SetValue(SETT_PRESET_P1_SHORT, 1);
    key(UKEY_P1_SHORT);
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 10);
    const Result r = key(UKEY_UP);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, tEV_ACTION + SETT_CAMERA_GAIN);
    EXPECT_EQ(r.reply1, 10u);
}

TEST_F(DisplayKeys, LeftWithTheMenuClosedAsksForACaptureOutsideTheHoldoff) {
    Result r = key(UKEY_LEFT);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, tEV_KEY + UKEY_P_IMAGECAPTURE);
    // Closing the menu with LEFT holds a capture off for a second.
    key(UKEY_SELECT);
    key(UKEY_LEFT);
    ASSERT_FALSE(display_->MenuOpen());
    r = key(UKEY_LEFT);
    EXPECT_FALSE(r.send);
    EXPECT_EQ(r.reply0, 0u);
}

TEST_F(DisplayKeys, RightOpensTheMenuAndExitClosesIt) {
    Result r = key(UKEY_RIGHT);
    EXPECT_TRUE(display_->MenuOpen());
    EXPECT_TRUE(r.send);
    r = command(tEV_EXIT);
    EXPECT_FALSE(r.send);
    EXPECT_FALSE(display_->MenuOpen());
    EXPECT_TRUE(fs::exists("QLM_GUI.settings"));
}

TEST_F(DisplayKeys, EncoderKnobsStepGainAndExposureWithTheMenuOpenOrClosed) {
    struct Case {
        bool menuOpen;
        uint32_t key;
        SettingsIndex_t setting;
        int change;
    };
    const Case cases[] = {
        {false, UKEY_GAIN_UP, SETT_CAMERA_GAIN, +1},
        {true, UKEY_GAIN_DOWN, SETT_CAMERA_GAIN, -1},
        {true, UKEY_EXPOSURE_UP, SETT_CAMERA_EXPOSURE_TIME, +1},
        {false, UKEY_EXPOSURE_DOWN, SETT_CAMERA_EXPOSURE_TIME, -1},
    };
    ostrixControlSettings.SetValue(SETT_CAMERA_EXPOSURE_TIME, 5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        if (c.menuOpen != display_->MenuOpen()) {
            key(c.menuOpen ? UKEY_SELECT : UKEY_LEFT);
        }
        const uint16_t before = value(c.setting);
        const Result r = key(c.key);
        EXPECT_TRUE(r.send);
        EXPECT_EQ(r.reply0, tEV_ACTION + c.setting);
        EXPECT_EQ(int(r.reply1), int(before) + c.change);
        EXPECT_EQ(display_->MenuOpen(), c.menuOpen);
    }
}

TEST_F(DisplayKeys, LongPKeyAppliesItsPreset) {
    ostrixControlSettings.SetValue(SETT_PRESET_P1, 3);
    Result r = key(UKEY_P1);
    EXPECT_FALSE(r.send);
    EXPECT_EQ(display_->currentMessage(), MESS_NO_PRESET_FILE);

    OstrixControlSettings source;
    source.SetValue(SETT_CAMERA_GAIN, 8);
    source.StorePreset(2);
    ASSERT_TRUE(source.ExportPreset(2, OstrixControlSettings::PresetFileName(2)));
    r = key(UKEY_P1);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, tEV_PRESETLOADED + 3);
    EXPECT_EQ(value(SETT_CAMERA_GAIN), 8);
    EXPECT_EQ(display_->currentMessage(), MESS_APPLYING_PRESET);
}

TEST_F(DisplayKeys, OverlayIsAnsweredWithWhetherThePictureLoaded) {
    Result r = command(tEV_OVERLAY, 1);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, tEV_OVERLAY);
    EXPECT_EQ(r.reply1, 0u);
    fs::copy_file(OSTRIX_SOURCE_DIR "/resources/slider.png", "overlay.png");
    r = command(tEV_OVERLAY, 0);
    EXPECT_EQ(r.reply0, tEV_OVERLAY);
    EXPECT_EQ(r.reply1, 1u);
}

} // namespace
