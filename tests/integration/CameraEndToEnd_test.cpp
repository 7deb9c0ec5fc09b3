// The camera board seen from outside the controller: OstrixPi runs on the simulated
// board with a stand-in GUI; a setting changed in the GUI reaches the camera board over
// its serial link, and the board comes back with its settings after being unplugged.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::OstrixPiProcess;
using testing_support::readFile;
using testing_support::writeFile;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kWaitLimit = std::chrono::seconds(60);
constexpr uint32_t kGain = 0x2A;

template <typename Condition> bool waitFor(Condition condition) {
    const auto limit = std::chrono::steady_clock::now() + kWaitLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

class CameraEndToEndTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }
    std::string program() const { return std::string(OSTRIX_BIN_DIR) + "/OstrixPi"; }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        writeFile(home() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n[CAMERA]\ntest_pattern = 0\n");
        writeFile(home() + "/standard.cc",
                  readFile(std::string(OSTRIX_SOURCE_DIR) + "/resources/standard.cc"));
    }

    // The camera board as the board's shared state shows it, read without serving it.
    sim::CameraBoardModel& camera() {
        if (!board_) {
            board_ =
                std::make_unique<sim::Board>(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
        }
        return *board_->find<sim::CameraBoardModel>();
    }
    bool cameraReceived(const std::string& command) {
        for (const std::string& c : camera().recentCommands()) {
            if (c == command) {
                return true;
            }
        }
        return false;
    }
    bool linkListed() const {
        return std::filesystem::directory_iterator(root() + "/dev/serial/by-id") !=
               std::filesystem::directory_iterator();
    }

private:
    testing_support::TempDir dir_;
    std::unique_ptr<sim::Board> board_;
};

TEST_F(CameraEndToEndTest, CameraGainFromTheGuiReachesTheCameraBoard) {
    StandInGui gui;
    OstrixPiProcess controller(program(), root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    // The board came up with the power manager's camera rail and answered at start-up.
    EXPECT_EQ(OstrixPiProcess::count(controller.log(), "CB: Port Opened OK.\n"), 1u);
    EXPECT_EQ(OstrixPiProcess::count(controller.log(), "CB: Camera Board Software v2.7\n"), 1u);
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAM_VERSION, 0x00020007));
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAMFPGA_VERSION, 12));
    EXPECT_EQ(camera().settings().shutterAngles[29], 1800u); // the default list at start-up

    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, kGain);
    ASSERT_TRUE(waitFor([&] { return camera().settings().gain == kGain; }));
    EXPECT_TRUE(cameraReceived("CG 2A"));
    EXPECT_EQ(camera().lineSettings(), "115200 even");
    EXPECT_TRUE(controller.waitForLog("CB:setGain 42\n"));
    EXPECT_EQ(OstrixPiProcess::count(controller.log(), "CAMERA Gain Settings\n"), 2u); // collected, changed
    EXPECT_EQ(controller.stop(), 0);
    // The link went with the program that served it.
    EXPECT_FALSE(linkListed());
    EXPECT_FALSE(camera().linkUp());
}

TEST_F(CameraEndToEndTest, ARepluggedBoardGetsTheCurrentSettingsBack) {
    StandInGui gui([](int index) { return index == SETT_CAMERA_EXPOSURE_TIME ? int32_t{0x33} : int32_t{0}; });
    OstrixPiProcess controller(program(), root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();
    ASSERT_EQ(camera().settings().exposureTime, 0x33u);

    sim::CommandResult unplugged = camera().command({"camera", "unplug"}).value();
    ASSERT_TRUE(unplugged.ok);
    ASSERT_TRUE(controller.waitForLog("CB: Camera Board removed\n"));
    EXPECT_EQ(camera().settings().exposureTime, 0u);
    camera().command({"camera", "plug"});
    ASSERT_TRUE(controller.waitForLog("CB:Camera Board new connection\n"));
    EXPECT_TRUE(
        waitFor([&] { return gui.hasReceived(uint32_t{tEV_MESSAGE} | MESS_PREPARING_CAMERA_BOARD, 15000); }));
    // The wake-up waits as long as the real board needs to boot (15 s) before it sends.
    ASSERT_TRUE(waitFor([&] { return camera().settings().exposureTime == 0x33u; }));
    EXPECT_TRUE(waitFor([&] { return gui.hasReceived(uint32_t{tEV_MESSAGE} | MESS_NONE, 0); }));
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace
