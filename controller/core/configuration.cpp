#include "controller/core/configuration.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/ConfigFile.h"
#include "controller/core/devices.h"

const char* const DEFAULT_SHUTTER_ANGLES =
    "60,120,180,240,300,360,420,480,540,600,660,720,780,840,900,960,1020,"
    "1080,1140,1200,1260,1320,1380,1440,1500,1560,1620,1680,1740,1800";

namespace {
constexpr int kPngCompressionStart = 9;
constexpr int kHdrLeaveCameraValue = -1; // leave the camera's own value
} // namespace

int system_major_version = 0;
int system_minor_version = 0;
float warp_rotation_step = DEFAULT_WARP_ROTATION_STEP;
int cameraHdrGammaIndex = kHdrLeaveCameraValue;
int cameraHdrColourEnhancement = kHdrLeaveCameraValue;
uint16_t lighting_min_level = 0;
bool offinstandby = false;
bool image_horizontal_invert = false;
bool image_vertical_invert = false;
bool image_format_png = true;
int png_compression_level = kPngCompressionStart;
lens_chroma_t lens_chroma[CHANNELS][LENS_TYPES];
bool usbaliveinstandby = false;
bool splashoffearly = false;
int signal_loss_timeout = DEFAULT_SIGNAL_LOSS_TIMEOUT_S;
int screen_off_standby_timeout = DEFAULT_SCREEN_OFF_STANDBY_TIMEOUT_S;
std::string splashImageFile[CHANNELS];
bool zoomencoder = false;
std::vector<float> zoom_markings;
std::vector<float> zoom_settings;
std::string camera_shutter_angles = DEFAULT_SHUTTER_ANGLES;

