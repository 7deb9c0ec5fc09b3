#include <gtest/gtest.h>

#include "controller/camera/CameraBoard.h"
#include "controller/core/MainLoop.h"
#include "controller/core/devices.h"
#include "controller/core/pin_nums.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/i2c.h"
#include "controller/input/UserControls.h"
#include "platform/wiringPi.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/AudioCodec.h"
#include "sim/chips/ClockGenerator.h"
#include "sim/chips/LightingModels.h"
#include "tests/unit/controller/ControllerTest.h"
#include "tests/unit/link/StandInGui.h"

namespace {

using controller_testing::ControllerTest;

class AtWakeupTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        // The camera board's settling wait is covered by its own test.
        USE_CAMERA_BOARD = 0;
        write("ostrix.cfg", "[SYSTEM]\nmajorversion = 2\n");
    }
    // The devices the bring-up created go while the board and the log are still there.
    void TearDown() override {
        release_devices();
        ControllerTest::TearDown();
    }

    std::optional<int> wakeUp(std::vector<const char*> args = {}) {
        args.insert(args.begin(), "OstrixPi");
        EXPECT_EQ(parse_command_line(static_cast<int>(args.size()), args.data()), std::nullopt);
        return at_wakeup(execute_mode);
    }

    // The level changes the board saw on one line, in order.
    std::vector<std::string> edges(int pin) {
        std::vector<std::string> seen;
        for (const sim::TraceEntry& e : board().trace().entries(sim::TraceKind::Gpio)) {
            if (e.channel == pin) {
                seen.push_back(e.text);
            }
        }
        return seen;
    }

    int function(int pin) { return board().pins().function(pin); }
    int level(int pin) { return board().pins().read(pin); }
};

using Edges = std::vector<std::string>;

TEST_F(AtWakeupTest, WithoutAConfigurationFileTheControllerEnds) {
    std::remove("ostrix.cfg");
    EXPECT_EQ(wakeUp(), -1);
    EXPECT_TRUE(loggedInOrder({"MAIN: at_wakeup - read conf file? 1\n", "Reading Config File qlm.cfg\n",
                               "Reading Config File ostrix.cfg\n", "MAIN: ERROR: No Config File found"}));
    EXPECT_FALSE(logged("MAIN: Initialising I2C Devices"));
    EXPECT_EQ(board().pins().setupCount(), 0u);
}

TEST_F(AtWakeupTest, QlmCfgIsReadBeforeTheConfigFile) {
    write("qlm.cfg", "[SYSTEM]\nmajorversion = 1\n");
    EXPECT_EQ(wakeUp(), std::nullopt);
    EXPECT_EQ(system_major_version, 1);
    EXPECT_FALSE(logged("Reading Config File ostrix.cfg"));
    EXPECT_FALSE(execute_mode.configfile);
}

TEST_F(AtWakeupTest, ConfigFileIsTheFallback) {
    EXPECT_EQ(wakeUp(), std::nullopt);
    EXPECT_EQ(system_major_version, 2);
    EXPECT_TRUE(loggedInOrder({"MAIN: Config File does not exist\n", "Reading Config File ostrix.cfg\n"}));
}

TEST_F(AtWakeupTest, ConfWithAMissingFileStillReadsTheDefaults) {
    EXPECT_EQ(wakeUp({"-conf", "absent.cfg"}), std::nullopt);
    EXPECT_TRUE(loggedInOrder({"MAIN: ERROR: Config file not found, reverting to default",
                               "MAIN: at_wakeup - read conf file? 1\n", "Reading Config File ostrix.cfg\n"}));
    EXPECT_EQ(system_major_version, 2);
}

TEST_F(AtWakeupTest, ConfigurationReadByConfIsNotReadAgain) {
    write("mine.cfg", "[SYSTEM]\nmajorversion = 3\n");
    EXPECT_EQ(wakeUp({"-conf", "mine.cfg"}), std::nullopt);
    EXPECT_TRUE(logged("MAIN: at_wakeup - read conf file? 0\n"));
    EXPECT_FALSE(logged("Reading Config File ostrix.cfg"));
    EXPECT_EQ(system_major_version, 3);
}

