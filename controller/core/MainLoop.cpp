// The main loop. A step that drives a device checks its pointer first; an absent device
// makes such a step do nothing.
#include "controller/core/MainLoop.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>

#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/CommandFile.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/HdmiEvents.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/camera_updates.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/core/power.h"
#include "controller/core/usb.h"
#include "controller/devices/Audio.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"

MainLoopState loop_state;
LoopTimers loop_timers;

namespace {

volatile std::sig_atomic_t terminationRequested = 0;

constexpr const char* THERMAL_ZONE_FILE = "/sys/class/thermal/thermal_zone0/temp";
constexpr size_t THERMAL_TEXT_MAX = 31; // millidegrees as decimal text, with room to spare

extern "C" void requestTermination(int) {
    terminationRequested = 1;
}

constexpr double MILLIDEGREES_PER_DEGREE = 1000.0;

// Forces the next zoom reading to be reported.
constexpr uint8_t ZOOM_UNKNOWN = 255;
// The GUI gets the optical zoom in tenths.
constexpr double ZOOM_ROUNDING = 0.05;
constexpr double ZOOM_SCALE = 10.0;
constexpr int ZOOM_ERRORS_LOGGED = 9;
// The codec is left alone after this many failed polls in a row, until a wake-up.
constexpr int AUDIO_POLL_ERRORS_TOLERATED = 9;

constexpr int CAMERA_PREPARING_SECONDS = 15;
// White balance gains that leave the colours as they are.
constexpr uint32_t NEUTRAL_WHITE_BALANCE_GAIN = 256;

// A preset-loaded message's parameter: which preset, 0 after factory defaults, or this
// after an import of settings from USB memory.
constexpr uint32_t PRESET_PARAMETER_MASK = 0xFFFF;
constexpr uint32_t PRESET_FROM_USB = 0xFFFF;
constexpr uint32_t FACTORY_DEFAULTS = 0;

// Start-up counts as complete once a setting message is handled after the request for
// the last implemented setting has gone out, so that its answer, too, still runs its
// handler whatever its value.
constexpr int LAST_INDEX_BEFORE_INIT_COMPLETE = SETT_PRESET_P3;

// Front-panel LED codes.
constexpr uint8_t LED_OPERATING = 2;
constexpr uint8_t LED_BUSY = 3;

// Fixed numbers that start the signal-loss trace lines.
constexpr int TRACE_BACKLIGHT_ON = 5862;
constexpr int TRACE_SCREENOFF_TIMER = 5876;
constexpr int TRACE_BACKLIGHT_OFF = 5891;

bool armed(timer_t timer) {
    return timer != no_timeout();
}

void setBothBacklights(bool off) {
    if (fpga) {
        fpga->setBacklightBrightness(LEFTandRIGHT,
                                     static_cast<unsigned>(shadow_settings[SETT_DISPLAY_BRIGHTNESS]), off);
    }
}

bool standbyGuardExpired() {
    return timeout_expired(&loop_timers.standbyGuard, 0, 0) != 0;
}

bool takeMessage(message_s* msg) {
    // A command-file command goes first; a queued message waits for the next pass.
    if (loop_state.typed_command) {
        loop_state.typed_command = false;
        *msg = loop_state.typed_message;
        return true;
    }
    return user_controls && user_controls->popMessage(msg) == 1;
}

// --- filters ----------------------------------------------------------------------------

void switchScreensBackOn() {
    logprintf("MAIN: turning screens back on\n");
    execute_mode.screenoff = 0;
    execute_mode.hdmiInput = 1;
    apply_display_brightness();
    start_timeout("MAIN: SCRN:", &loop_timers.screenoff, timeout_ms_from_seconds(screen_off_standby_timeout),
                  0);
    if (user_controls) {
        user_controls->ignoreKeypresses(false);
    }
}

// --- dispatch ---------------------------------------------------------------------------

void presetLoaded(uint32_t preset) {
    if (preset == PRESET_FROM_USB) {
        logprintf("MAIN: Preset from USB applied. Requesting all settings...\n");
    } else if (preset != FACTORY_DEFAULTS) {
        logprintf("MAIN: Preset number %d applied. Requesting all settings...\n", static_cast<int>(preset));
    } else {
        logprintf("MAIN: Factory reset applied. Requesting all settings...\n");
        if (execute_mode.init_complete) {
            logprintf("MAIN: Factory reset forceWhiteBalanceSettings\n");
            if (camera_board) {
                camera_board->forceWhiteBalanceSettings(
                    NEUTRAL_WHITE_BALANCE_GAIN, NEUTRAL_WHITE_BALANCE_GAIN, NEUTRAL_WHITE_BALANCE_GAIN);
            }
        } else {
            logprintf("MAIN: skip AWB reset after factory reset since initialisation not complete.\n");
        }
    }
    start_settings_collection();
}

bool isSettingMessage(uint32_t kind) {
    return kind == tEV_ACTION || kind == tEV_ACTION_BEEP || kind == tEV_UPDATE;
}

void applySetting(const message_s& msg) {
    const uint32_t index = eventParameter(msg.command);
    const auto value = static_cast<int32_t>(msg.data);
    if (index > static_cast<uint32_t>(LAST_SETTING_INDEX)) {
        // Not a setting: nothing to store it in.
        logprintf("Unimplemented Setting %d\n", static_cast<int>(index));
        setting_changed = false;
    } else {
        // Until start-up is complete every value counts as new, so that each reaches the
        // hardware once; white balance is a command and always runs.
        setting_changed = !(value == shadow_settings[index] && execute_mode.init_complete) ||
                          index == SETT_CAMERA_WHITE_BALANCE;
        shadow_settings[index] = value;
        if (setting_changed) {
            run_setting_handler(static_cast<int>(index));
        }
    }
    if (!execute_mode.init_complete &&
        loop_state.settings_collection_index > LAST_INDEX_BEFORE_INIT_COMPLETE) {
        execute_mode.init_complete = 1;
        logprintf("Settings initialisation complete\n");
    }
}

// A collection asked for in standby, or cut short by it, runs once the system is awake.
void collectDeferredSettings() {
    if (loop_state.collection_at_wakeup) {
        loop_state.collection_at_wakeup = false;
        start_settings_collection();
    }
}

void handleInStandby(uint32_t kind) {
    switch (kind) {
    case tEV_SYSUPDATE:
        logprintf("MAIN: SYSTEM UPDATE COMMAND\n");
        wake_up_power_on();
        system_update();
        // An installed update ends in a reboot: the program is being stopped, and waking
        // every device first would only hold the reboot up.
        if (termination_requested()) {
            break;
        }
        loop_state.audio_poll_error_count = 0;
        wake_up();
        collectDeferredSettings();
        break;
    case tEV_SAVELOG:
    case tEV_POWER_ON:
        if (kind == tEV_SAVELOG) {
            copy_log_to_usb();
        }
        logprintf("MAIN: POWER ON COMMAND\n");
        loop_state.audio_poll_error_count = 0;
        wake_up();
        if (fpga) {
            fpga->version();
        }
        collectDeferredSettings();
        break;
    default:
        break;
    }
}

void dispatch(const message_s& msg) {
    const uint32_t kind = eventCode(msg.command);
    if (kind == tEV_PRESETLOADED) {
        presetLoaded(msg.command & PRESET_PARAMETER_MASK);
        return;
    }
    if (!execute_mode.standby && isSettingMessage(kind)) {
        applySetting(msg);
        return;
    }
    if (execute_mode.standby) {
        handleInStandby(kind);
    } else if (kind == tEV_KEY) {
        execute_mode.screenoff = 0;
        execute_mode.hdmiInput = 1;
        handle_key(msg);
    } else if (kind == tEV_POWER_OFF) {
        logprintf("MAIN: POWER OFF COMMAND\n");
        shut_down();
    }
}

// --- settings collection ----------------------------------------------------------------

void finishSettingsCollection() {
    logprintf("MAIN: GUI settings collected\n");
    // The GUI reads the format from the data word only; the parameter bits stay 0.
    const uint32_t format = image_format_png ? 1 : 0;
    queue_gui_message(tEV_IMAGEFORMAT, format);
    logprintf("MAIN: send Image Format %d\n", static_cast<int>(format));
    loop_state.last_zoom = ZOOM_UNKNOWN;
    if (user_controls) {
        user_controls->user_control_led(LED_OPERATING);
        user_controls->enable_controls(true);
        execute_mode.controlsEnabled = 1;
        user_controls->disable_polling(false);
        splash_screen(SPLASH_OFF);
    }
    if (execute_mode.testSPI) {
        overlay_spi_test();
    }
    if (execute_mode.standbyafterpowerup) {
        execute_mode.standbyafterpowerup = 0;
        shut_down();
    }
    if (audio_codec) {
        audio_codec->headsetDetected();
    }
}

// --- polls without a message ------------------------------------------------------------

void unblankWhenDue() {
    if (execute_mode.standby || !armed(loop_timers.unblank) || !timeout_expired(&loop_timers.unblank, 0, 0)) {
        return;
    }
    logprintf("MAIN: Unblank timer expired, unblanking screens\r\n");
    if (fpga) {
        fpga->setScreenBlanking(LEFT, false);
    }
    execute_mode.screensblanked = 0;
    delete_timeout(&loop_timers.unblank);
    if (fpga) {
        fpga->setEnableWarp(LEFTandRIGHT, false);
        fpga->setEnableWarp(LEFTandRIGHT, true);
        if (right_screen_wanted()) {
            fpga->setScreenBlanking(RIGHT, false);
        }
    }
}

void syncUpdateWhenDue() {
    if (execute_mode.standby || !armed(loop_timers.syncUpdate) ||
        !timeout_expired(&loop_timers.syncUpdate, 0, 0)) {
        return;
    }
    delete_timeout(&loop_timers.syncUpdate);
    if (fpga) {
        fpga->syncPolarityUpdate();
    }
    logprintf("Sync timer expired; updated FPGA.\r\n");
    execute_mode.sync_detected = 1;
}

void checkSignalLoss(bool inputDetected) {
    if (!execute_mode.controlsEnabled) {
        return;
    }
    if (inputDetected) {
        if (!execute_mode.hdmiInput) {
            logprintf("%d backlight on - inputDetected = 1\r\n", TRACE_BACKLIGHT_ON);
            execute_mode.screenoff = 0;
            setBothBacklights(false);
            display_message(MESS_NONE, 0);
            if (user_controls) {
                user_controls->ignoreKeypresses(false);
            }
        }
        execute_mode.hdmiInput = 1;
        return;
    }
    if (execute_mode.hdmiInput && !execute_mode.pngdisplay) {
        execute_mode.hdmiInput = 0;
        logprintf("MAIN: Screen Blanking ON\n");
        logprintf("%d starting screenoffTimer (%d s) - !inputDetected\r\n", TRACE_SCREENOFF_TIMER,
                  signal_loss_timeout);
        start_timeout("MAIN: SCRN", &loop_timers.screenoff, timeout_ms_from_seconds(signal_loss_timeout), 0);
        // The receivers have no output to switch off: the screens go dark by their
        // backlights when the timer runs out.
        display_message(MESS_NO_INPUT_DETECTED, signal_loss_timeout);
    }
    if (!execute_mode.screenoff && !execute_mode.pngdisplay &&
        timeout_expired(&loop_timers.screenoff, 0, 0)) {
        logprintf("MAIN: turning off backlights\n");
        execute_mode.screenoff = 1;
        logprintf("%d backlight off - screenoffTimer expired\r\n", TRACE_BACKLIGHT_OFF);
        start_timeout("MAIN: SLEEP", &loop_timers.systemStandby,
                      timeout_ms_from_seconds(screen_off_standby_timeout), 0);
        setBothBacklights(true);
        if (user_controls) {
            user_controls->ignoreKeypresses(true);
        }
    }
    if (execute_mode.screenoff && execute_mode.standby_on_no_signal &&
        timeout_expired(&loop_timers.systemStandby, 0, 0)) {
        if (no_signal_standby) {
            no_signal_standby();
        } else {
            shut_down();
        }
    }
}

void pollHdmi() {
    ++loop_state.loopcounter;
    int inputDetected = 0;
    for (int channel = LEFT; channel <= RIGHT; ++channel) {
        poll_hdmi_transmitter(channel);
        process_hdmi_rx_events(channel, inputDetected);
    }
    unblankWhenDue();
    syncUpdateWhenDue();
    checkSignalLoss(inputDetected != 0);
}

void pollHardware() {
    if (USE_AUDIO && audio_codec && loop_state.audio_poll_error_count <= AUDIO_POLL_ERRORS_TOLERATED) {
        if (audio_codec->poll() < 0) {
            err_printf("ac->poll");
            ++loop_state.audio_poll_error_count;
        } else {
            loop_state.audio_poll_error_count = 0;
        }
    }
    if (USE_HDMI_CHIPS) {
        pollHdmi();
    }
    usb_memory_inserted();
    if (camera_board && camera_board->isConnected() == 1) {
        display_message(MESS_PREPARING_CAMERA_BOARD, CAMERA_PREPARING_SECONDS);
        if (!DEBUG_POWER_CYCLE_CAMERA_BOARD) {
            camera_board->updateSettings();
            set_up_camera_board();
            // The GUI's mirroring wins over the configured one, as at start-up.
            if (execute_mode.init_complete) {
                run_setting_handler(SETT_CAMERA_MIRROR_HORIZ);
                run_setting_handler(SETT_CAMERA_MIRROR_VERTICAL);
            }
            display_message(MESS_NONE, 0);
        }
    }
}

// --- periodic duties --------------------------------------------------------------------

void pollWarpDebug() {
    if (!execute_mode.standby && timeout_expired(&loop_timers.warpDebugPoll, WARP_DEBUG_PERIOD_MS, 0)) {
        if (fpga) {
            fpga->displayWarpDebug();
        }
    }
}

// The soak test of service builds: the camera is powered off and on again over and
// over, and every power-up that does not bring its FPGA up is counted.
void powerCycleCamera() {
    if (!camera_board) {
        logprintf("MAIN: No Camera\n");
        return;
    }
    if (execute_mode.camera_board_on && timeout_expired(&loop_timers.cameraOn, 0, 0)) {
        STATUS_T status{};
        camera_board->getStatus(&status);
        if (!status.bits.fpga_l_booted || !status.bits.fpga_r_booted) {
            err_printf("Camera FPGA Failed");
            char text[96];
            snprintf(text, sizeof text, "Camera Power On Failed in Loop %d total %d",
                     loop_state.camera_on_loop, ++loop_state.camera_on_error_count);
            err_printf(text);
        }
        camera_board->PowerOff();
        execute_mode.camera_board_on = 0;
        start_timeout("MAIN: CAM OFF ", &loop_timers.cameraOff, CAMBOARD_OFF_TIME, 0);
    } else if (!execute_mode.camera_board_on && timeout_expired(&loop_timers.cameraOff, 0, 0)) {
        camera_board->PowerOn(true);
        execute_mode.camera_board_on = 1;
        start_timeout("MAIN: CAM ON ", &loop_timers.cameraOn, CAMBOARD_ON_TIME, 0);
        ++loop_state.camera_on_loop;
        logprintf("MAIN: Camera Power On Loop %d, error count %d\n", loop_state.camera_on_loop,
                  loop_state.camera_on_error_count);
    }
}

void pollZoom() {
    if (!zoomencoder || execute_mode.standby || !camera_board ||
        !timeout_expired(&loop_timers.zoomPoll, ZOOM_POLL_PERIOD_MS, 0)) {
        return;
    }
    if (!camera_board->is_running()) {
        if (loop_state.poll_zoom_error_count++ < ZOOM_ERRORS_LOGGED) {
            logprintf("MAIN: Error getting Zoom\n");
        }
        return;
    }
    loop_state.poll_zoom_error_count = 0;
    uint32_t zoom = 0;
    if (camera_board->getZoom(&zoom) == CMD_OK && zoom != loop_state.last_zoom) {
        loop_state.last_zoom = static_cast<uint8_t>(zoom);
        queue_gui_message(tEV_ZOOMVAL, static_cast<uint32_t>((zoom + ZOOM_ROUNDING) * ZOOM_SCALE));
    }
}

void periodicDuties() {
    if (DEBUG_POWER_CYCLE_CAMERA_BOARD) {
        powerCycleCamera();
    }
    if (LOG_PI_TEMPERATURE) {
        check_core_temperature(read_core_temperature());
    }
    pollWarpDebug();
    pollZoom();
    check_command_file();
}

} // namespace

