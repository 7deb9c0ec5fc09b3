// The GUI's colours and position seen from outside the controller: OstrixPi runs on the
// simulated board with a stand-in GUI; after start-up the FPGA holds what the settings
// say, and moving the menu moves the status icons in the overlay store, as the pictures
// `ostrix-sim framestore save --overlay` writes show.
#include <gtest/gtest.h>

#include <png.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/board/Board.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

extern char** environ;

namespace {

using testing_support::OstrixPiProcess;

constexpr int kIcon = 96;
constexpr int kRightIconX = 1792; // 1920 - 96, on the store's 64-pixel step
constexpr uint32_t kOverlayEnable = 1u << 6;
constexpr uint32_t kPiVideoEnable = 1u << 7;

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* at(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
};

Picture readPicture(const std::string& path) {
    Picture p;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str())) {
        png.format = PNG_FORMAT_RGB;
        p.rgb.resize(PNG_IMAGE_SIZE(png));
        if (png_image_finish_read(&png, nullptr, p.rgb.data(), 0, nullptr)) {
            p.width = png.width;
            p.height = png.height;
        }
    }
    return p;
}

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
        return 1;
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

class OverlayEndToEndTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        testing_support::writeFile(home() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
        std::filesystem::create_directories(home() + "/resources");
        for (const char* name : {"icon_magnifier.png", "icon_alignmentmode.png", "icon_divergentmode.png",
                                 "icon_brightnessmode.png"}) {
            std::filesystem::copy_file(std::string(OSTRIX_SOURCE_DIR "/resources/") + name,
                                       home() + "/resources/" + name);
        }
    }

    sim::DisplayFpga& fpga() {
        if (!board_) {
            board_ =
                std::make_unique<sim::Board>(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
        }
        return *board_->find<sim::DisplayFpga>();
    }

    // Runs ostrix-sim on the board; its exit status.
    int sim(std::vector<std::string> args) const {
        args.insert(args.begin(), std::string(OSTRIX_BIN_DIR) + "/ostrix-sim");
        args.insert(args.begin() + 1, {"--root", root()});
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    testing_support::TempDir dir_;
    std::unique_ptr<sim::Board> board_;
};

TEST_F(OverlayEndToEndTest, StartUpSetsTheGuiColoursAndMovingTheMenuMovesTheIcons) {
    StandInGui gui(guiSetting);
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    EXPECT_NE(controller.log().find("FPGA Settings for GUI\n"), std::string::npos);

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
    ASSERT_TRUE(controller.waitForLog("F: Menu Position (Pixel,Line) 1120,0 = 0x00000460\n"))
        << controller.log();
    Picture a = readPicture(before);
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
        b = readPicture(after);
        return b.width == 1920u && sameBlock(a, kRightIconX, b, 0) && sameBlock(a, 0, b, kRightIconX);
    };
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!moved() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    // The magnifier moved from the top right to the top left, and the key colour is
    // where it was.
    ASSERT_EQ(b.width, 1920u);
    EXPECT_TRUE(sameBlock(a, kRightIconX, b, 0));
    EXPECT_TRUE(sameBlock(a, 0, b, kRightIconX));
    EXPECT_EQ(fpga().registerValue(0, 0x05), 0x460u);
    EXPECT_EQ(fpga().registerValue(1, 0x05), 0x460u);
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace
