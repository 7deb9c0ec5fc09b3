// Bring-up of the board, in the order the hardware needs: configuration, GPIO, I2C and
// power, reset pulse with the rails switched on, front panel, clocks, video bridges,
// display FPGA, HDMI chips, camera board, audio and lighting, then the front-panel worker.
//
// A device whose object is absent is skipped (its fault bit set where it has one) and
// the bring-up goes on. Each device's creation joins its step below.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/ConfigFile.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/HdmiEvents.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/alignment.h"
#include "controller/core/camera_updates.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/core/pin_nums.h"
#include "controller/devices/Audio.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/clocks.h"
#include "controller/devices/crosslink.h"
#include "controller/devices/i2c.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"
#include "platform/wiringPi.h"

namespace {

constexpr int kExitError = -1;
constexpr int kExitVerified = 0;
constexpr unsigned kResetAssertHoldMs = 1;
constexpr unsigned kResetReleaseWaitMs = 10;
constexpr unsigned kCameraSettleMs = 2000;
constexpr uint8_t kLedBusy = 3;
// The front-panel worker's argument (not used by it).
constexpr int kUserControlsWorkerPort = 1531;

// Version messages carry major << 16 | minor.
uint32_t versionWord(int major, int minor) {
    return (static_cast<uint32_t>(major) << 16) | (static_cast<uint32_t>(minor) & 0xFFFF);
}

// "qlm.cfg" first, then `config_file`; without either the controller cannot run.
bool readConfiguration() {
    logprintf("MAIN: at_wakeup - read conf file? %d\n", execute_mode.configfile ? 1 : 0);
    if (!execute_mode.configfile) {
        return true;
    }
    if (read_config_file(ControllerFiles::default_qlm_config_file) != 0 &&
        read_config_file(controller_files.config_file) != 0) {
        err_printf("No Config File found");
        return false;
    }
    execute_mode.configfile = 0;
    return true;
}

// Every chip driver after this borrows the I2C handler.
void initialiseI2c(EXECUTE_MODE mode) {
    if (!mode.initialise) {
        return;
    }
    logprintf("MAIN: Initialising I2C Devices\r\n");
    pinMode(CONTROL_INTn_Pin, INPUT);
    process_mem_usage();
    i2c_bus = std::make_unique<i2c_handler>(USE_BUS_SWITCH != 0);
    process_mem_usage();
}

// The power manager comes before any rail is switched or any chip behind one is touched.
void createPowerManager(EXECUTE_MODE mode) {
    if (!mode.initialise) {
        return;
    }
    logprintf("MAIN: creating LTC2977\n");
    if (!i2c_bus) {
        return;
    }
    process_mem_usage();
    power_manager =
        std::make_unique<ltc2977_handler>(i2c_bus.get(), I2C_BUS_POWER_CONTROLS, I2C_BASE_LTC2977FC);
    process_mem_usage();
}

// The main rails come up while the board is held in reset.
void resetBoardAndSwitchRails() {
    system_reset(true);
    if (power_manager) {
        power_manager->VCC(true, true);
    }
    system_reset(false);
}

// The front panel also opens the GUI link, so the version messages can be queued here.
void initUserControls(EXECUTE_MODE mode) {
    if (!mode.initialise) {
        return;
    }
    logprintf("MAIN: Init User Controls\n");
    process_mem_usage();
    user_controls = std::make_unique<UserControls>();
    process_mem_usage();
    if (!user_controls->isConnected()) {
        ostrix_errstat |= ERR_NO_USER_CONTROLS;
    }
    user_controls->user_control_led(kLedBusy);
    queue_gui_message(tEV_VERSIONINFO | APP_VERSION, versionWord(MAJORVERSION, MINORVERSION));
    logprintf("MAIN: Send System Version to GUI\n");
    queue_gui_message(tEV_VERSIONINFO | SYSTEM_VERSION,
                      versionWord(system_major_version, system_minor_version));
}

// The video and system clocks must run before the bridges and the FPGA are loaded.
void configureClocks(EXECUTE_MODE mode) {
    if (!USE_CLOCKS) {
        ostrix_errstat |= ERR_CONF_CLKS;
        return;
    }
    if (!mode.initialise) {
        return;
    }
    logprintf("MAIN: Configure Clocks\r\n");
    if (!warp_verification_requested()) {
        pinMode(CLK_OEB_Pin, OUTPUT);
        digitalWrite(CLK_OEB_Pin, HIGH); // clock outputs off while the generator is set up
    }
    process_mem_usage();
    clock_generator = std::make_unique<clocks>(i2c_bus.get(), I2C_BUS_CLK_CONTROLLER);
    process_mem_usage();
    if (clock_generator->parse_clock_script(controller_files.clock_script_file) != 0) {
        ostrix_errstat |= ERR_CONF_CLKS;
    }
    digitalWrite(CLK_OEB_Pin, LOW);
}

// The panels' LED driver.
void switchOnLcdLedDriver() {
    logprintf("MAIN: LCD LED Driver\r\n");
    pinMode(LCD_LED_Pin, OUTPUT);
    digitalWrite(LCD_LED_Pin, HIGH);
}

// The display FPGA, loaded with its image, tables and settings.
void createFpga(EXECUTE_MODE mode) {
    if (!USE_FPGA || !mode.initialise) {
        return;
    }
    logprintf("MAIN: creating FPGA\n");
    process_mem_usage();
    // A warp verification reads the tables already in the FPGA's memory: no reset.
    fpga = std::make_unique<ostrixFpga>(controller_files.vp_fpga_file, !warp_verification_requested());
    process_mem_usage();
    fpga->setFPGAfile(controller_files.vp_fpga_file);
    fpga->setWarpFileNames(controller_files.warp_line_filename[LEFT],
                           controller_files.warp_pixel_filename[LEFT],
                           controller_files.warp_line_filename[RIGHT],
                           controller_files.warp_pixel_filename[RIGHT], controller_files.warp_folder);
    fpga->setWarpZipFileName(controller_files.warp_zip_filename);
    fpga->setSaveImageOrientation(image_horizontal_invert, image_vertical_invert);
    fpga->setBacklightScaling(backlightScale[LEFT], backlightScale[RIGHT]);
    fpga->setPngCompression(png_compression_level);
    queue_gui_message(uint32_t{tEV_VERSIONINFO} | FPGA_VERSION, fpga->fpgaVersion());
    if (!warp_verification_requested()) {
        logprintf("MAIN: Video Reset\n");
        fpga->VideoReset(LEFTandRIGHT);
    }
}

// Returns the exit status when a requested warp verification has run.
std::optional<int> enablePowerAndCopyWarp(EXECUTE_MODE mode) {
    if (!mode.initialise) {
        return std::nullopt;
    }
    if (USE_POWER) {
        logprintf("MAIN: Tx and Rx Power Enables\r\n");
        pinMode(TX_PWR_EN_Pin, OUTPUT);
        pinMode(RX_PWR_EN_Pin, OUTPUT);
        digitalWrite(TX_PWR_EN_Pin, HIGH);
        digitalWrite(RX_PWR_EN_Pin, HIGH);
    }
    if (!fpga) {
        return std::nullopt;
    }
    logprintf("MAIN: Copy Warp Settings to FPGA\n");
    if (mode.verifywarpleft) {
        fpga->verifyWarp(LEFT);
    }
    if (mode.verifywarpright) {
        fpga->verifyWarp(RIGHT);
    }
    if (mode.verifywarpleft || mode.verifywarpright) {
        return kExitVerified;
    }
    fpga->initialiseWarp();
    for (int c = LEFT; c <= RIGHT; ++c) {
        apply_display_shift(c, true);
        fpga->setDisplayRotation(c, WarpRotation[c]);
    }
    return std::nullopt;
}

// After the HDMI chips: the video pipelines start again from their new input.
void videoResetAfterHdmi(EXECUTE_MODE mode) {
    if (mode.initialise && fpga && !warp_verification_requested()) {
        logprintf("MAIN: Video Reset\n");
        fpga->VideoReset(LEFTandRIGHT);
    }
}

// The HDMI receivers need the clocks and the FPGA up; the transmitters follow them.
void configureHdmi(EXECUTE_MODE mode) {
    if (!mode.initialise || !USE_HDMI_CHIPS) {
        return;
    }
    logprintf("MAIN: Configure HDMI Receivers\r\n");
    // Receivers on GPIO 6 and 7, configured for the current 3D input mode; then the
    // transmitters. The FPGA's video reset is pulsed again after this.
    process_mem_usage();
    bring_up_hdmi();
    process_mem_usage();
}

// For a camera board that answered: requested updates first, so the versions and settings
// read afterwards are the new ones.
void setUpCameraBoard() {
    run_requested_camera_updates();
    set_up_camera_board();
}

} // namespace