void start_screen_blanking() {
    execute_mode.screensblanked = 1;
    if (fpga) {
        fpga->setScreenBlanking(LEFTandRIGHT, true);
    }
    delete_timeout(&loop_timers.unblank);
}

void handle_message(const message_s& msg) {
    logprintf("MAIN: got message %08x:%08x\n", msg.command, msg.data);
    const uint32_t kind = eventCode(msg.command);
    if (execute_mode.standby && kind == tEV_PRESETLOADED) {
        // Nothing may light up or reach the unpowered camera in standby; the GUI that
        // asked is still there at the wake-up.
        logprintf("MAIN: Settings collection deferred to wake-up\n");
        loop_state.collection_at_wakeup = true;
        return;
    }
    if (execute_mode.screenoff && !execute_mode.standby && kind != tEV_POWER_OFF) {
        logprintf("MAIN: Message ignored when screens are off\n");
        if (kind == tEV_KEY) {
            switchScreensBackOn();
        }
        return;
    }
    if (!standbyGuardExpired()) {
        logprintf("MAIN: Message ignored during Standby Timeout period\n");
        return;
    }
    dispatch(msg);
}

void start_settings_collection() {
    loop_state.settings_collection_index = find_next_implemented_setting(0);
    loop_state.settings_collection_index =
        send_implemented_setting_request(loop_state.settings_collection_index);
}

