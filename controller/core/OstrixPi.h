// The controller's process-wide state: its version, the mode word, the feature switches,
// the start-up fault mask, and the file names and values that options and the
// configuration file set. The main thread owns all of it.
#pragma once

#include <bit>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

constexpr int MAJORVERSION = 5;
constexpr int MINORVERSION = 15;

// The mode word. Bit 0 is the least significant; the layout is the one the bit
// constants below name.
struct EXECUTE_MODE {
    uint32_t initialise : 1;
    uint32_t run : 1;
    uint32_t standby : 1;
    uint32_t pngdisplay : 1;
    uint32_t configfile : 1;
    uint32_t standbyafterpowerup : 1;
    uint32_t verifywarpleft : 1;
    uint32_t verifywarpright : 1;
    uint32_t hdmiInput : 1;
    uint32_t screenoff : 1;
    uint32_t mode3D : 2;
    uint32_t controlsEnabled : 1;
    uint32_t standby_on_no_signal : 1;
    uint32_t camera_board_on : 1;
    uint32_t testSPI : 1;
    uint32_t init_complete : 1;
    uint32_t sync_detected : 1;
    uint32_t screensblanked : 1;
    uint32_t unused : 13;
};
static_assert(sizeof(EXECUTE_MODE) == sizeof(uint32_t));

constexpr uint32_t INITIALISE = 0x01;
constexpr uint32_t RUN = 0x02;
constexpr uint32_t STANDBY = 0x04;
constexpr uint32_t PNGDISPLAY = 0x08;
constexpr uint32_t CONFIGFILE = 0x10;
constexpr uint32_t STANDBYAFTERPOWERUP = 0x20;
constexpr uint32_t VERIFYWARPLEFT = 0x40;
constexpr uint32_t VERIFYWARPRIGHT = 0x80;

constexpr EXECUTE_MODE EXECUTE_MODE_START{.initialise = 1,
                                          .run = 1,
                                          .standby = 0,
                                          .pngdisplay = 0,
                                          .configfile = 1,
                                          .standbyafterpowerup = 0,
                                          .verifywarpleft = 0,
                                          .verifywarpright = 0,
                                          .hdmiInput = 1,
                                          .screenoff = 0,
                                          .mode3D = 0,
                                          .controlsEnabled = 0,
                                          .standby_on_no_signal = 1,
                                          .camera_board_on = 0,
                                          .testSPI = 0,
                                          .init_complete = 0,
                                          .sync_detected = 0,
                                          .screensblanked = 0,
                                          .unused = 0};

inline uint32_t execute_mode_word(EXECUTE_MODE mode) {
    return std::bit_cast<uint32_t>(mode);
}
inline EXECUTE_MODE execute_mode_from_word(uint32_t word) {
    return std::bit_cast<EXECUTE_MODE>(word);
}

extern EXECUTE_MODE execute_mode;

// True when "-vwl" or "-vwr" asked for a warp table verification: the board is then
// brought up only as far as the FPGA, and nothing is reset under the table.
bool warp_verification_requested();

// Feature switches, all on at start; "-X" switches off every one that needs a device the
// plain Raspberry Pi lacks.
extern uint8_t USE_BUS_SWITCH;
extern uint8_t USE_FPGA;
extern uint8_t USE_AUDIO;
extern uint8_t USE_CLOCKS;
extern uint8_t USE_POWER;
extern uint8_t USE_CROSSLINK;
extern uint8_t USE_HDMI_CHIPS;
extern uint8_t USE_CAMERA_SETTINGS;
extern uint8_t USE_CAMERA_BOARD;

// The start-up fault mask, only ever accumulated.
enum ostrix_errnums_t : uint32_t {
    ERR_CONF_CLKS = 0x01,
    ERR_CONF_HDMI_RX_LEFT = 0x02,
    ERR_CONF_HDMI_RX_RIGHT = 0x04,
    ERR_CONF_HDMI_TX_LEFT = 0x08,
    ERR_CONF_HDMI_TX_RIGHT = 0x10,
    ERR_NO_USER_CONTROLS = 0x20,
    ERR_NO_LIGHTING_CONTROL = 0x40,
    ERR_NO_CAMERA_BOARD = 0x80,
    ERR_ALL_ERRORS = 0xFFFFFFFF,
};
extern uint32_t ostrix_errstat;

// Arrays below are indexed by channel (LEFT 0, RIGHT 1).
constexpr int CHANNELS = 2;
constexpr int LIGHTING_CHANNELS = 6;