void set_up_camera_board() {
    if (!camera_board) {
        return;
    }
    camera_board->invertHorizontalOutput(image_horizontal_invert);
    camera_board->invertVerticalOutput(image_vertical_invert);
    if (user_controls) {
        uint32_t major = 0, minor = 0, fpgaVersion = 0, xlVersion = 0;
        camera_board->firmware_version(&major, &minor);
        camera_board->fpga_version(&fpgaVersion);
        camera_board->xl_version(&xlVersion);
        queue_gui_message(uint32_t{tEV_VERSIONINFO} | CAM_VERSION,
                          versionWord(static_cast<int>(major), static_cast<int>(minor)));
        queue_gui_message(uint32_t{tEV_VERSIONINFO} | CAMFPGA_VERSION, fpgaVersion);
        queue_gui_message(uint32_t{tEV_VERSIONINFO} | CAMXL_VERSION, xlVersion);
    }
    if (cameraTestPattern != 0) {
        camera_board->setTestPatternReg(cameraTestPattern);
    }
    logprintf("MAIN: setHDRGammaIndex %d\n", cameraHdrGammaIndex);
    if (cameraHdrGammaIndex >= 0) {
        camera_board->setHDRGammaIndex(cameraHdrGammaIndex);
    }
    logprintf("MAIN: setHDRColourEnhancement %d\n", cameraHdrColourEnhancement);
    if (cameraHdrColourEnhancement >= 0) {
        camera_board->setHDRColourEnhancement(cameraHdrColourEnhancement);
    }
    camera_board->setShutterAngles(camera_shutter_angles);
    camera_board->setShutterPosition(static_cast<uint32_t>(shadow_settings[SETT_CAMERA_SHUTTER_POSITION]));
    camera_board->setShutterAutobrightness(shadow_settings[SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS] != 0);
    ostrix_errstat &= ~ERR_NO_CAMERA_BOARD;
}

