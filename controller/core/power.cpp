// Standby, wake-up and shut-down. Each device step checks for its device object and is
// skipped without it; nothing in a transition is fatal.
#include "controller/core/power.h"

#include "common/logfile.h"
#include "common/messages.h"
#include "common/timeout.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/ConfigFile.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/HdmiEvents.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/core/usb.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/crosslink.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"
#include "platform/wiringPi.h"

PowerHooks power_hooks;
PowerWaits power_waits;

namespace {

void setLed(uint8_t colour) {
    if (user_controls) {
        user_controls->user_control_led(colour);
    }
}

void suspendFrontPanelPolling(bool suspend) {
    if (user_controls) {
        user_controls->disable_polling(suspend);
    }
}

// Both displays' backlights, left then right.
void setBacklights(unsigned percent, bool off) {
    if (fpga) {
        fpga->setBacklightBrightness(LEFTandRIGHT, percent, off);
    }
}

unsigned displayBrightness() {
    const int32_t brightness = shadow_settings[SETT_DISPLAY_BRIGHTNESS];
    return brightness < 0 ? 0u : static_cast<unsigned>(brightness);
}

void videoReset() {
    if (fpga && !warp_verification_requested()) {
        logprintf("Video Reset\n");
        fpga->VideoReset(LEFTandRIGHT);
    }
}

// The FPGA replays its registers from its shadows; the displays light up with the
// brightness setting but stay blanked until the unblank timer has run out.
void wakeFpga() {
    if (!fpga) {
        return;
    }
    fpga->version();
    fpga->wake_up();
    setBacklights(displayBrightness(), false);
    start_screen_blanking();
    videoReset();
}

// The lighting board comes back dark; the ring segments, substage and auxiliary light
// get their levels from the settings again.
void wakeLighting() {
    if (!lighting) {
        return;
    }
    lighting->wake_up();
    for (int index : {SETT_LIGHT_RING, SETT_LIGHT_SUBSTAGE, SETT_LIGHT_AUX}) {
        run_setting_handler(index);
    }
}

void wakeHdmi() {
    for (int c = LEFT; c <= RIGHT; ++c) {
        configure_hdmi_rx(c, execute_mode.mode3D);
        configure_hdmi_tx(c);
    }
}

void enableFrontPanel() {
    if (!user_controls) {
        return;
    }
    user_controls->enable_controls(true);
    user_controls->user_control_led(LED_COLOUR_OPERATING);
    execute_mode.controlsEnabled = 1;
}

void sendImageFormat() {
    // The GUI reads the format from the data word only; the parameter bits stay 0.
    const uint32_t format = image_format_png ? 1 : 0;
    queue_gui_message(tEV_IMAGEFORMAT, format);
    logprintf("MAIN: send Image Format %d\n", static_cast<int>(format));
}

void powerCameraOn() {
    if (!camera_board) {
        return;
    }
    camera_board->PowerOn(true);
    execute_mode.camera_board_on = 1;
    start_timeout("MAIN: CAM ON ", &loop_timers.cameraOn, CAMERA_ON_MS, 0);
    ++loop_state.camera_on_loop;
}

} // namespace

void shut_down() {
    logprintf("MAIN: Going to Sleep\n");
    execute_mode.standby = 1;
    // A collection still asking stops here (no answer is acted on in standby) and starts
    // again at the wake-up.
    if (loop_state.settings_collection_index <= LAST_SETTING_INDEX) {
        loop_state.collection_at_wakeup = true;
    }
    execute_mode.screenoff = 0;
    if (user_controls) {
        user_controls->user_control_led(LED_COLOUR_BUSY);
        user_controls->enable_controls(false);
        execute_mode.controlsEnabled = 0;
    }
    queue_gui_message(tEV_EXIT, 0);
    unmount_usb();
    if (camera_board) {
        camera_board->shut_down();
    }
    if (lighting) {
        lighting->shut_down();
    }
    setBacklights(0, true);
    if (offinstandby && power_manager) {
        power_manager->VCC(false, usbaliveinstandby);
    }
    setLed(LED_COLOUR_STANDBY);
    start_timeout("MAIN: STBY ", &loop_timers.standbyGuard, STANDBY_GUARD_MS, 0);
}

void wake_up_power_on() {
    logprintf("Waking Up\n");
    setLed(LED_COLOUR_BUSY);
    execute_mode.standby = 0;
    execute_mode.pngdisplay = 0;
    system_reset(true);
    if (power_manager) {
        power_manager->VCC(true, true);
    }
    powerCameraOn();
    wake_up_clocks();
    system_reset(false);
    logprintf("wake_up_power_on() completed\n");
}

void wake_up() {
    wake_up_power_on();
    configure_crosslinks(SPLASH_CONFIGURED);
    delay(power_waits.afterCrosslinksMs);
    wakeFpga();
    if (camera_board) {
        camera_board->wake_up(true);
    }
    wakeLighting();
    wakeHdmi();
    wake_up_audio();
    videoReset();
    enableFrontPanel();
    start_timeout("WAKE: UNBLANK", &loop_timers.unblank, WAKE_UNBLANK_MS, 0);
    splash_screen(SPLASH_OFF);
    sendImageFormat();
    execute_mode.hdmiInput = 1;
    execute_mode.screenoff = 0;
    if (user_controls) {
        user_controls->ignoreKeypresses(false);
    }
}

void configure_crosslinks(int splash_on) {
    logprintf("MAIN: Configure Crosslinks with splash %d and pic %s\n", splash_on,
              loggable(splashImageFile[LEFT]).c_str());
    if (!USE_CROSSLINK) {
        return;
    }
    // The bridges share the bus with the front panel, and need the video clocks settled.
    suspendFrontPanelPolling(true);
    delay(power_waits.crosslinkSettleMs);
    for (int c = LEFT; c <= RIGHT; ++c) {
        if (power_hooks.configure_bridge) {
            power_hooks.configure_bridge(c);
        } else if (video_bridge[c]) {
            video_bridge[c]->configure();
        }
    }
    splash_screen(splash_on);
    suspendFrontPanelPolling(false);
}

void splash_screen(int mode) {
    for (int c = LEFT; c <= RIGHT; ++c) {
        std::string image;
        if (mode == SPLASH_SYSTEM_UPDATE) {
            image = controller_files.system_update_splash_image;
        } else if (mode == SPLASH_CONFIGURED) {
            image = splashImageFile[c];
        }
        if (power_hooks.bridge_splash) {
            power_hooks.bridge_splash(c, image);
        } else if (video_bridge[c]) {
            video_bridge[c]->splash_screen(mode != SPLASH_OFF, image);
        }
    }
}

void reset_power_state() {
    power_hooks = PowerHooks{};
    power_waits = PowerWaits{};
}
