// Colour-correction profiles: small files in the working folder, read with the
// configuration reader, whose keys are sent to the camera in a fixed order.
#include <string>
#include <vector>

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/ConfigFile.h"

const char* const CameraBoard::ColourCorrectionFiles[CameraBoard::MaxCCProfiles] = {"standard.cc",
                                                                                    "slitlamp.cc"};

namespace {

constexpr const char* CC_SECTION = "COLOUR_CORRECTION";
constexpr size_t CC_TRIPLE = 3;
constexpr size_t CC_MATRIX = 9;

// A key the file does not give is left alone rather than read as 0, so that a profile
// without (or a missing) "camera_contrast" does not turn the contrast down to nothing.
bool present(const ConfigFile& cfg, const char* key) {
    try {
        cfg.Value(CC_SECTION, key);
        return true;
    } catch (const char*) {
        return false;
    }
}

} // namespace

cmd_results_t CameraBoard::setColourCorrectionProfile(int id) {
    if (id < 0 || id >= MaxCCProfiles) {
        return CMD_FAILED;
    }
    ColourCorrectionProfile = id;
    setColourCorrectionParameters(ColourCorrectionFiles[id]);
    // What the file changed is read back with get_last_contrast() and
    // get_last_black_level(); the selection itself reports no success.
    return CMD_FAILED;
}

cmd_results_t CameraBoard::setColourCorrectionParameters(const std::string& filename) {
    logprintf("CB: setColourCorrectionParameters from %s\n", loggable(filename).c_str());
    cmd_results_t res = CMD_FAILED;
    if (!file_exists(filename)) {
        return res;
    }
    const ConfigFile cfg(filename);
    if (present(cfg, "camera_black_level")) {
        int level = cfg.get_int(CC_SECTION, "camera_black_level");
        if (level >= 0) {
            logprintf("CB: setBlackLevel\n");
            res = setBlackLevel(static_cast<uint32_t>(level));
        }
    }
    if (present(cfg, "camera_contrast")) {
        int contrast = cfg.get_int(CC_SECTION, "camera_contrast");
        if (contrast >= 0) {
            logprintf("CB: setContrast\n");
            res = setContrast(static_cast<uint32_t>(contrast));
        }
    }
    std::vector<int> balance = cfg.get_int_vector(CC_SECTION, "white_balance");
    if (balance.size() != CC_TRIPLE) {
        return res;
    }
    logprintf("CB: setColourCorrectionWhiteBalance\n");
    res = setColourCorrectionWhiteBalance(balance[0], balance[1], balance[2]);
    std::vector<int> matrix = cfg.get_int_vector(CC_SECTION, "cc_matrix");
    if (matrix.size() != CC_MATRIX) {
        return res;
    }
    logprintf("CB: setColourCorrectionMatrix\n");
    res = setColourCorrectionMatrix(matrix);
    std::vector<int> black = cfg.get_int_vector(CC_SECTION, "black_level");
    if (black.size() != CC_TRIPLE) {
        return res;
    }
    res = setColourCorrectionBlackLevel(black[0], black[1], black[2]);
    logprintf("CB: setColourCorrectionBlackLevel\n");
    return res;
}