TEST_F(AtWakeupTest, BringUpDrivesTheBoardLinesInOrder) {
    EXPECT_EQ(wakeUp(), std::nullopt);
    EXPECT_EQ(board().pins().setupCount(), 1u);
    EXPECT_EQ(function(CONTROL_INTn_Pin), INPUT);
    EXPECT_EQ(function(RESET_N_Pin), OUTPUT);
    EXPECT_EQ(level(RESET_N_Pin), HIGH);
    EXPECT_EQ(function(CLK_OEB_Pin), OUTPUT);
    EXPECT_EQ(edges(CLK_OEB_Pin), (Edges{"high", "low"})); // outputs held off, then enabled
    EXPECT_EQ(function(LCD_LED_Pin), OUTPUT);
    EXPECT_EQ(level(LCD_LED_Pin), HIGH);
    EXPECT_EQ(function(TX_PWR_EN_Pin), OUTPUT);
    EXPECT_EQ(level(TX_PWR_EN_Pin), HIGH);
    EXPECT_EQ(function(RX_PWR_EN_Pin), OUTPUT);
    EXPECT_EQ(level(RX_PWR_EN_Pin), HIGH);
    // The front panel answers; no clock script is named.
    EXPECT_EQ(ostrix_errstat, uint32_t{ERR_CONF_CLKS});
    EXPECT_TRUE(
        loggedInOrder({"MAIN: Initialising I2C Devices\r\n", "MAIN: creating LTC2977\n", "System Reset 0\r\n",
                       "System Reset 1\r\n", "MAIN: Init User Controls\n", "MAIN: Configure Clocks\r\n",
                       "MAIN: LCD LED Driver\r\n", "MAIN: creating FPGA\n",
                       "MAIN: Tx and Rx Power Enables\r\n", "MAIN: Configure HDMI Receivers\r\n",
                       "MAIN: Configure HDMI Transmitters\r\n", "MAIN: at_wakeup complete\n"}));
}

TEST_F(AtWakeupTest, ClockScriptIsLoadedWhileTheClockOutputsAreHeldOff) {
    write("ostrix.cfg", "[CLOCK]\nscript = clk.txt\n");
    write("clk.txt", "1\n2\n3\n4\n5\n6\n7\n8\n9\n0x0010,0x8C\n0x00B7,0x92\n");
    EXPECT_EQ(wakeUp(), std::nullopt);
    const auto* generator = board().find<sim::ClockGenerator>();
    EXPECT_EQ(generator->loadedTable(), (std::map<uint8_t, uint8_t>{{0x10, 0x8C}, {0xB7, 0x92}}));
    EXPECT_TRUE(generator->outputsEnabled());
    EXPECT_EQ(ostrix_errstat & ERR_CONF_CLKS, 0u);
    EXPECT_TRUE(loggedInOrder({"MAIN: Configure Clocks\r\n", "CK: Parsing Clock Script 'clk.txt'\n",
                               "CK: 2 config entries\n", "MAIN: LCD LED Driver\r\n"}));
    // Power-on from standby sends the table again.
    board().find<sim::ClockGenerator>()->powerOn();
    wake_up_clocks();
    EXPECT_EQ(generator->loadedTable().size(), 2u);
}

TEST_F(AtWakeupTest, AMalformedClockScriptIsAFaultNotAnEnd) {
    write("ostrix.cfg", "[CLOCK]\nscript = clk.txt\n");
    write("clk.txt", "1\n2\n3\n4\n5\n6\n7\n8\n9\nnonsense\n");
    EXPECT_EQ(wakeUp(), std::nullopt);
    EXPECT_NE(ostrix_errstat & ERR_CONF_CLKS, 0u);
    EXPECT_TRUE(board().find<sim::ClockGenerator>()->loadedTable().empty());
    EXPECT_TRUE(logged("MAIN: at_wakeup complete\n"));
}

TEST_F(AtWakeupTest, AudioCodecIsCreatedWithItsScript) {
    write("ostrix.cfg", "[AUDIO]\ninitscript = codec.txt\n");
    write("codec.txt", "w 30 05 42\n");
    EXPECT_EQ(wakeUp(), std::nullopt);
    ASSERT_NE(audio_codec, nullptr);
    EXPECT_EQ(board().find<sim::AudioCodec>()->reg(5), 0x42);
    EXPECT_TRUE(loggedInOrder({"MAIN: Configure HDMI Transmitters\r\n", "AC: Constructing Audio interface\n",
                               "LC: Constructing Lighting Control\n"}));
}

TEST_F(AtWakeupTest, ResetPulseOfARunningBoard) {
    pinMode(RESET_N_Pin, OUTPUT);
    digitalWrite(RESET_N_Pin, HIGH);
    board().trace().clear();
    EXPECT_EQ(wakeUp(), std::nullopt);
    EXPECT_EQ(edges(RESET_N_Pin), (Edges{"low", "high"}));
}

