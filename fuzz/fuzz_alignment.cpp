// Feeds arbitrary bytes to the reader of the alignment file (qlm-align.cfg), as a
// hand-edited or damaged file would reach it: the values it takes must lie in the ranges
// the alignment keys keep them in, the shifts made from them must stay in range, and the
// file written back from them must read back to the same values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "controller/core/ControllerKeys.h"
#include "controller/core/alignment.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-alignment-no-log-folder";
constexpr int kChannels = 2;

struct Alignment {
    int pixel[kChannels];
    int line[kChannels];
    float rotation[kChannels];
    int separation;
    unsigned scale[kChannels];

    static Alignment current() {
        return {{WarpPixelSourceOffset[0], WarpPixelSourceOffset[1]},
                {WarpLineSourceOffset[0], WarpLineSourceOffset[1]},
                {WarpRotation[0], WarpRotation[1]},
                StereoSeparation,
                {backlightScale[0], backlightScale[1]}};
    }
};

bool inRange(const Alignment& a) {
    for (int c = 0; c < kChannels; ++c) {
        if (a.pixel[c] < WarpOffsetMin || a.pixel[c] > WarpOffsetMax || a.line[c] < WarpOffsetMin ||
            a.line[c] > WarpOffsetMax || !std::isfinite(a.rotation[c]) ||
            std::fabs(a.rotation[c]) > WarpRotationMax || a.scale[c] < BACKLIGHT_SCALE_MIN ||
            a.scale[c] > BACKLIGHT_SCALE_MAX) {
            return false;
        }
    }
    return a.separation >= 0 && a.separation <= StereoSeparationMax;
}

// Rotations are written with the stream's six significant digits.
bool sameAlignment(const Alignment& a, const Alignment& b) {
    constexpr float kRotationWritten = 1e-5f;
    for (int c = 0; c < kChannels; ++c) {
        if (a.pixel[c] != b.pixel[c] || a.line[c] != b.line[c] || a.scale[c] != b.scale[c] ||
            std::fabs(a.rotation[c] - b.rotation[c]) > kRotationWritten) {
            return false;
        }
    }
    return a.separation == b.separation;
}

void resetAll() {
    reset_alignment();
    StereoSeparation = 0;
    backlightScale[0] = backlightScale[1] = BACKLIGHT_SCALE_MAX;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Saving the file sets its mode through the shell.
    fuzz::simulatedBoard("alignment");
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("alignment", ".cfg");
    static const std::string saved = fuzz::inputPath("alignment-saved", ".cfg");
    fuzz::writeInput(path, data, size);
    resetAll();
    if (read_alignment_file(path) != 0) {
        abort();
    }
    const Alignment read = Alignment::current();
    if (!inRange(read)) {
        abort();
    }
    // The shifts the display is given, with and without the separation (no FPGA here:
    // only the arithmetic runs).
    for (int c = 0; c < kChannels; ++c) {
        apply_display_shift(c, true);
        apply_display_shift(c, false);
    }
    if (save_alignment_file(saved) != 0) {
        abort();
    }
    resetAll();
    if (read_alignment_file(saved) != 0 || !sameAlignment(read, Alignment::current())) {
        abort();
    }
    std::remove(path.c_str());
    std::remove(saved.c_str());
    resetAll();
    return 0;
}