void settings_collection_step() {
    if (loop_state.settings_collection_index > LAST_SETTING_INDEX || execute_mode.standby ||
        !standbyGuardExpired()) {
        return;
    }
    if (implemented_settings[loop_state.settings_collection_index]) {
        loop_state.settings_collection_index =
            send_implemented_setting_request(loop_state.settings_collection_index);
    } else {
        loop_state.settings_collection_index =
            find_next_implemented_setting(loop_state.settings_collection_index);
        if (loop_state.settings_collection_index <= LAST_SETTING_INDEX) {
            if (user_controls) {
                user_controls->enable_controls(false);
            }
            execute_mode.controlsEnabled = 0;
            if (user_controls) {
                user_controls->user_control_led(LED_BUSY);
            }
            loop_state.settings_collection_index =
                send_implemented_setting_request(loop_state.settings_collection_index);
        }
    }
    if (loop_state.settings_collection_index > LAST_SETTING_INDEX) {
        finishSettingsCollection();
    }
}

int read_core_temperature() {
    // Read on every pass: the zone's file stays open and is read again from its start (the
    // kernel makes its text anew on such a read), so a pass costs no path lookup. It is
    // opened again for another system root or once it was removed.
    static std::string openPath;
    static int fd = -1;
    const std::string path = platform::sysPath(THERMAL_ZONE_FILE);
    struct stat st {};
    if (fd >= 0 && (path != openPath || fstat(fd, &st) != 0 || st.st_nlink == 0)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        openPath = path;
        if (fd < 0) {
            return 0;
        }
    }
    char text[THERMAL_TEXT_MAX + 1];
    const ssize_t length = pread(fd, text, THERMAL_TEXT_MAX, 0);
    if (length <= 0) {
        return 0;
    }
    text[length] = '\0';
    int millidegrees = 0;
    return sscanf(text, "%d", &millidegrees) == 1 ? millidegrees : 0;
}

