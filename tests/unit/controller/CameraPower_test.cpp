// The camera board powered from the power manager's camera rail (LTC2977 page 1), as on
// the real board: the board boots when the rail comes on and is gone when it goes off.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempRoot.h"
#include "controller/camera/CameraBoard.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/Ltc2977.h"

namespace {

constexpr int CAM_PWRON_N_Pin = 35;

class CameraPowerTest : public testing_support::SimBoardTest {
protected:
    void configure(sim::BoardBuilder& builder) override { builder.withCameraBootMs(0); }
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories("log");
    }
    sim::CameraBoardModel& model() { return *board().find<sim::CameraBoardModel>(); }
};

TEST_F(CameraPowerTest, TheBoardFollowsTheCameraRail) {
    // At board power-on the power manager has only the controller's own supply on.
    EXPECT_FALSE(model().present());
    EXPECT_EQ(digitalRead(CAM_PWRON_N_Pin), HIGH);
    i2c_handler i2c(true);
    ltc2977_handler psu(&i2c, I2C_BUS_POWER_CONTROLS, I2C_BASE_LTC2977FC);
    ASSERT_TRUE(psu.is_detected());
    // Its construction puts every rail on, the camera's too.
    EXPECT_TRUE(model().present());
    EXPECT_EQ(digitalRead(CAM_PWRON_N_Pin), LOW);
    ASSERT_TRUE(model().waitForLink(true));

    CameraBoard camera(nullptr, nullptr, nullptr);
    EXPECT_TRUE(camera.is_available());
    camera.setCameraRail([&psu](bool on) { psu.VCC5V0CAM(on); });
    camera.setGain(0x33);
    camera.shut_down();
    EXPECT_FALSE(board().find<sim::Ltc2977>()->railOn(sim::Ltc2977::kCameraPage));
    EXPECT_FALSE(model().present());
    EXPECT_FALSE(model().linkUp());
    EXPECT_TRUE(camera.is_available()); // it went off, so a wake-up waits for it

    camera.setWaits(CameraBoard::Waits{20, 2000, 0});
    camera.PowerOn(true);
    EXPECT_TRUE(model().present());
    camera.wake_up(true);
    EXPECT_TRUE(camera.is_running());
    EXPECT_EQ(model().settings().gain, 0x33u);
    EXPECT_FALSE(board().execute({"camera", "rail", "off"}).ok); // the power manager switches it
}

} // namespace
