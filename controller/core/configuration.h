// The controller's main configuration file ("qlm.cfg" or "ostrix.cfg") and the values
// only it sets. File names and values that options set too live in OstrixPi.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controller/core/OstrixPi.h"

// Lens types, the index of the lens sections and of the lens power setting.
enum LENSPOWER { LENSPOWER_NOLENS = 0, LENSPOWER_X033 = 1, LENSPOWER_X040 = 2, LENSPOWER_X050 = 3 };
constexpr int LENS_TYPES = 4;

// Chroma offset and step per colour, for one channel and lens.
struct lens_chroma_t {
    int redoffset = 0;
    int redstep = 0;
    int greenoffset = 0;
    int greenstep = 0;
    int blueoffset = 0;
    int bluestep = 0;
};

constexpr int DEFAULT_SIGNAL_LOSS_TIMEOUT_S = 60;
constexpr int DEFAULT_SCREEN_OFF_STANDBY_TIMEOUT_S = 300;
constexpr float DEFAULT_WARP_ROTATION_STEP = 0.2f;
extern const char* const DEFAULT_SHUTTER_ANGLES;

extern int system_major_version;
extern int system_minor_version;
extern float warp_rotation_step; // degrees per alignment rotation key
extern int cameraHdrGammaIndex;  // applied at start-up when >= 0
extern int cameraHdrColourEnhancement;
extern uint16_t lighting_min_level;
extern bool offinstandby;
extern bool image_horizontal_invert; // saved images and camera output
extern bool image_vertical_invert;
extern bool image_format_png; // false: BMP
extern int png_compression_level;
extern lens_chroma_t lens_chroma[CHANNELS][LENS_TYPES];
extern bool usbaliveinstandby;
extern bool splashoffearly;
extern int signal_loss_timeout;        // seconds without input before the screens go off
extern int screen_off_standby_timeout; // seconds with screens off before standby
extern std::string splashImageFile[CHANNELS];
extern bool zoomencoder;
extern std::vector<float> zoom_markings;
extern std::vector<float> zoom_settings;
extern std::string camera_shutter_angles; // comma-separated list

// Sets the values above to their start values.
void reset_configuration_values();

// Reads every key of the file. Returns 0 when read, -2 when the file does not exist,
// -1 when the reader could not be created.
int read_config_file(const std::string& path);

// The lens aberration points of one lens from a configuration file, in order. A missing
// point ends the list (the camera would get an empty point).
std::vector<std::string> lens_aberration_points(const std::string& path, int lens);

// Loads the aberration points of a lens into the camera board when the lens power
// setting changes.
void load_lens_aberration_correction(int lens);