void check_core_temperature(int millidegrees) {
    const float reading = static_cast<float>(millidegrees);
    if (loop_state.temperature_check_loop_count != 0) {
        --loop_state.temperature_check_loop_count;
        const float change = reading - loop_state.lasttemp;
        if (std::fabs(change) > TEMP_CHANGE_LOG_MILLIDEGREES) {
            logprintf("MAIN: Core Temp %0.2f changed by %0.2f\n", reading / MILLIDEGREES_PER_DEGREE,
                      change / MILLIDEGREES_PER_DEGREE);
        }
    } else {
        loop_state.temperature_check_loop_count = TEMP_LOG_LOOPS;
        logprintf("MAIN: Core Temp %0.2f.\n", reading / MILLIDEGREES_PER_DEGREE);
        process_mem_usage();
        if (fpga) {
            fpga->checkPiDisplay();
        }
    }
    loop_state.lasttemp = reading;
}

bool main_loop_pass() {
    message_s msg{};
    const bool haveMessage = takeMessage(&msg);
    if (haveMessage) {
        handle_message(msg);
        settings_collection_step();
    } else {
        if (!execute_mode.standby) {
            pollHardware();
        }
        delay(IDLE_PASS_SLEEP_MS);
    }
    periodicDuties();
    return haveMessage;
}