// Process-wide file and folder names: the defaults, and what options and the
// configuration file set. The log folder belongs to the log (logFolder()). The home,
// update, previous and USB mount folders are system paths, kept as the board names them:
// map them with platform::sysPath() where they are used as paths. reset_process_state()
// assigns a fresh one.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the compiler's own copy of the array members
struct ControllerFiles {
    // The configuration files the program reads; qlm.cfg is read in preference when present.
    static inline const std::string default_ostrix_config_file = "ostrix.cfg";
    static inline const std::string default_qlm_config_file = "qlm.cfg";

    std::string home_folder = "/home/pi/Ostrix";
    std::string update_folder = home_folder + "/update";
    std::string previous_folder = home_folder + "/previous";
    std::string tmp_image_folder = "./images/";
    std::string usb_mount_folder = "/media/usb";
    std::string config_file = default_ostrix_config_file;
    std::string alignmentfilename = "qlm-align.cfg";
    std::string warp_folder = "./warp/";
    std::string vp_fpga_file = "vp-quickbuild.jic";
    std::string clock_script_file = "Si5351A-Registers.txt";
    std::string vp_crosslink_algofile = "issue2_pcb_data.iea";
    std::string vp_crosslink_datafile = "issue2_pcb_data.ied";
    std::string camera_fpga_file = "isp.jic";
    std::string camera_crosslink_algo_file = "Camera_impl1_algo.iea";
    std::string camera_crosslink_data_file = "Camera_impl1_data.ied";
    std::string camera_uC_file = "OstrixCamera.binary";
    std::string image_filename_leader = "/QLM_";
    std::string system_update_splash_image = "system_updating.bmp";

    // Empty unless an option or the configuration file names one.
    std::string edid_config_file[CHANNELS];    // 2D input
    std::string edid_3Dconfig_file[CHANNELS];  // frame-packed 3D input
    std::string edid_SBSconfig_file[CHANNELS]; // side-by-side input
    std::string warp_line_filename[CHANNELS];
    std::string warp_pixel_filename[CHANNELS];
    std::string warp_zip_filename;
    std::string audio_init_script;
};
extern ControllerFiles controller_files;

// Values set by options and the configuration file.
extern uint32_t guibgcolour;  // RGB888, the colour the FPGA keys out as transparent
extern uint32_t menubgcolour; // RGB888
extern int cameraTestPattern; // 0 = none
extern uint16_t lighting_level[LIGHTING_CHANNELS];
extern uint16_t beep_frequency;
extern uint16_t beep_cycles; // 0 = no start-up beep

// Camera updates requested by options, run once the camera board answers.
extern int camera_uC_update;
extern int camera_fpga_update;
extern int camera_crosslink_update;

// The controller core's error form: "MAIN: ERROR: " + text, in the error colour.
void err_printf(const char* text);

// Sets every value above to its start value (the program's first step; tests use it too).
void reset_process_state();

// Parses the command line from left to right. Returns the exit status when an option ends
// the program (help, an option error), nothing when start-up goes on.
std::optional<int> parse_command_line(int argc, const char* const* argv);

// Writes the help text to standard output.
void print_help();

// Whether an argument asks for the help text.
bool asks_for_help(int argc, const char* const* argv);

// Creates the image, log and USB mount folders when missing.
void create_folders();

// Brings the hardware up. Returns the exit status when the program must end (no
// configuration file, no GPIO block, a completed warp verification), nothing when it
// goes on.
std::optional<int> at_wakeup(EXECUTE_MODE mode);
// Start-up: the FPGA's GUI and menu colours, overlay mixing and Pi video input.
void fpga_settings_for_gui();

// Brings up the display-side video bridges once the display FPGA is configured; true
// when it did.
bool try_init_crosslinks(EXECUTE_MODE mode);

// Board reset pulse, asserted (true) before the rails are switched and released after.
void system_reset(bool assert);

// The clock generator's and the audio codec's share of the wake-up from standby: the
// loaded clock table is sent again while the board is powered up, and the codec is
// configured again and gets back its volumes and mute states.
void wake_up_clocks();
void wake_up_audio();

// A termination signal (SIGTERM, SIGINT) ends the loop at its next pass instead of the
// process, so that a service stop ends with "Application terminated".
void install_termination_handlers();
bool termination_requested();

// The program: entry steps, bring-up, loop. Returns the exit status.
int OstrixPi_main(int argc, const char* const* argv);
