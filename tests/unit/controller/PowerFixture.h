// A controller brought up on a fresh simulated board (front panel, power manager, clocks,
// FPGA, audio, lighting and a camera board that boots at once), ready for standby and
// wake-up. Waits that only give real hardware time are shortened.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "common/timeout.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/MainLoop.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/power.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/i2c.h"
#include "controller/input/UserControls.h"
#include "sim/board/PowerView.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/AudioCodec.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FrontPanel.h"
#include "sim/chips/LightingModels.h"
#include "sim/chips/Ltc2977.h"
#include "tests/support/LogStamps.h"
#include "tests/unit/controller/ControllerTest.h"

namespace power_testing {

// Camera waits: no boot delay, up to 2 s for its link, no settling time.
inline const CameraBoard::Waits kQuickCamera{0, 2000, 0};

// The codec's headphone and speaker volume registers (page 1), numbered page x 128 + register.
constexpr int kCodecPage1 = 128;
constexpr int kCodecVolumeRegisters[] = {
    kCodecPage1 + sim::AudioCodec::kHeadphoneLeft, kCodecPage1 + sim::AudioCodec::kHeadphoneRight,
    kCodecPage1 + sim::AudioCodec::kSpeakerLeft, kCodecPage1 + sim::AudioCodec::kSpeakerRight};

class PowerTest : public controller_testing::ControllerTest {
protected:
    void configure(sim::BoardBuilder& builder) override { builder.withCameraBootMs(0); }

    void SetUp() override {
        ControllerTest::SetUp();
        reset_main_loop_state();
        reset_setting_state();
        reset_power_state();
        power_waits = PowerWaits{0, 0};
        USE_CAMERA_BOARD = 0; // created below, without the bring-up's settling wait
        write("ostrix.cfg", "[SYSTEM]\nmajorversion = 2\n");
    }

    void TearDown() override {
        release_devices();
        delete_timeout(&loop_timers.standbyGuard);
        reset_main_loop_state();
        reset_power_state();
        ControllerTest::TearDown();
    }

    // The bring-up, a camera board on the power manager's camera rail, and the standby
    // guard of the start run out.
    void bringUp() {
        const char* args[] = {"OstrixPi"};
        ASSERT_EQ(parse_command_line(1, args), std::nullopt);
        if (!withVideoChips_) {
            USE_HDMI_CHIPS = 0;
            USE_CROSSLINK = 0;
        }
        ASSERT_EQ(at_wakeup(execute_mode), std::nullopt);
        fpga_settings_for_gui(); // as the program does right after the bring-up
        ASSERT_TRUE(camera().waitForLink(true));
        camera_board = std::make_unique<CameraBoard>(nullptr, nullptr, nullptr);
        camera_board->setCameraRail([](bool on) {
            if (power_manager) {
                power_manager->VCC5V0CAM(on);
            }
        });
        camera_board->setWaits(kQuickCamera);
        delete_timeout(&loop_timers.standbyGuard);
        execute_mode.controlsEnabled = 1;
    }

    // The HDMI chips and video bridges hold no user setting; a test that cycles many times
    // leaves them out, as their tables take seconds to load on every wake-up.
    bool withVideoChips_ = true;