TEST_F(AtWakeupTest, WarpVerificationLeavesResetAndClockOutputsAlone) {
    pinMode(RESET_N_Pin, OUTPUT);
    digitalWrite(RESET_N_Pin, HIGH);
    board().trace().clear();
    EXPECT_EQ(wakeUp({"-vwl"}), 0); // the verification has run: the program ends with 0
    EXPECT_TRUE(edges(RESET_N_Pin).empty());
    EXPECT_TRUE(edges(CLK_OEB_Pin).empty());
    EXPECT_EQ(function(CLK_OEB_Pin), INPUT);
}

TEST_F(AtWakeupTest, Pi3ModeSkipsTheSwitchedOffDevices) {
    EXPECT_EQ(wakeUp({"-X"}), std::nullopt);
    EXPECT_EQ(function(CLK_OEB_Pin), INPUT);
    EXPECT_EQ(function(TX_PWR_EN_Pin), INPUT);
    EXPECT_EQ(function(RX_PWR_EN_Pin), INPUT);
    EXPECT_EQ(level(LCD_LED_Pin), HIGH);
    EXPECT_NE(ostrix_errstat & ERR_CONF_CLKS, 0u);
    EXPECT_EQ(audio_codec, nullptr);
    for (const char* skipped : {"MAIN: Configure Clocks", "MAIN: creating FPGA",
                                "MAIN: Tx and Rx Power Enables", "MAIN: Configure HDMI"}) {
        EXPECT_FALSE(logged(skipped)) << skipped;
    }
    EXPECT_TRUE(logged("MAIN: Init User Controls\n"));
}

TEST_F(AtWakeupTest, WithoutInitialiseOnlyResetAndBacklightDriverRun) {
    EXPECT_EQ(wakeUp({"-I"}), std::nullopt);
    EXPECT_EQ(level(RESET_N_Pin), HIGH);
    EXPECT_EQ(level(LCD_LED_Pin), HIGH);
    for (int pin : {CLK_OEB_Pin, TX_PWR_EN_Pin, RX_PWR_EN_Pin}) {
        EXPECT_EQ(function(pin), INPUT) << pin;
        EXPECT_TRUE(edges(pin).empty()) << pin;
    }
    EXPECT_EQ(ostrix_errstat, 0u);
    for (const char* skipped :
         {"MAIN: Initialising I2C Devices", "MAIN: creating LTC2977", "MAIN: Init User Controls",
          "MAIN: Configure Clocks", "MAIN: creating FPGA"}) {
        EXPECT_FALSE(logged(skipped)) << skipped;
    }
}

class AtWakeupWithoutCameraTest : public AtWakeupTest {
protected:
    void configure(sim::BoardBuilder& builder) override { builder.withoutCameraBoard(); }
};

TEST_F(AtWakeupWithoutCameraTest, AbsentCameraBoardIsRecordedAndWaitedFor) {
    USE_CAMERA_BOARD = 1;
    EXPECT_EQ(wakeUp({"-ca", "ostrix.cfg"}), std::nullopt);
    EXPECT_NE(ostrix_errstat & ERR_NO_CAMERA_BOARD, 0u);
    EXPECT_TRUE(loggedInOrder({"MAIN: Init Camera Board 'ostrix.cfg' 'Camera_impl1_data.ied'\n",
                               "CB: Failed to Open Camera Board Port\n",
                               "MAIN: waiting after Camera Board init...\n", "MAIN: at_wakeup complete\n"}));
    EXPECT_FALSE(logged("MAIN: setHDRGammaIndex"));
    // The requested bridge update is reported as not carried out, not dropped silently.
    EXPECT_TRUE(logged("MAIN: ERROR: No Camera Board connected: camera Crosslink not updated"));
    EXPECT_EQ(camera_crosslink_update, 0);
}

