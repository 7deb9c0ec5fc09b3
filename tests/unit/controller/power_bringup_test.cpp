// Start-up on the simulated board: the I2C handler and the power manager are created and
// the main rails are switched on while the board is held in reset.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempRoot.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/devices.h"
#include "controller/devices/Audio.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/clocks.h"
#include "controller/devices/i2c.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"
#include "platform/wiringPi.h"
#include "sim/chips/Ltc2977.h"

namespace fs = std::filesystem;

namespace {

constexpr int kResetPin = 16;
constexpr uint8_t kLtc = 0x5C;

class PowerBringUpTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        fs::create_directories("log");
        testing_support::writeFile("./qlm.cfg", "");
        reset_process_state();
        USE_CAMERA_BOARD = 0; // no camera settle wait
    }
    void TearDown() override {
        release_devices();
        SimBoardTest::TearDown();
    }
    sim::Ltc2977& ltc() { return *board().find<sim::Ltc2977>(); }
};

TEST_F(PowerBringUpTest, MainRailsComeUpWhileTheBoardIsHeldInReset) {
    ASSERT_FALSE(at_wakeup(execute_mode).has_value());
    ASSERT_TRUE(i2c_bus);
    ASSERT_TRUE(power_manager);
    EXPECT_TRUE(power_manager->is_detected());
    for (int page : {0, 2, 3, 4, 6, 7}) {
        EXPECT_TRUE(ltc().railPowerGood(page)) << page;
    }
    // The reset line (low from power-on, driven low by the pulse) rises only after the
    // last rail was switched.
    int resetHigh = -1, lastRail = -1, index = 0;
    for (const auto& e : board().trace().entries()) {
        if (e.kind == sim::TraceKind::Gpio && e.channel == kResetPin) {
            EXPECT_EQ(e.text, "high");
            resetHigh = index;
        } else if (e.kind == sim::TraceKind::I2c && e.address == kLtc && e.out.size() == 2 &&
                   e.out[0] == sim::Ltc2977::OPERATION) {
            lastRail = index;
        }
        ++index;
    }
    EXPECT_GE(lastRail, 0);
    EXPECT_LT(lastRail, resetHigh);
    EXPECT_EQ(board().pins().function(kResetPin), FSEL_OUTP);
    EXPECT_EQ(board().pins().read(kResetPin), HIGH);
    const std::string text = testing_support::readFile("log/QLM_logfile_0001.log");
    EXPECT_LT(text.find("MAIN: Initialising I2C Devices\r\n"), text.find("MAIN: creating LTC2977\n"));
    EXPECT_LT(text.find("System Reset 0\r\n"), text.find("PSU: VCC 1\n"));
    EXPECT_LT(text.find("PSU: VCC 1\n"), text.find("System Reset 1\r\n"));
}

TEST_F(PowerBringUpTest, WithoutTheBusSwitchThePowerManagerIsNotFound) {
    USE_BUS_SWITCH = 0;
    ASSERT_FALSE(at_wakeup(execute_mode).has_value());
    ASSERT_TRUE(power_manager);
    EXPECT_FALSE(power_manager->is_detected());
    EXPECT_FALSE(ltc().railOn(0));
    EXPECT_NE(testing_support::readFile("log/QLM_logfile_0001.log").find("PSU: Not Detected\n"),
              std::string::npos);
}

} // namespace