void install_termination_handlers() {
    struct sigaction action {};
    action.sa_handler = requestTermination;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool termination_requested() {
    return terminationRequested != 0;
}

void main_loop() {
    while (execute_mode.run) {
        // A termination signal clears `run` here rather than in the handler, so that the
        // mode word is only ever written by the main thread.
        if (termination_requested()) {
            execute_mode.run = 0;
            break;
        }
        main_loop_pass();
    }
}

void LoopTimers::disarm_loop_timers() {
    for (timer_t* timer : {&screenoff, &systemStandby, &cameraOff, &cameraOn, &syncUpdate, &unblank}) {
        delete_timeout(timer);
    }
}

void reset_main_loop_state() {
    loop_state = MainLoopState{};
    loop_timers.disarm_loop_timers();
    terminationRequested = 0;
}

// ---- overlay-store SPI test ------------------------------------------------------------

namespace {
constexpr uint16_t OVERLAY_TEST_PATTERN_A = 0xAAAA;
constexpr uint16_t OVERLAY_TEST_PATTERN_B = 0x5555;
} // namespace

int overlay_spi_test_pass() {
    if (!fpga) {
        return 0;
    }
    pixel colour;
    logprintf("M: AAAA\n");
    colour.set16(OVERLAY_TEST_PATTERN_A);
    int errors = fpga->checkOverlayStore(colour);
    if (termination_requested()) {
        return errors;
    }
    logprintf("M: 5555\n");
    colour.set16(OVERLAY_TEST_PATTERN_B);
    return errors + fpga->checkOverlayStore(colour);
}

// For service use: it holds the controller until the run flag is cleared or a
// termination signal asks the program to end (a service stop).
void overlay_spi_test() {
    if (user_controls) {
        user_controls->user_control_led(LED_BUSY);
    }
    if (fpga) {
        fpga->enablePiVideo(false);
    }
    while (fpga && execute_mode.run && !termination_requested()) {
        overlay_spi_test_pass();
    }
}
