// The camera and lighting setting handlers, keys and loop polls, driving the controller's
// own camera board and lighting objects on the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "controller/camera/CameraBoard.h"
#include "controller/core/configuration.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/i2c.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/LightingModels.h"
#include "tests/unit/controller/MainLoopFixture.h"

namespace {

class CameraHandlersTest : public loop_testing::MainLoopTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        builder.withCameraBootMs(0).withManualCameraRail(true);
    }

    void SetUp() override {
        MainLoopTest::SetUp();
        model_ = board().find<sim::CameraBoardModel>();
        ASSERT_TRUE(model_->waitForLink(true));
        camera_board = std::make_unique<CameraBoard>(nullptr, nullptr, nullptr);
        camera_board->setWaits(CameraBoard::Waits{0, 2000, 0});
        i2c_ = std::make_unique<i2c_handler>(true);
        lighting = std::make_unique<LightingControl>(i2c_.get(), MIN_LEVEL);
        board().trace().clear();
    }
    void TearDown() override {
        lighting.reset();
        camera_board.reset();
        i2c_.reset();
        MainLoopTest::TearDown();
    }

    sim::CameraBoardModel& model() { return *model_; }
    sim::Ltc2625& dac() { return *board().find<sim::Ltc2625>(); }
    // Command texts the camera board received since the last clear.
    std::vector<std::string> commands() {
        std::vector<std::string> out;
        for (const auto& e : board().trace().entries(sim::TraceKind::Serial)) {
            if (e.out.size() >= 2) {
                out.emplace_back(e.out.begin() + 1, e.out.end() - 1);
            }
        }
        return out;
    }
    bool sent(const std::string& command) {
        std::vector<std::string> all = commands();
        return std::find(all.begin(), all.end(), command) != all.end();
    }
    void clear() { board().trace().clear(); }

private:
    sim::CameraBoardModel* model_ = nullptr;
    std::unique_ptr<i2c_handler> i2c_;
};

TEST_F(CameraHandlersTest, PictureSettingsReachTheCameraOnlyWithCameraSettingsOn) {
    setting(tEV_ACTION, SETT_CAMERA_GAIN, 300);
    setting(tEV_ACTION, SETT_CAMERA_EXPOSURE_TIME, 7);
    setting(tEV_ACTION, SETT_CAMERA_COLOUR_GAIN_BLUE, 6);
    EXPECT_EQ(commands(), (std::vector<std::string>{"CG 12C", "CE 07", "GG 00000100 00000100 000001be"}));
    EXPECT_EQ(loggedSinceMark("CAMERA Gain Settings\n"), 1u);
    clear();
    USE_CAMERA_SETTINGS = 0;
    setting(tEV_ACTION, SETT_CAMERA_GAIN, 301);
    setting(tEV_ACTION, SETT_CAMERA_WHITE_BALANCE, 1);
    EXPECT_TRUE(commands().empty());
    setting(tEV_ACTION, SETT_CAMERA_MIRROR_HORIZ, 5); // not a picture setting
    EXPECT_EQ(commands(), std::vector<std::string>{"CH 01"});
}

TEST_F(CameraHandlersTest, ShutterHdrChromaAndReferenceFrame) {
    setting(tEV_ACTION, SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS, 2); // only 1 switches it on
    setting(tEV_ACTION, SETT_CAMERA_SHUTTER_POSITION, 4);
    setting(tEV_ACTION, SETT_HDR_MODE, 1);
    setting(tEV_ACTION, SETT_HDR_EXPOSURE, 0x10);
    setting(tEV_ACTION, SETT_CAMERA_CHROMA_CORRECT, 1);
    setting(tEV_ACTION, SETT_CAMERA_REFERENCE_FRAME, 1);
    key(UKEY_SETREFERENCEFRAME);
    EXPECT_EQ(commands(), (std::vector<std::string>{"UHE 0", "UI 04", "CDM 01", "CDE 00000020", "GA 01",
                                                    "UHC 0", "UHC 0"}));
    EXPECT_EQ(hdr_mode, 1);
}

TEST_F(CameraHandlersTest, ForcedWhiteBalanceComesFromTheSixGainHalves) {
    setting(tEV_UPDATE, SETT_AWB_RED_LO, 0x0120);
    setting(tEV_UPDATE, SETT_AWB_RED_HI, 0x0001);
    setting(tEV_UPDATE, SETT_AWB_GREEN_LO, 0x0100);
    setting(tEV_UPDATE, SETT_AWB_GREEN_HI, 0);
    setting(tEV_UPDATE, SETT_AWB_BLUE_LO, 0x00F0);
    setting(tEV_UPDATE, SETT_AWB_BLUE_HI, 0);
    EXPECT_TRUE(commands().empty());
    setting(tEV_UPDATE, SETT_AWB_VALID, 0);
    EXPECT_TRUE(commands().empty());
    setting(tEV_UPDATE, SETT_AWB_VALID, 1);
    EXPECT_EQ(commands(), std::vector<std::string>{"CWS 01 00010120 00000100 000000F0"});
}

