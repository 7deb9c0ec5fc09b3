// The controller program's entry: version banner, folders, standby guard, options,
// bring-up, then the loop until `run` is cleared.
#include "controller/core/OstrixPi.h"

#include <cerrno>
#include <sys/stat.h>

#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/MainLoop.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/devices/Audio.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/clocks.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"
#include "platform/platform.h"

namespace {

// Start values of the values below; reset_process_state() restores them.
namespace defaults {
// The GUI fills its window with this teal, which the FPGA keys out as transparent, and
// draws its menus on this grey.
constexpr uint32_t guibgcolour = 0x008080;
constexpr uint32_t menubgcolour = 0x8B8B8B;
} // namespace defaults

} // namespace

EXECUTE_MODE execute_mode = EXECUTE_MODE_START;

uint8_t USE_BUS_SWITCH = 1;
uint8_t USE_FPGA = 1;
uint8_t USE_AUDIO = 1;
uint8_t USE_CLOCKS = 1;
uint8_t USE_POWER = 1;
uint8_t USE_CROSSLINK = 1;
uint8_t USE_HDMI_CHIPS = 1;
uint8_t USE_CAMERA_SETTINGS = 1;
uint8_t USE_CAMERA_BOARD = 1;

uint32_t ostrix_errstat = 0;

ControllerFiles controller_files;

uint32_t guibgcolour = defaults::guibgcolour;
uint32_t menubgcolour = defaults::menubgcolour;
int cameraTestPattern = 0;
uint16_t lighting_level[LIGHTING_CHANNELS] = {};
uint16_t beep_frequency = 0;
uint16_t beep_cycles = 0;

int camera_uC_update = 0;
int camera_fpga_update = 0;
int camera_crosslink_update = 0;

namespace {

constexpr mode_t kNewFolderMode = 0666;
constexpr int kStandbyGuardMs = 1;
constexpr int kZoomPollMs = 100;
constexpr int kWarpDebugPollMs = 10000;

void setFeatureSwitches() {
    USE_BUS_SWITCH = USE_FPGA = USE_AUDIO = USE_CLOCKS = USE_POWER = 1;
    USE_CROSSLINK = USE_HDMI_CHIPS = USE_CAMERA_SETTINGS = USE_CAMERA_BOARD = 1;
}

void setOptionValues() {
    guibgcolour = defaults::guibgcolour;
    menubgcolour = defaults::menubgcolour;
    cameraTestPattern = 0;
    for (uint16_t& level : lighting_level) {
        level = 0;
    }
    beep_frequency = 0;
    beep_cycles = 0;
    camera_uC_update = camera_fpga_update = camera_crosslink_update = 0;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void createFolder(const std::string& folder, const char* failure) {
    if (isDirectory(folder)) {
        return;
    }
    if (::mkdir(folder.c_str(), kNewFolderMode) != 0) {
        err_printf(failure);
    }
    // The folder is created without search permission; this opens it to every user.
    platform::shell("sudo chmod 777 " + platform::shellQuote(folder));
}

} // namespace

bool warp_verification_requested() {
    return execute_mode.verifywarpleft || execute_mode.verifywarpright;
}

void err_printf(const char* text) {
    logprintferror("MAIN: ERROR: %s", text);
}

void reset_process_state() {
    execute_mode = EXECUTE_MODE_START;
    ostrix_errstat = 0;
    setFeatureSwitches();
    controller_files = ControllerFiles{};
    setOptionValues();
    reset_configuration_values();
}

void create_folders() {
    createFolder(controller_files.tmp_image_folder, "Failed to create 'image' folder");
    createFolder(logFolder(), "Failed to create 'log' folder");
    createFolder(platform::sysPath(controller_files.usb_mount_folder), "Failed to create 'usb' folder");
}

int OstrixPi_main(int argc, const char* const* argv) {
    // Help needs no hardware: without a board it is printed before anything reaches for one.
    if (!platform::boardChosen() && asks_for_help(argc, argv)) {
        print_help();
        return 0;
    }
    install_termination_handlers();
    reset_process_state();

    logprintf("QLM Initialise and User Controls v%d.%d\n", MAJORVERSION, MINORVERSION);
    process_mem_usage();
    create_folders();
    // GUI messages are acted on only once this guard has run out.
    start_timeout("MAIN: STBY: ", &loop_timers.standbyGuard, kStandbyGuardMs, 0);
    execute_mode = EXECUTE_MODE_START;
    ostrix_errstat = 0;

    if (std::optional<int> status = parse_command_line(argc, argv)) {
        return *status;
    }
    logprintf("Command Line checked\n");

    if (std::optional<int> status = at_wakeup(execute_mode)) {
        release_devices(); // they log as they go: before the log's statics
        return *status;
    }

    if (beep_cycles != 0 && audio_codec) {
        audio_codec->beep(beep_frequency, beep_cycles);
    }
    fpga_settings_for_gui();

    logprintf("Main System Execution Block\n");
    if (execute_mode.run) {
        start_settings_collection();
        logprintf("Entering endless loop...\n");
        process_mem_usage();
    } else {
        logprintf("Run Mode not selected\n");
    }
    start_timeout("MAIN: Zoom Poll ", &loop_timers.zoomPoll, kZoomPollMs, 0);
    start_timeout("MAIN: Warp Debug Poll ", &loop_timers.warpDebugPoll, kWarpDebugPollMs, 0);

    main_loop();

    logprintf("Application terminated\n");
    release_devices(); // before the process's statics go
    return 0;
}