namespace {

constexpr const char* kFlagOn = "1";
constexpr const char* kBmpFormat = "BMP";
constexpr size_t kListEntryText = 64;

const char* const kLensNames[LENS_TYPES] = {"LENSNONE", "LENSX033", "LENSX040", "LENSX050"};
const char* const kChannelSuffix[CHANNELS] = {"-LEFT", "-RIGHT"};
constexpr const char* kAberrationSuffix = "-ABERRATION";

// "filename" keys: an empty or missing value keeps the current name.
bool keepFilename(const ConfigFile& cfg, const char* section, const char* key, std::string& target) {
    std::string name = cfg.get_filename(section, key);
    if (name.empty()) {
        return false;
    }
    target = name;
    return true;
}

// "string" keys that keep the current value when missing or empty.
void keepString(const ConfigFile& cfg, const char* section, const char* key, std::string& target) {
    std::string value = cfg.get_string(section, key);
    if (!value.empty()) {
        target = value;
    }
}

bool flag(const ConfigFile& cfg, const char* section, const char* key) {
    return cfg.get_string(section, key) == kFlagOn;
}

// A number key, decimal or "0x" hexadecimal, into an unsigned 32-bit value (clamped).
uint32_t numberToUint32(const std::string& text) {
    const double value = std::strtod(text.c_str(), nullptr);
    if (std::isnan(value) || value <= 0) {
        return 0;
    }
    if (value >= static_cast<double>(UINT32_MAX)) {
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

// The colour keys keep the built-in colour when they are missing.
void keepNumber(const ConfigFile& cfg, const char* section, const char* key, uint32_t& target) {
    try {
        target = numberToUint32(cfg.Value(section, key));
    } catch (const char*) {
        logprintf("No entry for '[%s]%s'\n", section, key);
    }
}

// The timeouts fall back to their defaults for a missing key and for values below 1 s.
int timeoutSeconds(const ConfigFile& cfg, const char* key, int fallback) {
    const int seconds = cfg.get_int("SYSTEM", key);
    return seconds < 1 ? fallback : seconds;
}

// A missing or empty list is an empty list (the reader's own split of "" is one zero).
std::vector<float> floatList(const ConfigFile& cfg, const char* key) {
    if (cfg.get_string("SYSTEM", key).empty()) {
        return {};
    }
    return cfg.get_float_vector("SYSTEM", key);
}

void logFloatList(const char* heading, const std::vector<float>& values) {
    std::string line = heading;
    for (float value : values) {
        char entry[kListEntryText];
        std::snprintf(entry, sizeof entry, "%0.1f, ", value);
        line += entry;
    }
    line += "\n";
    logprintf("%s", line.c_str());
}

void readHdmiKeys(const ConfigFile& cfg) {
    std::string name;
    if (keepFilename(cfg, "HDMI", "edidfile", name)) {
        controller_files.edid_config_file[0] = controller_files.edid_config_file[1] = name;
        controller_files.edid_3Dconfig_file[0] = controller_files.edid_3Dconfig_file[1] = name;
    }
    keepFilename(cfg, "HDMI", "leftedidfile", controller_files.edid_config_file[0]);
    if (keepFilename(cfg, "HDMI", "rightedidfile", name)) {
        controller_files.edid_config_file[1] = controller_files.edid_3Dconfig_file[1] = name;
    }
    keepFilename(cfg, "HDMI", "left3Dedidfile", controller_files.edid_3Dconfig_file[0]);
    if (keepFilename(cfg, "HDMI", "leftSBSedidfile", controller_files.edid_SBSconfig_file[0])) {
        logprintf("found key leftSBSedidfile, value '%s'\n",
                  loggable(controller_files.edid_SBSconfig_file[0]).c_str());
    }
}

void readWarpKeys(const ConfigFile& cfg) {
    logprintf("MAIN: Reading Warp Filename\n");
    keepFilename(cfg, "WARP", "leftpixelfile", controller_files.warp_pixel_filename[0]);
    logprintf("MAIN: warp pix left = %s\n", loggable(controller_files.warp_pixel_filename[0]).c_str());
    keepFilename(cfg, "WARP", "rightpixelfile", controller_files.warp_pixel_filename[1]);
    logprintf("MAIN: warp pix right = %s\n", loggable(controller_files.warp_pixel_filename[1]).c_str());
    keepFilename(cfg, "WARP", "leftlinefile", controller_files.warp_line_filename[0]);
    logprintf("MAIN: warp line left = %s\n", loggable(controller_files.warp_line_filename[0]).c_str());
    keepFilename(cfg, "WARP", "rightlinefile", controller_files.warp_line_filename[1]);
    logprintf("MAIN: warp line right = %s\n", loggable(controller_files.warp_line_filename[1]).c_str());
    keepFilename(cfg, "WARP", "zipfile", controller_files.warp_zip_filename);
    logprintf("MAIN: warp zip = %s\n", loggable(controller_files.warp_zip_filename).c_str());
    keepString(cfg, "WARP", "warpfolder", controller_files.warp_folder);
    const float step = cfg.get_float("WARP", "warprotationstep");
    if (step != 0) {
        warp_rotation_step = step;
    }
    logprintf("MAIN: warp rotation step = %0.1f\n", warp_rotation_step);
    logprintf("MAIN: Done Reading Warp Filename\n");
}

void readCameraKeys(const ConfigFile& cfg) {
    keepFilename(cfg, "CAMERA", "algofile", controller_files.camera_crosslink_algo_file);
    keepFilename(cfg, "CAMERA", "datafile", controller_files.camera_crosslink_data_file);
    keepFilename(cfg, "CAMERA", "fpgafile", controller_files.camera_fpga_file);
    keepFilename(cfg, "CAMERA", "ucfile", controller_files.camera_uC_file);
    cameraTestPattern = cfg.get_int("CAMERA", "test_pattern");
    cameraHdrGammaIndex = cfg.get_int("CAMERA", "hdr_gamma_index");
    logprintf("MAIN: Done Reading cameraHdrGammaIndex %d\n", cameraHdrGammaIndex);
    cameraHdrColourEnhancement = cfg.get_int("CAMERA", "hdr_colour_correction");
    logprintf("MAIN: Done Reading cameraHdrColourEnhancement %d\n", cameraHdrColourEnhancement);
}

void readImageKeys(const ConfigFile& cfg) {
    image_horizontal_invert = flag(cfg, "IMAGE", "horizinvert");
    image_vertical_invert = flag(cfg, "IMAGE", "vertinvert");
    image_format_png = cfg.get_string("IMAGE", "format") != kBmpFormat;
    logprintf("Save Image Format %d\n", image_format_png ? 1 : 0);
    png_compression_level = cfg.get_int("IMAGE", "pngcompression");
}

void readLensKeys(const ConfigFile& cfg) {
    for (int channel = 0; channel < CHANNELS; ++channel) {
        for (int lens = 0; lens < LENS_TYPES; ++lens) {
            const std::string section = std::string(kLensNames[lens]) + kChannelSuffix[channel];
            lens_chroma_t& chroma = lens_chroma[channel][lens];
            chroma.redoffset = cfg.get_int(section, "redoffset");
            chroma.redstep = cfg.get_int(section, "redstep");
            chroma.greenoffset = cfg.get_int(section, "greenoffset");
            chroma.greenstep = cfg.get_int(section, "greenstep");
            chroma.blueoffset = cfg.get_int(section, "blueoffset");
            chroma.bluestep = cfg.get_int(section, "bluestep");
        }
    }
}

void readSystemKeys(const ConfigFile& cfg) {
    // Set by the file, but never cleared by it: an earlier read or start-up decision stays.
    if (flag(cfg, "SYSTEM", "standbyafterpowerup")) {
        execute_mode.standbyafterpowerup = 1;
    }
    usbaliveinstandby = flag(cfg, "SYSTEM", "usbaliveinstandby");
    splashoffearly = flag(cfg, "SYSTEM", "splashoffearly");
    signal_loss_timeout = timeoutSeconds(cfg, "signallosstimeout", DEFAULT_SIGNAL_LOSS_TIMEOUT_S);
    screen_off_standby_timeout =
        timeoutSeconds(cfg, "screenoffstandbytimeout", DEFAULT_SCREEN_OFF_STANDBY_TIMEOUT_S);
    keepString(cfg, "SYSTEM", "splashimageleft", splashImageFile[0]);
    keepString(cfg, "SYSTEM", "splashimageright", splashImageFile[1]);
    zoomencoder = flag(cfg, "SYSTEM", "zoomencoder");
    zoom_markings = floatList(cfg, "zoommarkings");
    logFloatList("MAIN: zoom markings = ", zoom_markings);
    zoom_settings = floatList(cfg, "zoomsettings");
    logFloatList("MAIN: zoom settings = ", zoom_settings);
}

// Every key, in the order of the file's documentation.
void readKeys(const ConfigFile& cfg) {
    system_major_version = cfg.get_int("SYSTEM", "majorversion");
    system_minor_version = cfg.get_int("SYSTEM", "minorversion");
    readHdmiKeys(cfg);
    readWarpKeys(cfg);
    keepFilename(cfg, "AUDIO", "initscript", controller_files.audio_init_script);
    readCameraKeys(cfg);
    lighting_min_level = static_cast<uint16_t>(cfg.get_int("LIGHTING", "minlevel"));
    keepFilename(cfg, "FPGA", "fpgafile", controller_files.vp_fpga_file);
    keepNumber(cfg, "DISPLAY", "guibackcolour", guibgcolour);
    keepNumber(cfg, "DISPLAY", "menubackcolour", menubgcolour);
    // No clock script key means no script, whatever an option had named.
    controller_files.clock_script_file = cfg.get_filename("CLOCK", "script");
    offinstandby = flag(cfg, "PSU", "offinstandby");
    readImageKeys(cfg);
    readLensKeys(cfg);
    keepString(cfg, "FPGA", "algofile", controller_files.vp_crosslink_algofile);
    keepString(cfg, "FPGA", "datafile", controller_files.vp_crosslink_datafile);
    readSystemKeys(cfg);
    keepString(cfg, "CAMERA", "shutterangle", camera_shutter_angles);
    logprintf("Camera Shutter Angles '%s'\n", loggable(camera_shutter_angles).c_str());
}

} // namespace

void reset_configuration_values() {
    system_major_version = 0;
    system_minor_version = 0;
    warp_rotation_step = DEFAULT_WARP_ROTATION_STEP;
    cameraHdrGammaIndex = kHdrLeaveCameraValue;
    cameraHdrColourEnhancement = kHdrLeaveCameraValue;
    lighting_min_level = 0;
    offinstandby = false;
    image_horizontal_invert = false;
    image_vertical_invert = false;
    image_format_png = true;
    png_compression_level = kPngCompressionStart;
    for (auto& channel : lens_chroma) {
        for (auto& lens : channel) {
            lens = lens_chroma_t{};
        }
    }
    usbaliveinstandby = false;
    splashoffearly = false;
    signal_loss_timeout = DEFAULT_SIGNAL_LOSS_TIMEOUT_S;
    screen_off_standby_timeout = DEFAULT_SCREEN_OFF_STANDBY_TIMEOUT_S;
    splashImageFile[0].clear();
    splashImageFile[1].clear();
    zoomencoder = false;
    zoom_markings.clear();
    zoom_settings.clear();
    camera_shutter_angles = DEFAULT_SHUTTER_ANGLES;
}

int read_config_file(const std::string& path) {
    logprintf("Reading Config File %s\n", loggable(path).c_str());
    if (!file_exists(path)) {
        logprintf("MAIN: Config File does not exist\n");
        return -2;
    }
    process_mem_usage();
    std::unique_ptr<ConfigFile> cfg;
    try {
        cfg = std::make_unique<ConfigFile>(path);
    } catch (const std::bad_alloc&) {
        err_printf("Failed to create ConfigFile");
        return -1;
    }
    process_mem_usage();
    readKeys(*cfg);
    cfg.reset();
    logprintf("MAIN: Reading Config File End\n");
    return 0;
}

std::vector<std::string> lens_aberration_points(const std::string& path, int lens) {
    std::vector<std::string> points;
    if (lens < 0 || lens >= LENS_TYPES) {
        return points;
    }
    const ConfigFile cfg(path);
    const std::string section = std::string(kLensNames[lens]) + kAberrationSuffix;
    const int count = cfg.get_int(section, "points");
    for (int i = 0; i < count; ++i) {
        std::string point = cfg.get_string(section, "aberration_point" + std::to_string(i));
        if (point.empty()) {
            break;
        }
        points.push_back(point);
    }
    return points;
}

void load_lens_aberration_correction(int lens) {
    if (lens < 0 || lens >= LENS_TYPES) {
        return;
    }
    const std::string section = std::string(kLensNames[lens]) + kAberrationSuffix;
    const std::string file = file_exists(ControllerFiles::default_qlm_config_file)
                                 ? ControllerFiles::default_qlm_config_file
                                 : controller_files.config_file;
    logprintf("MAIN: load_lens_aberration_correction from %s\n", section.c_str());
    logprintf("MAIN: load_lens_aberration_correction from file %s\n", loggable(file).c_str());
    if (!file_exists(file)) {
        return;
    }
    if (!camera_board) {
        return;
    }
    camera_board->resetLensAberrationPoints();
    for (const std::string& point : lens_aberration_points(file, lens)) {
        camera_board->setLensAberrationPoint(point);
    }
    camera_board->uploadLensAbberationPoints();
}
