// The GUI's processing of controller messages that need no menu.
#include "gui/app/Display.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

#include "common/messages.h"
#include "gui/settings/OstrixControlSettings.h"
#include "tests/unit/gui/DisplayFixture.h"

using namespace Ostrix;

namespace {

using Result = testing_support::GuiReply;

using DisplayCommands = testing_support::DisplayFixture;

TEST_F(DisplayCommands, RequestIsAnsweredWithTheSettingsIndexAndValue) {
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 7);
    Result r = command(0xE0000035, 0);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, 0xC0000035u);
    EXPECT_EQ(r.reply1, 7u);

    ostrixControlSettings.SetValue(SETT_AWB_RED_LO, 65535);
    r = command(uint32_t(tEV_REQUEST) + SETT_AWB_RED_LO, 0);
    EXPECT_EQ(r.reply0, 0xC000004Cu);
    EXPECT_EQ(r.reply1, 65535u);
    EXPECT_FALSE(r.show);
}

TEST_F(DisplayCommands, RequestOutsideTheTableReadsZero) {
    const Result r = command(uint32_t(tEV_REQUEST) + SETT_MAX_SETTING, 0);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, 0xC000007Cu);
    EXPECT_EQ(r.reply1, 0u);
}

TEST_F(DisplayCommands, CopyStoresTheLow16BitsClampedWithoutReply) {
    Result r = command(0x40000035, 0x00010003); // gain: only the low 16 bits count
    EXPECT_FALSE(r.send);
    EXPECT_EQ(r.reply0, 0u);
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_CAMERA_GAIN), 3u);

    command(0x40000035, 200); // above the gain's maximum of 10
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_CAMERA_GAIN), 10u);
    EXPECT_EQ(command(0xE0000035, 0).reply1, 10u);

    // The index is the low 16 bits of word 1's parameter.
    command(0x40FF0039, 42); // SETT_CAMERA_CONTRAST
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_CAMERA_CONTRAST), 42u);
}

TEST_F(DisplayCommands, VersionInfoIsStoredByItsId) {
    EXPECT_FALSE(command(0x60000000, 0x00040005).send);
    EXPECT_EQ(app_version_major, 4u);
    EXPECT_EQ(app_version_minor, 5u);
    command(0x60000001, 31);
    EXPECT_EQ(vp_version_major, 31u);
    command(0x60000003, 0x00020107); // minor is the low byte only
    EXPECT_EQ(cam_version_major, 2u);
    EXPECT_EQ(cam_version_minor, 7u);
    command(0x60000005, 0x12345);
    EXPECT_EQ(cxl_version_major, 0x12345u);
    command(0x60000006, 0x00010002);
    EXPECT_EQ(system_version_major, 1u);
    EXPECT_EQ(system_version_minor, 2u);

    // Ids 7 and above change nothing.
    command(0x60000007, 0x00090009);
    command(0x60000100, 0x00090009); // id is the low byte: 0x00 would be the application
    EXPECT_EQ(app_version_major, 9u);
    EXPECT_EQ(vp_version_major, 31u);
    EXPECT_EQ(system_version_major, 1u);
}

TEST_F(DisplayCommands, ImageFormatFollowsTheLowFourBits) {
    command(0x80000000, 0x10);
    EXPECT_EQ(image_format_png, 0);
    command(0x80000000, 0x11);
    EXPECT_EQ(image_format_png, 1);
    command(0x80000000, 0);
    EXPECT_EQ(image_format_png, 0);
}

TEST_F(DisplayCommands, ZoomMessagesSetTheirSettingsAndAskForARedrawWithoutReply) {
    Result r = command(0x61000000, 0x00010040); // the low 16 bits only
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, 0u); // nothing to send
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_ZOOM_ENCODER), 0x40u);
    command(0x61000000, 0x01F4); // clamped to the encoder's range 0..255
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_ZOOM_ENCODER), 255u);

    r = command(0x62000000, 0x0001012C);
    EXPECT_TRUE(r.send);
    EXPECT_EQ(r.reply0, 0u);
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_ZOOM_VALUE), 0x012Cu);
}

TEST_F(DisplayCommands, PresetAndUnknownEventsAreIgnored) {
    for (uint32_t word0 : {0xB0000000u, 0x20000000u, 0x00000000u, 0x70000001u, 0xA0000035u, 0xF1000000u}) {
        const Result r = command(word0, 5);
        EXPECT_FALSE(r.send) << std::hex << word0;
        EXPECT_EQ(r.reply0, 0u) << std::hex << word0;
        EXPECT_FALSE(r.show) << std::hex << word0;
    }
}

TEST_F(DisplayCommands, MessagesAreShownWithTheirTimeAndIndexZeroClears) {
    Result r = command(0x9000001F, 7500);
    EXPECT_FALSE(r.send);
    EXPECT_TRUE(r.show);
    EXPECT_EQ(r.time, 7500);
    EXPECT_EQ(display_->currentMessage(), 31u);

    r = command(0x90000025, 0); // no time given: the default 3000 ms
    EXPECT_EQ(r.time, 3000);

    r = command(0x90000000, 0);
    EXPECT_FALSE(r.show);
    EXPECT_EQ(display_->currentMessage(), 0u);
}

size_t messageBoxPixels(Display& display) {
    VFB vfb(800, 480, 800);
    display.Update(vfb);
    return size_t(std::count(vfb.data(), vfb.data() + 800 * 480, Menu::kMessageFill));
}

// The saving animation and the no-input countdown would cover the menu the user works in:
// they wait for it to close. Other messages are shown over it.
TEST_F(DisplayCommands, SavingAndCountdownMessagesAreNotDrawnOverAnOpenMenu) {
    struct Case {
        uint32_t word0;
        uint32_t time;
        bool overMenu;
    };
    const Case cases[] = {
        {0x90000002, 6000, false},  // Saving image...
        {0x90000037, 10000, false}, // No Input Detected...
        {0x90000001, 3000, true},   // No USB drive detected
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.word0);
        display_->menu().CloseMenu(false);
        display_->clearMessageDisplay();
        const size_t closed = messageBoxPixels(*display_);
        key(UKEY_SELECT);
        ASSERT_TRUE(display_->MenuOpen());
        const size_t menuOnly = messageBoxPixels(*display_);
        const Result r = command(c.word0, c.time);
        EXPECT_TRUE(r.show); // its timer runs all the same
        EXPECT_EQ(display_->currentMessage(), c.word0 & 0xFFFF);
        EXPECT_EQ(messageBoxPixels(*display_) > menuOnly, c.overMenu);

        // With the menu closed its next redraw shows it.
        display_->menu().CloseMenu(false);
        display_->refreshMessage(2000);
        EXPECT_GT(messageBoxPixels(*display_), closed + 1000);
    }
}

} // namespace
