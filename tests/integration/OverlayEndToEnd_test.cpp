// The GUI's colours and position seen from outside the controller: OstrixPi runs on the
// simulated board with a stand-in GUI; after start-up the FPGA holds what the settings
// say, and moving the menu moves the status icons in the overlay store, as the pictures
// `ostrix-sim framestore save --overlay` writes show.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Pictures.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using Picture = testing_support::RgbImage;
using testing_support::readPng;

constexpr int kIcon = 96;
constexpr int kRightIconX = 1792; // 1920 - 96, on the store's 64-pixel step
constexpr uint32_t kOverlayEnable = 1u << 6;
constexpr uint32_t kPiVideoEnable = 1u << 7;

bool sameBlock(const Picture& a, int ax, const Picture& b, int bx) {
    for (int y = 0; y < kIcon; ++y) {
        if (!std::equal(a.at(ax, y), a.at(ax + kIcon, y), b.at(bx, y))) {
            return false;
        }
    }
    return true;
}

bool plainBlock(const Picture& p, int x0) {
    for (int y = 0; y < kIcon; ++y) {
        for (int x = x0; x < x0 + kIcon; ++x) {
            if (!std::equal(p.at(x, y), p.at(x, y) + 3, p.at(x0, 0))) {
                return false;
            }
        }
    }
    return true;
}

int32_t guiSetting(int index) {
    switch (index) {
    case SETT_DIGITALZOOM:
        return 1; // the magnifier icon shows
    case SETT_UI_TRANSPARENCY:
        return 50;
    case SETT_UI_MENUPOSITION:
    case SETT_UI_CROSSHAIRSIZE:
        return 1;
    case SETT_UI_CROSSHAIRCOLOUR:
        return 3;
    case SETT_DISPLAY_BRIGHTNESS:
        return 100;
    case SETT_DISPLAY_CONTRAST:
        return 50;
    default:
        return 0;
    }
}

class OverlayEndToEndTest : public testing_support::EndToEndTest {
protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        std::filesystem::create_directories(home() + "/resources");
        for (const char* name : {"icon_magnifier.png", "icon_alignmentmode.png", "icon_divergentmode.png",
                                 "icon_brightnessmode.png"}) {
            std::filesystem::copy_file(std::string(OSTRIX_SOURCE_DIR "/resources/") + name,
                                       home() + "/resources/" + name);
        }
    }
    sim::DisplayFpga& fpga() { return model<sim::DisplayFpga>(); }
};

TEST_F(OverlayEndToEndTest, StartUpSetsTheGuiColoursAndMovingTheMenuMovesTheIcons) {
    StandInGui gui(guiSetting);
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));
    EXPECT_NE(controller->log().find("FPGA Settings for GUI\n"), std::string::npos);

    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(fpga().registerValue(c, 0x02) & 0xFFFFFF, 0x008080u); // the default key colour
        EXPECT_EQ(fpga().registerValue(c, 0x03), 0x8B8B8Bu);
        EXPECT_EQ(fpga().registerValue(c, 0x04), 127u);
        EXPECT_EQ(fpga().registerValue(c, 0x07), 0x454545u);
        EXPECT_EQ(fpga().registerValue(c, 0x05), 0u);
        EXPECT_EQ(fpga().registerValue(c, 0x00) & (kOverlayEnable | kPiVideoEnable),
                  kOverlayEnable | kPiVideoEnable);
        EXPECT_EQ(fpga().registerValue(c, 0x01), 255u);
        EXPECT_EQ(fpga().registerValue(c, 0x0D), 3u);
        EXPECT_EQ(fpga().registerValue(c, 0x0E), 0xF8FC00u);
        EXPECT_EQ(fpga().lutEntry(c, 200), 200u * 0x10101);
    }

    const std::string before = root() + "/before.png", after = root() + "/after.png";
    ASSERT_EQ(sim({"framestore", "save", "--overlay", "left", before}), 0);
    gui.send(tEV_ACTION | SETT_UI_MENUPOSITION, 2);
    ASSERT_TRUE(controller->waitForLog("F: Menu Position (Pixel,Line) 1120,0 = 0x00000460\n"))
        << controller->log();
    Picture a = readPng(before);
    ASSERT_EQ(a.width, 1920u);
    EXPECT_FALSE(plainBlock(a, kRightIconX));
    EXPECT_TRUE(plainBlock(a, 0));
    // The location is logged before the icons are drawn again: the picture is taken
    // until it settles.
    Picture b;
    auto moved = [&] {
        if (sim({"framestore", "save", "--overlay", "left", after}) != 0) {
            return false;
        }
        b = readPng(after);
        return b.width == 1920u && sameBlock(a, kRightIconX, b, 0) && sameBlock(a, 0, b, kRightIconX);
    };
    testing_support::waitUntil(moved, std::chrono::seconds(20));
    // The magnifier moved from the top right to the top left, and the key colour is
    // where it was.
    ASSERT_EQ(b.width, 1920u);
    EXPECT_TRUE(sameBlock(a, kRightIconX, b, 0));
    EXPECT_TRUE(sameBlock(a, 0, b, kRightIconX));
    EXPECT_EQ(fpga().registerValue(0, 0x05), 0x460u);
    EXPECT_EQ(fpga().registerValue(1, 0x05), 0x460u);
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
