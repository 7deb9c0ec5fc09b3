// The 3D input decision and the blanking it drives, on the simulated board: the left
// receiver's source decides the FPGA's input mode, the receivers' output width and the
// blanking; losing the signal darkens the screens and, later, asks for standby.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/core/HdmiEvents.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/devices/hdmi_rx.h"
#include "controller/devices/i2c.h"
#include "controller/fpga/fpga.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/HdmiReceiver.h"
#include "tests/support/LogStamps.h"
#include "tests/support/TempRoot.h"

namespace {

using sim::HdmiReceiver;
using sim::HdmiSource;

constexpr int kControl = 0x00;
constexpr int kBacklight = 0x01;
constexpr int kMode3DShift = 9;
constexpr uint32_t kBlankBit = 1u << 11;

class HdmiEventsTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        std::filesystem::create_directories(home() + "/log");
        reset_process_state();
        reset_main_loop_state();
        reset_setting_state();
        reset_hdmi_events();
        std::memcpy(EDID, EDID_DEFAULT, EDID_SIZE);
        i2c_bus = std::make_unique<i2c_handler>(true);
        fpga = std::make_unique<ostrixFpga>("vp-quickbuild.jic", true);
        hdmi_receiver[LEFT] = std::make_unique<hdmi_rx>(LEFT, 6);
        hdmi_receiver[RIGHT] = std::make_unique<hdmi_rx>(RIGHT, 7);
        configure_hdmi_rx(LEFT, MODE3D_2D);
        configure_hdmi_rx(RIGHT, MODE3D_2D);
        ASSERT_EQ(ostrix_errstat & (ERR_CONF_HDMI_RX_LEFT | ERR_CONF_HDMI_RX_RIGHT), 0u);
        // The sources restarted after the hot-plug pulses: take those interrupts now.
        process(LEFT);
        process(RIGHT);
    }
    void TearDown() override {
        reset_hdmi_events();
        fpga.reset();
        i2c_bus.reset();
        reset_main_loop_state();
        SimBoardTest::TearDown();
    }

    // Left is added to the board before right.
    HdmiReceiver& receiver(int channel) { return *board().findAll<HdmiReceiver>().at(channel); }
    sim::DisplayFpga& fpgaModel() { return *board().find<sim::DisplayFpga>(); }
    uint32_t control(int channel) { return fpgaModel().registerValue(channel, kControl); }
    unsigned fpgaMode3D() { return (control(LEFT) >> kMode3DShift) & 3; }
    static int process(int channel) {
        int input = 0;
        process_hdmi_rx_events(channel, input);
        return input;
    }
    std::string log() const {
        return testing_support::withoutLogStamps(
            testing_support::readFile(home() + "/log/QLM_logfile_0001.log"));
    }
    static bool armed(timer_t t) { return t != no_timeout(); }
};

struct Case {
    const char* name;
    HdmiSource source;
    int mode; // MODE3D_NOT_RECOGNISED: screens stay blanked
    int outputBits;
    const char* warning; // "" for none
};