namespace {

// The camera board, once its rail is on.
void initCameraBoard(EXECUTE_MODE mode) {
    if (!mode.initialise || !USE_CAMERA_BOARD) {
        return;
    }
    logprintf("MAIN: Init Camera Board '%s' '%s'\n",
              loggable(controller_files.camera_crosslink_algo_file).c_str(),
              loggable(controller_files.camera_crosslink_data_file).c_str());
    process_mem_usage();
    camera_board = std::make_unique<CameraBoard>(controller_files.camera_crosslink_algo_file.c_str(),
                                                 controller_files.camera_crosslink_data_file.c_str(),
                                                 controller_files.camera_fpga_file.c_str());
    process_mem_usage();
    camera_board->setCameraRail([](bool on) {
        if (power_manager) {
            power_manager->VCC5V0CAM(on);
        }
    });
    if (camera_board->connected()) {
        setUpCameraBoard();
    } else {
        // Requested updates are reported as not carried out rather than dropped silently.
        run_requested_camera_updates();
        ostrix_errstat |= ERR_NO_CAMERA_BOARD;
    }
    logprintf("MAIN: waiting after Camera Board init...\n");
    delay(kCameraSettleMs);
}

// Audio and lighting last: their rails and clocks are up by now.
void createAudioAndLighting(EXECUTE_MODE mode) {
    if (!mode.initialise) {
        return;
    }
    if (USE_AUDIO) {
        process_mem_usage();
        audio_codec = std::make_unique<audio>(i2c_bus.get(), controller_files.audio_init_script.c_str());
        process_mem_usage();
    }
    process_mem_usage();
    lighting = std::make_unique<LightingControl>(i2c_bus.get(), lighting_min_level);
    process_mem_usage();
    for (uint8_t channel = 0; channel < LIGHTING_CHANNELS; ++channel) {
        lighting->channel_level(channel, lighting_level[channel]);
    }
}

} // namespace