TEST_F(CameraHandlersTest, ProfileChangeResetsTheWhiteBalanceOnlyAfterStartUp) {
    testing_support::writeFile(home() + "/slitlamp.cc", "[COLOUR_CORRECTION]\ncamera_contrast = 9\n");
    setting(tEV_UPDATE, SETT_COLOUR_CORRECTION_PROFILE, 1);
    EXPECT_EQ(commands(), std::vector<std::string>{"CC 09"});
    EXPECT_EQ(loggedSinceMark("MAIN: skip AWB reset from CCP since initialisation not complete.\n"), 1u);
    clear();
    execute_mode.init_complete = 1;
    setting(tEV_ACTION, SETT_COLOUR_CORRECTION_PROFILE, 0);
    EXPECT_EQ(commands(), std::vector<std::string>{"CWS 01 00000100 00000100 00000100"});
    EXPECT_EQ(loggedSinceMark("MAIN: CCP forceWhiteBalanceSettings\n"), 1u);
    clear();
    handle(tEV_PRESETLOADED | 0); // factory defaults
    EXPECT_TRUE(sent("CWS 01 00000100 00000100 00000100"));
}

TEST_F(CameraHandlersTest, LensPowerLoadsThatLensesAberrationPoints) {
    testing_support::writeFile(home() + "/qlm.cfg", "[LENSX040-ABERRATION]\n"
                                                    "points = 2\n"
                                                    "aberration_point0 = 0 10 -3\n"
                                                    "aberration_point1 = 1 20 4\n"
                                                    "[LENSNONE-ABERRATION]\npoints = 0\n");
    setting(tEV_ACTION, SETT_LENSPOWER, LENSPOWER_X040);
    EXPECT_EQ(commands(), (std::vector<std::string>{"ZK 0 10 -3", "ZK 1 20 4"}));
    clear();
    setting(tEV_ACTION, SETT_LENSPOWER, LENSPOWER_NOLENS);
    setting(tEV_ACTION, SETT_LENSPOWER, 4); // no such lens
    EXPECT_TRUE(commands().empty());
    // The points are kept for the next wake-up: only the last lens's (none) are.
    camera_board->wake_up(false);
    EXPECT_FALSE(sent("ZK 0 10 -3"));
}

TEST_F(CameraHandlersTest, ChangingOneQuadrantResendsTheWholeRing) {
    setting(tEV_UPDATE, SETT_LIGHT_QUADRANT_TOP, 1);
    setting(tEV_UPDATE, SETT_LIGHT_QUADRANT_LEFT, 0);
    setting(tEV_UPDATE, SETT_LIGHT_QUADRANT_BOTTOM, 1);
    setting(tEV_UPDATE, SETT_LIGHT_QUADRANT_RIGHT, 1);
    setting(tEV_UPDATE, SETT_LIGHT_RING, 13);
    EXPECT_EQ(dac().code(RING_TOP), 2035);
    EXPECT_EQ(dac().code(RING_LEFT), 0);
    EXPECT_EQ(dac().code(RING_BOTTOM), 2035);
    markLog();
    setting(tEV_ACTION, SETT_LIGHT_QUADRANT_LEFT, 1);
    EXPECT_EQ(dac().code(RING_LEFT), 2035);
    const std::string lines = newLog();
    const size_t top = lines.find("LC: Set Lighting Channel 0 to 13\n");
    const size_t left = lines.find("LC: Set Lighting Channel 3 to 13\n");
    const size_t bottom = lines.find("LC: Set Lighting Channel 2 to 13\n");
    const size_t right = lines.find("LC: Set Lighting Channel 1 to 13\n");
    ASSERT_NE(right, std::string::npos) << lines;
    EXPECT_TRUE(top < left && left < bottom && bottom < right) << lines;
    setting(tEV_ACTION, SETT_LIGHT_SUBSTAGE, 30);
    setting(tEV_ACTION, SETT_LIGHT_AUX, -4);
    EXPECT_EQ(dac().code(SUBSTAGE), 2020);
    EXPECT_EQ(dac().code(AUXILIARY), 0);
}

TEST_F(CameraHandlersTest, ZoomIsPolledWhileTheCameraRuns) {
    zoomencoder = true;
    model().setZoom(4);
    delete_timeout(&loop_timers.zoomPoll); // due at once
    main_loop_pass();
    EXPECT_EQ(loop_state.last_zoom, 4);
    EXPECT_TRUE(sent("ZX"));
    model().unplug();
    for (int i = 0; i < 12; ++i) {
        delete_timeout(&loop_timers.zoomPoll);
        main_loop_pass();
    }
    EXPECT_FALSE(camera_board->is_running()); // the reconnection poll saw it go
    EXPECT_EQ(logged("MAIN: Error getting Zoom\n"), 9u);
    EXPECT_EQ(loop_state.poll_zoom_error_count, 12);
}

TEST_F(CameraHandlersTest, AReconnectedBoardGetsEverySettingAgain) {
    setting(tEV_ACTION, SETT_CAMERA_GAIN, 0x19);
    model().unplug();
    main_loop_pass();
    EXPECT_EQ(logged("CB: Camera Board removed\n"), 1u);
    model().plug();
    ASSERT_TRUE(model().waitForLink(true));
    clear();
    main_loop_pass();
    EXPECT_EQ(logged("CB:Camera Board new connection\n"), 1u);
    EXPECT_TRUE(sent("CG 19"));
    EXPECT_EQ(model().settings().gain, 0x19u);
    clear();
    main_loop_pass(); // nothing new
    EXPECT_TRUE(commands().empty());
}

} // namespace
