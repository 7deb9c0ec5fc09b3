#include "controller/core/alignment.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "common/logfile.h"
#include "common/messages.h"
#include "controller/core/ConfigFile.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/fpga/fpga.h"
#include "platform/platform.h"

int WarpPixelSourceOffset[2] = {};
int WarpLineSourceOffset[2] = {};
float WarpRotation[2] = {};

namespace {

constexpr int ALIGN_MESSAGE_SECONDS = 3;
constexpr uint32_t ALIGN_MODE_ENTER = 1;
constexpr uint32_t ALIGN_MODE_LEAVE = 0;
constexpr int HIGHEST_CHANNEL = 1;
constexpr const char* WARP_SECTION = "WARP";
constexpr const char* BACKLIGHT_SECTION = "BACKLIGHT";
constexpr const char* WARP_KEYS[6] = {"WarpPixelSourceOffsetLeft", "WarpPixelSourceOffsetRight",
                                      "WarpLineSourceOffsetLeft",  "WarpLineSourceOffsetRight",
                                      "WarpRotationLeft",          "WarpRotationRight"};

int clampOffset(double value) {
    return std::clamp(config_double_to_int(value), WarpOffsetMin, WarpOffsetMax);
}

float clampRotation(double value) {
    return std::clamp(config_double_to_float(value), -WarpRotationMax, WarpRotationMax);
}

unsigned clampScale(double value) {
    return static_cast<unsigned>(std::clamp(config_double_to_int(value),
                                            static_cast<int>(BACKLIGHT_SCALE_MIN),
                                            static_cast<int>(BACKLIGHT_SCALE_MAX)));
}

// Values the file holds are taken within the ranges the keys keep them in, so a hand-edited
// file cannot shift the picture out of reach of the keys.
void readWarpValues(const ConfigFile& cfg) {
    try {
        double v[6];
        for (int i = 0; i < 6; ++i) {
            v[i] = cfg.Value(WARP_SECTION, WARP_KEYS[i]);
        }
        WarpPixelSourceOffset[LEFT] = clampOffset(v[0]);
        WarpPixelSourceOffset[RIGHT] = clampOffset(v[1]);
        WarpLineSourceOffset[LEFT] = clampOffset(v[2]);
        WarpLineSourceOffset[RIGHT] = clampOffset(v[3]);
        WarpRotation[LEFT] = clampRotation(v[4]);
        WarpRotation[RIGHT] = clampRotation(v[5]);
    } catch (const char*) {
        reset_alignment();
    }
}

void readSeparation(const ConfigFile& cfg) {
    try {
        const int separation = config_double_to_int(cfg.Value(WARP_SECTION, "separation"));
        if (separation > StereoSeparationMax) {
            logprintferror("MAIN: Alignment separation %d too large, %d used", separation,
                           StereoSeparationMax);
        }
        StereoSeparation = std::clamp(separation, 0, StereoSeparationMax);
    } catch (const char*) {
        StereoSeparation = 0;
    }
}

void readBacklightScales(const ConfigFile& cfg) {
    try {
        double left = cfg.Value(BACKLIGHT_SECTION, "BacklightScaleLeft");
        double right = cfg.Value(BACKLIGHT_SECTION, "BacklightScaleRight");
        backlightScale[LEFT] = clampScale(left);
        backlightScale[RIGHT] = clampScale(right);
    } catch (const char*) {
        backlightScale[LEFT] = backlightScale[RIGHT] = BACKLIGHT_SCALE_MAX;
    }
}

std::string alignmentText() {
    std::ostringstream s;
    s << "[WARP]\n"
      << "WarpPixelSourceOffsetLeft = " << WarpPixelSourceOffset[LEFT] << "\n"
      << "WarpPixelSourceOffsetRight = " << WarpPixelSourceOffset[RIGHT] << "\n"
      << "WarpLineSourceOffsetLeft = " << WarpLineSourceOffset[LEFT] << "\n"
      << "WarpLineSourceOffsetRight = " << WarpLineSourceOffset[RIGHT] << "\n"
      << "WarpRotationLeft = " << WarpRotation[LEFT] << "\n"
      << "WarpRotationRight = " << WarpRotation[RIGHT] << "\n"
      << "separation = " << StereoSeparation << "\n"
      << "[BACKLIGHT]\n"
      << "BacklightScaleLeft = " << backlightScale[LEFT] << "\n"
      << "BacklightScaleRight = " << backlightScale[RIGHT] << "\n";
    return s.str();
}

void applyRotation(int c) {
    if (fpga) {
        fpga->setDisplayRotation(c, WarpRotation[c]);
    }
}

void logUpDown(const char* direction, int c) {
    logprintf("MAIN: Align %s, Line Offset %d\n", direction, WarpLineSourceOffset[c]);
    logprintf("MAIN: Align %s, Left:Right Offset %d:%d\n", direction, WarpLineSourceOffset[LEFT],
              WarpLineSourceOffset[RIGHT]);
}

} // namespace