void system_reset(bool assert) {
    logprintf("System Reset %d\r\n", assert ? 0 : 1);
    pinMode(RESET_N_Pin, OUTPUT);
    if (assert) {
        // A warp verification reads the FPGA's memory: the board is not reset under it.
        if (!warp_verification_requested()) {
            digitalWrite(RESET_N_Pin, LOW);
        }
        delay(kResetAssertHoldMs);
    } else {
        delay(kResetReleaseWaitMs);
        digitalWrite(RESET_N_Pin, HIGH);
    }
}

void wake_up_clocks() {
    if (clock_generator) {
        clock_generator->configure_clocks();
    }
}

// The front panel shares the bus: its polling waits while the codec is set up again.
void wake_up_audio() {
    if (!audio_codec) {
        return;
    }
    if (user_controls) {
        user_controls->disable_polling(true);
    }
    audio_codec->wake_up();
    if (user_controls) {
        user_controls->disable_polling(false);
    }
}

// Without the GPIO lines no reset, rail, clock or FPGA step can work, and a bring-up run
// blind would end in reprogramming the FPGA's flash: the controller stops here instead,
// so the service manager sees the failure.
namespace {
bool setupGpio() {
    if (wiringPiSetupGpio() == 0) {
        return true;
    }
    const int error = errno;
    logprintferror("MAIN: ERROR: GPIO set-up failed with errno=%d (%s): the board is not driven\n", error,
                   strerror(error));
    return false;
}
} // namespace

bool try_init_crosslinks(EXECUTE_MODE mode) {
    // The bridges load through the display FPGA, which must be configured (CONF_DONE).
    if (!USE_CROSSLINK || digitalRead(CFG_CONF_DONE_Pin) != HIGH || !mode.initialise) {
        return false;
    }
    if (video_bridge[LEFT] || video_bridge[RIGHT]) {
        return true;
    }
    for (chan_t chan : {LEFT, RIGHT}) {
        process_mem_usage();
        video_bridge[chan] =
            std::make_unique<crosslink>(i2c_bus.get(), chan, controller_files.vp_crosslink_algofile,
                                        controller_files.vp_crosslink_datafile);
        process_mem_usage();
        video_bridge[chan]->version();
        video_bridge[chan]->configure();
        // The start-up picture stays up until the settings are collected, unless the
        // configuration asks for the panels' own picture at once.
        video_bridge[chan]->splash_screen(!splashoffearly, splashoffearly ? "" : splashImageFile[chan]);
    }
    const int revision = video_bridge[LEFT]->version();
    queue_gui_message(uint32_t{tEV_VERSIONINFO} | VPXL_VERSION, uint32_t(revision));
    logprintf("MAIN: Crosslink Rev %d\n", revision);
    return true;
}

std::optional<int> at_wakeup(EXECUTE_MODE mode) {
    if (!readConfiguration()) {
        return kExitError;
    }
    read_alignment_file(controller_files.alignmentfilename);
    if (!setupGpio()) {
        return kExitError;
    }
    initialiseI2c(mode);
    createPowerManager(mode);
    resetBoardAndSwitchRails();
    initUserControls(mode);
    configureClocks(mode);
    const bool bridgesUp = try_init_crosslinks(mode);
    switchOnLcdLedDriver();
    createFpga(mode);
    if (!bridgesUp) {
        try_init_crosslinks(mode); // the FPGA is configured by now
    }
    if (std::optional<int> status = enablePowerAndCopyWarp(mode)) {
        return status;
    }
    configureHdmi(mode);
    videoResetAfterHdmi(mode);
    initCameraBoard(mode);
    createAudioAndLighting(mode);
    if (mode.run && user_controls) {
        user_controls->run_user_controls(kUserControlsWorkerPort);
    }
    logprintf("MAIN: at_wakeup complete\n");
    return std::nullopt;
}

// The GUI reaches the eyepieces only through the FPGA's overlay: its background colour is
// keyed out, the menu background tinted, and the Pi's video input mixed in.
void fpga_settings_for_gui() {
    if (!fpga) {
        return;
    }
    logprintf("FPGA Settings for GUI\n");
    fpga->setGUIbgcolour(pixel(guibgcolour));
    fpga->setMenubgcolour(pixel(menubgcolour));
    fpga->enableVideoOverlay(true);
    fpga->enablePiVideo(true);
}