TEST_F(HdmiEventsTest, LeftSourceDecidesModeWidthAndBlanking) {
    const Case cases[] = {
        {"1080p", {true, 1920, 1080, 148.5, false}, 0, 24, ""},
        {"frame packed", {true, 1920, 2205, 148.5, true}, 1, 24, ""},
        {"frame packed fast",
         {true, 1920, 2205, 297, true},
         1,
         48,
         "WARNING: 3D mode 1 was selected while 48-bit mode is active"},
        {"side by side", {true, 3840, 1080, 297, false}, 2, 48, ""},
        {"side by side slow",
         {true, 3840, 1080, 148.5, false},
         2,
         24,
         "WARNING: 3D mode 2 was selected while 24-bit mode is active"},
        {"1080p at 100 MHz", {true, 1920, 1080, 100, false}, MODE3D_NOT_RECOGNISED, 24, ""},
        {"720p", {true, 1280, 720, 74.25, false}, MODE3D_NOT_RECOGNISED, 24, ""},
        {"720p fast", {true, 1280, 720, 297, false}, MODE3D_NOT_RECOGNISED, 48, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // From no signal (blanked) to the case's source.
        receiver(LEFT).setSource(HdmiSource{false});
        process(LEFT);
        EXPECT_TRUE(control(LEFT) & kBlankBit);
        EXPECT_FALSE(armed(loop_timers.unblank));
        const size_t mark = log().size();
        receiver(LEFT).setSource(c.source);
        EXPECT_EQ(process(LEFT), 1);
        const std::string added = log().substr(mark);
        EXPECT_EQ(receiver(LEFT).reg(HdmiReceiver::IO, 0x03), c.outputBits == 48 ? 0x54 : 0x40);
        EXPECT_EQ(receiver(RIGHT).reg(HdmiReceiver::IO, 0x03), c.outputBits == 48 ? 0x54 : 0x40);
        if (c.mode == MODE3D_NOT_RECOGNISED) {
            EXPECT_FALSE(armed(loop_timers.unblank));
            EXPECT_FALSE(armed(loop_timers.syncUpdate));
            EXPECT_TRUE(execute_mode.screensblanked);
            EXPECT_NE(added.find("ERROR: Can't determine 3D input mode"), std::string::npos);
        } else {
            EXPECT_EQ(fpgaMode3D(), static_cast<unsigned>(c.mode));
            EXPECT_EQ(execute_mode.mode3D, static_cast<unsigned>(c.mode));
            EXPECT_TRUE(armed(loop_timers.unblank));
            EXPECT_TRUE(armed(loop_timers.syncUpdate));
        }
        if (*c.warning) {
            EXPECT_NE(added.find(c.warning), std::string::npos);
        } else {
            EXPECT_EQ(added.find("WARNING: 3D mode"), std::string::npos);
        }
    }
}

TEST_F(HdmiEventsTest, RightInputBlanksItsScreenOnlyWithTwo2DStreams) {
    execute_mode.screensblanked = 0; // the unblank timer has run
    receiver(RIGHT).setSource(HdmiSource{false});
    EXPECT_EQ(process(RIGHT), 0);
    EXPECT_TRUE(control(RIGHT) & kBlankBit);
    receiver(RIGHT).setSource(HdmiSource{});
    EXPECT_EQ(process(RIGHT), 1);
    EXPECT_FALSE(control(RIGHT) & kBlankBit);

    for (const HdmiSource& threeD :
         {HdmiSource{true, 1920, 2205, 148.5, true}, HdmiSource{true, 3840, 1080, 297, false}}) {
        receiver(LEFT).setSource(threeD);
        process(LEFT);
        ASSERT_NE(execute_mode.mode3D, 0u);
        execute_mode.screensblanked = 0;
        fpga->setScreenBlanking(LEFTandRIGHT, false);
        const uint32_t before = control(RIGHT);
        const size_t mark = log().size();
        receiver(RIGHT).setSource(HdmiSource{false});
        process(RIGHT);
        EXPECT_EQ(control(RIGHT), before);
        EXPECT_EQ(log().find("Interrupt on right channel", mark), std::string::npos);
        receiver(RIGHT).setSource(HdmiSource{});
        process(RIGHT);
    }
}

TEST_F(HdmiEventsTest, InputModeSettingReconfiguresBothReceiversBehindBlankedScreens) {
    controller_files.edid_3Dconfig_file[LEFT] = "left3d.edid";
    std::string custom(EDID_SIZE, '\x3D');
    testing_support::writeFile("left3d.edid", custom);
    shadow_settings[SETT_3DINPUT_MODE] = 1;
    run_setting_handler(SETT_3DINPUT_MODE);
    EXPECT_TRUE(control(LEFT) & kBlankBit);
    EXPECT_TRUE(control(RIGHT) & kBlankBit);
    EXPECT_TRUE(armed(loop_timers.unblank));
    EXPECT_EQ(receiver(LEFT).edid()[0], 0x3D);
    EXPECT_EQ(receiver(LEFT).chipResets(), 2u);
    EXPECT_EQ(receiver(RIGHT).chipResets(), 2u);
    EXPECT_NE(log().find("Selecting EDID file left3d.edid\n"), std::string::npos);
}

TEST_F(HdmiEventsTest, SignalLossDarkensTheScreensThenAsksForStandby) {
    signal_loss_timeout = 1;
    screen_off_standby_timeout = 1;
    shadow_settings[SETT_DISPLAY_BRIGHTNESS] = 100;
    execute_mode.controlsEnabled = 1;
    int standbyRequests = 0;
    no_signal_standby = [&] { ++standbyRequests; };
    auto runUntil = [&](const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < end) {
            main_loop_pass();
        }
        return done();
    };
    main_loop_pass();
    ASSERT_TRUE(execute_mode.hdmiInput);

    receiver(LEFT).setSource(HdmiSource{false});
    receiver(RIGHT).setSource(HdmiSource{false});
    main_loop_pass();
    EXPECT_FALSE(execute_mode.hdmiInput);
    EXPECT_NE(log().find("MAIN: Screen Blanking ON\n"), std::string::npos);
    fpgaModel().setRegister(LEFT, kBacklight, 255);
    fpgaModel().setRegister(RIGHT, kBacklight, 255);
    ASSERT_TRUE(runUntil([] { return execute_mode.screenoff != 0; }));
    EXPECT_EQ(fpgaModel().registerValue(LEFT, kBacklight), 0u);
    EXPECT_EQ(fpgaModel().registerValue(RIGHT, kBacklight), 0u);
    ASSERT_TRUE(runUntil([&] { return standbyRequests > 0; }));

    // The signal comes back: the screens light up again.
    receiver(LEFT).setSource(HdmiSource{});
    main_loop_pass();
    EXPECT_FALSE(execute_mode.screenoff);
    EXPECT_TRUE(execute_mode.hdmiInput);
    EXPECT_EQ(fpgaModel().registerValue(LEFT, kBacklight), 255u);
    EXPECT_EQ(fpgaModel().registerValue(RIGHT, kBacklight), 255u);
}

} // namespace