    // Runs the standby guard out now instead of in 5 s.
    static void endStandbyGuard() {
        start_timeout("test: STBY", &loop_timers.standbyGuard, 1, 0);
        while (!timeout_expired(&loop_timers.standbyGuard, 0, 0)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // Milliseconds left on a timer (0 when not armed or run out).
    static int64_t remainingMs(timer_t timer) {
        itimerspec left{};
        if (timer == no_timeout() || timer_gettime(timer, &left) != 0) {
            return 0;
        }
        return left.it_value.tv_sec * 1000 + left.it_value.tv_nsec / 1000000;
    }

    static void handle(uint32_t command, uint32_t data = 0) { handle_message(message_s{command, data}); }
    static void setting(int index, int32_t value) {
        handle(tEV_UPDATE | static_cast<uint32_t>(index), value);
    }

    sim::CameraBoardModel& camera() { return *board().find<sim::CameraBoardModel>(); }
    sim::Ltc2977& rails() { return *board().find<sim::Ltc2977>(); }
    sim::Ltc2625& lightLevels() { return *board().find<sim::Ltc2625>(); }
    sim::LightingExpander& lights() { return *board().find<sim::LightingExpander>(); }
    sim::AudioCodec& codec() { return *board().find<sim::AudioCodec>(); }
    sim::DisplayFpga& fpgaModel() { return *board().find<sim::DisplayFpga>(); }
    sim::FrontPanelExpander& panel() { return *board().find<sim::FrontPanelExpander>(); }
    std::string powerState() { return board().find<sim::PowerView>()->state(); }
    // The power state once it reads `want`, or what it reads after two seconds: the state
    // follows the front-panel LED, which the front panel's own thread writes.
    std::string awaitPowerState(const std::string& want) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        std::string state = powerState();
        while (state != want && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            state = powerState();
        }
        return state;
    }

    std::string log() const { return testing_support::withoutLogStamps(logText()); }
    bool loggedInOrder(std::initializer_list<std::string> texts) const {
        const std::string text = log();
        size_t at = 0;
        for (const std::string& t : texts) {
            at = text.find(t, at);
            if (at == std::string::npos) {
                ADD_FAILURE() << "not logged in order: " << t;
                return false;
            }
            at += t.size();
        }
        return true;
    }
    size_t logged(const std::string& what) const {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
            ++n;
        }
        return n;
    }

    // What the board's devices hold of the user's settings, as one comparable text.
    std::string deviceState() {
        std::ostringstream out;
        const sim::CameraSettings cam = camera().settings();
        out << "camera gain " << cam.gain << " exposure " << cam.exposureTime << " black " << cam.blackLevel
            << " sharpness " << cam.sharpness << " contrast " << cam.contrast << " mirror "
            << int(cam.horizontalMirror) << int(cam.verticalMirror) << " shutter " << cam.shutterPosition
            << " autobrightness " << int(cam.shutterAutoBrightness) << "\n";
        out << "lights";
        for (int dac = 0; dac < sim::LightingExpander::kLightChannels; ++dac) {
            out << " " << lightLevels().code(dac);
        }
        out << " enables " << int(lights().enables()) << " supply " << lights().supplyOn() << "\n";
        out << "audio";
        for (int reg : kCodecVolumeRegisters) {
            out << " " << int(codec().reg(reg));
        }
        out << "\n";
        out << "rails";
        for (int page = 0; page < sim::Ltc2977::kPages; ++page) {
            out << " " << rails().railOn(page);
        }
        out << "\nled " << panel().ledCode() << "\nfpga control";
        // Blanking is left out: a wake-up keeps the screens blanked until the main loop's
        // unblank time has run (a test of its own checks that).
        constexpr uint32_t kBlankVideoOut = 1u << 11;
        for (int c = 0; c < 2; ++c) {
            out << " " << std::hex
                << (fpgaModel().registerValue(c, sim::fpga_regs::kControl) & ~kBlankVideoOut) << std::dec;
        }
        out << "\n";
        return out.str();
    }

    // Settings the GUI gives at start-up, each reaching a different device, and the end of
    // the settings collection.
    static void applyUserSettings() {
        setting(SETT_CAMERA_GAIN, 40);
        setting(SETT_CAMERA_EXPOSURE_TIME, 120);
        setting(SETT_CAMERA_BLACK_LEVEL, 7);
        setting(SETT_LIGHT_QUADRANT_TOP, 100);
        setting(SETT_LIGHT_QUADRANT_LEFT, 50);
        setting(SETT_LIGHT_RING, 60);
        setting(SETT_LIGHT_SUBSTAGE, 30);
        setting(SETT_LIGHT_AUX, 20);
        setting(SETT_SPEAKER_VOLUME, 70);
        setting(SETT_HEADSET_VOLUME, 45);
        setting(SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS, 1);
        // The last answer ends the collection: controls on, codec output chosen.
        loop_state.settings_collection_index = LAST_SETTING_INDEX;
        settings_collection_step();
    }
};

} // namespace power_testing
