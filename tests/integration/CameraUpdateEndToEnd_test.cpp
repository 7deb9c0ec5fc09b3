// Camera updates requested on OstrixPi's command line run at start-up on the simulated
// board: the board's flashes take the files, its versions change and reach the GUI, and
// a failing update is reported while the controller carries on.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "common/messages.h"
#include "sim/camera/CameraFlashes.h"
#include "tests/support/EndToEnd.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using testing_support::OstrixPiProcess;
using testing_support::writeFile;

constexpr auto kStartUpLimit = std::chrono::seconds(120);

std::string randomText(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::string out(n, '\0');
    for (char& c : out) {
        c = static_cast<char>(random());
    }
    return out;
}

class CameraUpdateEndToEndTest : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override { return kLiveCameraConfiguration; }
    void SetUp() override {
        EndToEndTest::SetUp();
        writeFile(home() + "/fw.bin", firmware_);
        writeFile(home() + "/cam.rpd", randomText(3000, 2));
        writeFile(home() + "/algo.iea", algo_);
        writeFile(home() + "/data.ied", randomText(700, 4));
    }

    std::string flashed(size_t n, uint32_t address, int channel = -1) {
        std::string out(n, '\0');
        auto* p = reinterpret_cast<uint8_t*>(out.data());
        bool ok = channel < 0 ? camera().flashes().ucRead(address, p, n)
                              : camera().flashes().read(channel, address, p, n);
        EXPECT_TRUE(ok);
        return out;
    }

    const std::string firmware_ = randomText(2000, 1);
    const std::string algo_ = randomText(1500, 3);
};

TEST_F(CameraUpdateEndToEndTest, RequestedUpdatesRunAtStartUpAndTheNewVersionsReachTheGui) {
    StandInGui gui;
    auto controller =
        startController({"-cu", "fw.bin", "-cfpga", "cam.rpd", "-ca", "algo.iea", "-cd", "data.ied"});
    ASSERT_TRUE(settingsCollected(*controller, kStartUpLimit));
    const std::string log = controller->log();
    for (const char* line :
         {"MAIN: Camera uC update complete\n", "MAIN: Camera FPGA update complete\n",
          "MAIN: Camera Crosslink update complete\n", "CB: Camera Board Software v2.8\n"}) {
        EXPECT_EQ(OstrixPiProcess::count(log, line), 1u) << line;
    }
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAM_VERSION, 0x00020008));
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAMFPGA_VERSION, 13));
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAMXL_VERSION, 4));
    EXPECT_EQ(flashed(firmware_.size(), sim::kUcFlashBase), firmware_);
    EXPECT_EQ(flashed(algo_.size(), sim::kBridgeAreaBase + 4, 0), algo_);
    EXPECT_EQ(controller->stop(), 0);
}

TEST_F(CameraUpdateEndToEndTest, AFailedFirmwareUpdateIsReportedAndTheControllerCarriesOn) {
    ASSERT_TRUE(camera().command({"camera", "fault", "nack", "1", "3"})->ok);
    StandInGui gui;
    auto controller = startController({"-cu", "fw.bin"});
    ASSERT_TRUE(settingsCollected(*controller, kStartUpLimit));
    const std::string log = controller->log();
    EXPECT_EQ(OstrixPiProcess::count(log, "CB: ERROR: Flash Write failed at address block 00300"), 1u);
    EXPECT_EQ(OstrixPiProcess::count(log, "MAIN: ERROR: Camera uC update FAILED (8)"), 1u);
    EXPECT_EQ(OstrixPiProcess::count(log, "MAIN: Camera uC update complete\n"), 0u);
    // The board was power-cycled and runs again: it takes camera commands.
    EXPECT_EQ(OstrixPiProcess::count(log, "CB:Camera Board OFF\n"), 1u);
    EXPECT_FALSE(camera().inBootLoader());
    EXPECT_EQ(camera().settings().shutterAngles[29], 1800u);
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