void reset_alignment() {
    for (int c = LEFT; c <= RIGHT; ++c) {
        WarpPixelSourceOffset[c] = 0;
        WarpLineSourceOffset[c] = 0;
        WarpRotation[c] = 0;
    }
}

int read_alignment_file(const std::string& path) {
    logprintf("MAIN: Reading Alignment File %s\n", loggable(path).c_str());
    if (!file_exists(path)) {
        err_printf("Alignment File does not exist");
        return -2;
    }
    ConfigFile cfg(path);
    readWarpValues(cfg);
    readSeparation(cfg);
    readBacklightScales(cfg);
    logprintf("MAIN: Reading Alignment File End\n");
    return 0;
}

int save_alignment_file(const std::string& path) {
    const std::string temp = path + ".tmp";
    FILE* out = fopen(temp.c_str(), "w");
    if (!out) {
        err_printf("MAIN: could not open alignment file");
        return -1;
    }
    logprintf("MAIN: saving alignment data\n");
    const std::string text = alignmentText();
    bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    written = fflush(out) == 0 && written;
    written = fsync(fileno(out)) == 0 && written;
    written = fclose(out) == 0 && written;
    if (!written || rename(temp.c_str(), path.c_str()) != 0) {
        remove(temp.c_str());
        err_printf("MAIN: could not open alignment file");
        return -1;
    }
    platform::shell("sudo chmod 666 " + platform::shellQuote(path));
    return 0;
}

void apply_display_shift(int c, bool withSeparation) {
    int pixel = WarpPixelSourceOffset[c];
    if (withSeparation) {
        pixel += c == LEFT ? -StereoSeparation : StereoSeparation;
    }
    if (fpga) {
        fpga->setDisplayShift(c, pixel, WarpLineSourceOffset[c]);
    }
}

void align_mode_key(uint32_t mode) {
    if (mode == ALIGN_MODE_ENTER) {
        display_message(MESS_ENTERING_WARP_ALIGN, ALIGN_MESSAGE_SECONDS);
    }
    if (fpga) {
        fpga->alignmentmode(mode);
    }
    if (mode == ALIGN_MODE_LEAVE) {
        save_alignment_file(controller_files.alignmentfilename);
        display_message(MESS_LEAVING_WARP_ALIGN, ALIGN_MESSAGE_SECONDS);
    }
}

void align_step_key(uint32_t key, uint32_t word2) {
    const int c = static_cast<int>(word2 & 1);
    const bool ignored = word2 > HIGHEST_CHANNEL;
    switch (key) {
    case UKEY_ALIGN_RESET:
        if (ignored) {
            logprintf("MAIN: Alignment Keypress ignored\n");
            return;
        }
        logprintf("MAIN: Align Reset\n");
        WarpPixelSourceOffset[c] = WarpLineSourceOffset[c] = 0;
        WarpRotation[c] = 0;
        apply_display_shift(c, true);
        applyRotation(c);
        break;
    case UKEY_ALIGN_LEFT:
        if (WarpPixelSourceOffset[c] > WarpOffsetMin) {
            --WarpPixelSourceOffset[c];
        }
        apply_display_shift(c, false);
        logprintf("MAIN: Align Left %d\n", WarpPixelSourceOffset[c]);
        break;
    case UKEY_ALIGN_RIGHT:
        if (WarpPixelSourceOffset[c] < WarpOffsetMax) {
            ++WarpPixelSourceOffset[c];
        }
        apply_display_shift(c, false);
        logprintf("MAIN: Align Right, Pixel Offset %d\n", WarpPixelSourceOffset[c]);
        break;
    case UKEY_ALIGN_UP:
        if (ignored) {
            logprintf("MAIN: Alignment Keypress UP ignored\n");
            return;
        }
        if (WarpLineSourceOffset[c] < WarpOffsetMax) {
            ++WarpLineSourceOffset[c];
        }
        apply_display_shift(c, true);
        logUpDown("Up", c);
        break;
    case UKEY_ALIGN_DOWN:
        if (ignored) {
            logprintf("MAIN: Alignment Keypress DOWN ignored\n");
            return;
        }
        if (WarpLineSourceOffset[c] > WarpOffsetMin) {
            --WarpLineSourceOffset[c];
        }
        apply_display_shift(c, true);
        logUpDown("Down", c);
        break;
    case UKEY_ALIGN_ROTR:
        if (ignored) {
            logprintf("MAIN: Alignment Keypress ROTR ignored\n");
            return;
        }
        logprintf("MAIN: Align Rotate Right\n");
        if (WarpRotation[c] < WarpRotationMax) {
            WarpRotation[c] = std::min(WarpRotation[c] + warp_rotation_step, WarpRotationMax);
            applyRotation(c);
        }
        break;
    case UKEY_ALIGN_ROTL:
        if (ignored) {
            logprintf("MAIN: Alignment Keypress ROTL ignored\n");
            return;
        }
        logprintf("MAIN: Align Rotate Left\n");
        if (WarpRotation[c] > -WarpRotationMax) {
            WarpRotation[c] = std::max(WarpRotation[c] - warp_rotation_step, -WarpRotationMax);
            applyRotation(c);
        }
        break;
    default:
        break;
    }
}