// The camera board is powered by the power manager's camera rail, switched on with the
// others at step 5, and answers by step 15.
TEST_F(AtWakeupTest, CameraBoardAndLightingAreSetUpFromConfigurationAndOptions) {
    USE_CAMERA_BOARD = 1;
    write("ostrix.cfg", "[CAMERA]\ntest_pattern = 3\nhdr_gamma_index = 2\nhdr_colour_correction = -1\n"
                        "shutterangle = 10,20,30\n[IMAGE]\nhorizinvert = 1\n");
    EXPECT_EQ(wakeUp({"-l", "5", "25", "-l", "0", "1"}), std::nullopt);
    EXPECT_EQ(ostrix_errstat & ERR_NO_CAMERA_BOARD, 0u);
    const sim::CameraSettings camera = board().find<sim::CameraBoardModel>()->settings();
    EXPECT_EQ(camera.horizontalMirror, 1);
    EXPECT_EQ(camera.verticalMirror, 0);
    EXPECT_EQ(camera.testPattern[0], 3);
    EXPECT_EQ(camera.testPattern[1], 3);
    EXPECT_EQ(camera.hdrGammaIndex, 2u);
    EXPECT_EQ(camera.shutterAngles[2], 30u); // sent until the short list ran out
    EXPECT_TRUE(
        loggedInOrder({"CB: Constructor complete\n", "MAIN: setHDRGammaIndex 2\n",
                       "MAIN: setHDRColourEnhancement -1\n", "CB: setShutterAngles '10,20,30'\n",
                       "MAIN: waiting after Camera Board init...\n", "LC: Constructing Lighting Control\n",
                       "LC: Set Lighting Channel 5 to 25\n", "MAIN: at_wakeup complete\n"}));
    // Lighting with its start-up levels: substage at its maximum, the top quadrant at the minimum.
    EXPECT_EQ(board().find<sim::Ltc2625>()->code(5), 2020);
    EXPECT_EQ(board().find<sim::Ltc2625>()->code(0), 440);
    EXPECT_EQ(board().find<sim::LightingExpander>()->enables(), 0x21);
    EXPECT_EQ(level(32), HIGH);
}

// A camera board that was not there at start-up (late, re-plugged or restarting after an
// update) is found by the main loop and ends in the state a board present at start-up
// has: configured mirroring, test pattern, HDR start values and shutter angles, its
// versions at the GUI, and no camera fault recorded.
class AtWakeupLateCameraTest : public AtWakeupTest {
protected:
    void configure(sim::BoardBuilder& builder) override { builder.withCameraBootMs(0); }
};

TEST_F(AtWakeupLateCameraTest, ACameraBoardPluggedInLaterIsSetUpAsAtStartUp) {
    USE_CAMERA_BOARD = 1;
    write("ostrix.cfg", "[CAMERA]\ntest_pattern = 3\nhdr_gamma_index = 2\nhdr_colour_correction = -1\n"
                        "shutterangle = 10,20,30\n[IMAGE]\nhorizinvert = 1\n");
    sim::CameraBoardModel& model = *board().find<sim::CameraBoardModel>();
    model.unplug();
    StandInGui gui;
    ASSERT_EQ(wakeUp(), std::nullopt);
    ASSERT_NE(camera_board, nullptr);
    EXPECT_NE(ostrix_errstat & ERR_NO_CAMERA_BOARD, 0u);
    camera_board->setWaits(CameraBoard::Waits{0, 2000, 0});
    reset_main_loop_state();

    model.plug();
    ASSERT_TRUE(model.waitForLink(true));
    for (int pass = 0; pass < 200 && !logged("CB:Camera Board new connection"); ++pass) {
        main_loop_pass();
    }
    ASSERT_TRUE(logged("CB:Camera Board new connection"));
    const sim::CameraSettings camera = model.settings();
    EXPECT_EQ(camera.horizontalMirror, 1);
    EXPECT_EQ(camera.testPattern[0], 3);
    EXPECT_EQ(camera.testPattern[1], 3);
    EXPECT_EQ(camera.hdrGammaIndex, 2u);
    EXPECT_EQ(camera.shutterAngles[0], 10u);
    EXPECT_EQ(camera.shutterAngles[2], 30u);
    EXPECT_EQ(ostrix_errstat & ERR_NO_CAMERA_BOARD, 0u);
    // The GUI gets the three camera versions, which it never had from this board.
    const auto versionsAtGui = [&] {
        int seen = 0;
        for (const message_s& m : gui.received()) {
            for (uint32_t version : {CAM_VERSION, CAMFPGA_VERSION, CAMXL_VERSION}) {
                seen += m.command == (uint32_t{tEV_VERSIONINFO} | version) ? 1 : 0;
            }
        }
        return seen == 3;
    };
    for (int wait = 0; wait < 200 && !versionsAtGui(); ++wait) {
        delay(25);
    }
    EXPECT_TRUE(versionsAtGui());
    reset_main_loop_state();
}

} // namespace
