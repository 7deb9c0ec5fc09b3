// Camera settings commands. Each operation stores the value it was given before sending,
// so a failed command is still re-sent by the next wake_up.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/logfile.h"
#include "controller/camera/CameraBoard.h"

namespace {

constexpr uint8_t SETTING_TIMEOUT = 100; // 10 s
constexpr uint8_t ZOOM_TIMEOUT = 1;      // 0.1 s
constexpr size_t COMMAND_SIZE = 160;

constexpr uint32_t MAX_COLOUR_GAIN_STEP = 10;
constexpr int UNITY_COLOUR_GAIN_STEP = 5;
constexpr float UNITY_GAIN = 256.0f;
constexpr float GAIN_PER_STEP = 1.7411011f;
constexpr uint32_t MIN_COLOUR_GAIN = 19; // this or less switches the colour off
constexpr uint32_t MAX_COLOUR_GAIN = 0xFFF;

constexpr int SHUTTER_ANGLES = 30;
constexpr int TEST_PATTERN_REGISTER = 0x308C;
constexpr size_t CC_MATRIX_SIZE = 9;

// Splits at commas and converts each piece as C does with base 0 (decimal, "0x" hex,
// leading-zero octal); false when a piece is not a number.
bool parseAngles(const std::string& text, std::vector<int>& values) {
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string piece =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char* end = nullptr;
        errno = 0;
        long v = strtol(piece.c_str(), &end, 0);
        while (end && (*end == ' ' || *end == '\t')) {
            ++end;
        }
        if (piece.empty() || !end || *end != '\0' || errno != 0 || end == piece.c_str()) {
            return false;
        }
        values.push_back(static_cast<int>(v));
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

} // namespace

cmd_results_t CameraBoard::acknowledged(const char* command, const char* operation) {
    if (sendMessageWaitForResponse(command, SETTING_TIMEOUT, true)) {
        return getOK(operation);
    }
    return CMD_FAILED;
}

cmd_results_t CameraBoard::exchanged(const char* command) {
    return sendMessageWaitForResponse(command, SETTING_TIMEOUT, true) ? CMD_OK : CMD_FAILED;
}

cmd_results_t CameraBoard::acknowledgedValue(const char* format, unsigned value, const char* operation) {
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, format, value);
    return acknowledged(cmd, operation);
}

cmd_results_t CameraBoard::exchangedValue(const char* format, unsigned value) {
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, format, value);
    return exchanged(cmd);
}

cmd_results_t CameraBoard::setGain(uint32_t gain) {
    cam_gain = gain;
    logprintf("CB:setGain %d\n", gain);
    return acknowledgedValue("CG %02X", gain, "setGain");
}

cmd_results_t CameraBoard::setExposureTime(uint32_t t) {
    cam_exposure_time = t;
    logprintf("CB:setExposureTime %d\n", t);
    return acknowledgedValue("CE %02X", t, "setExposureTime");
}

cmd_results_t CameraBoard::setBlackLevel(uint32_t v) {
    cam_black_level = v;
    logprintf("CB:setBlackLevel %d\n", v);
    cmd_results_t res = acknowledgedValue("CB %02X", v, "setBlackLevel");
    if (res == CMD_OK || res == CMD_OK_QUIET) {
        last_black_level = v;
        black_level_accepted = true;
    }
    return res;
}

cmd_results_t CameraBoard::setSharpness(uint32_t v) {
    cam_sharpness = v;
    logprintf("CB:setSharpness %d\n", v);
    return acknowledgedValue("CS %02X", v, "setSharpness");
}

cmd_results_t CameraBoard::setContrast(uint32_t v) {
    cam_contrast = v;
    logprintf("CB:setContrast %d\n", v);
    cmd_results_t res = acknowledgedValue("CC %02X", v, "setContrast");
    if (res == CMD_OK || res == CMD_OK_QUIET) {
        last_contrast = v;
        contrast_accepted = true;
    }
    return res;
}

cmd_results_t CameraBoard::invertHorizontalOutput(bool invert) {
    cam_horiz_invert = invert;
    logprintf("CB: invertHorizontalOutput %d\n", invert);
    return acknowledged(invert ? "CH 01" : "CH 00", "invertHorizontalOutput");
}

cmd_results_t CameraBoard::invertVerticalOutput(bool invert) {
    cam_vert_invert = invert;
    logprintf("CB: invertVerticalOutput %d\n", invert);
    return acknowledged(invert ? "CV 01" : "CV 00", "invertVerticalOutput");
}

cmd_results_t CameraBoard::setShutterPosition(uint32_t p) {
    shutter_position = static_cast<uint8_t>(p);
    logprintf("CB: SetShutterPosition %d\n", p);
    return acknowledgedValue("UI %02x", shutter_position, "setShutterPosition");
}

cmd_results_t CameraBoard::setShutterAutobrightness(bool on) {
    shutter_autobrightness = on;
    logprintf("CB: setShutterAutobrightness %d\n", on);
    return acknowledgedValue("UHE %01x", on ? 1 : 0, "setShutterAutobrightness");
}

cmd_results_t CameraBoard::setAutobrightnessReferenceFrame() {
    logprintf("CB: setAutobrightnessReferenceFrame\n");
    return acknowledgedValue("UHC %01x", shutter_autobrightness ? 1 : 0, "setAutobrightnessReferenceFrame");
}

cmd_results_t CameraBoard::setChromaAutoCorrect(bool on) {
    shadowChromaAutoCorrect = on;
    return exchangedValue("GA %02x", on ? 1 : 0);
}

cmd_results_t CameraBoard::setColourCorrectionWhiteBalance(int red, int green, int blue) {
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, "GL %08x %08x %08x", static_cast<unsigned>(red), static_cast<unsigned>(green),
             static_cast<unsigned>(blue));
    return exchanged(cmd);
}

cmd_results_t CameraBoard::setColourCorrectionMatrix(const std::vector<int>& matrix) {
    if (matrix.size() != CC_MATRIX_SIZE) {
        return CMD_INVALID_PARAM;
    }
    std::string cmd = "GM";
    char field[16];
    for (int v : matrix) {
        snprintf(field, sizeof field, " %08x", static_cast<unsigned>(v));
        cmd += field;
    }
    return exchanged(cmd.c_str());
}

cmd_results_t CameraBoard::setColourCorrectionBlackLevel(int red, int green, int blue) {
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, "GN %08x %08x %08x", static_cast<unsigned>(red), static_cast<unsigned>(green),
             static_cast<unsigned>(blue));
    return exchanged(cmd);
}

cmd_results_t CameraBoard::setHDRmode(uint32_t mode) {
    hdrMode = mode;
    cmd_results_t res = exchangedValue("CDM %02x", mode);
    logprintf(res == CMD_OK ? "CB: Set HDR Mode OK\n" : "CB: Set HDR Mode FAIL\n");
    return res;
}

cmd_results_t CameraBoard::setHDRratio(uint32_t ratio) {
    hdrRatio = ratio;
    return exchangedValue("CDR %02x", ratio);
}

cmd_results_t CameraBoard::setHDRexposure(uint32_t e) {
    hdrExposure = e;
    return exchangedValue("CDE %08x", 2 * e);
}

cmd_results_t CameraBoard::setHDRGammaIndex(int32_t g) {
    hdrGammaIndex = g;
    if (g < 0) {
        return CMD_OK;
    }
    return exchangedValue("CDG %02x", static_cast<unsigned>(g));
}

cmd_results_t CameraBoard::setHDRColourEnhancement(int32_t c) {
    hdrColourEnhancement = c;
    if (c < 0) {
        return CMD_OK;
    }
    return exchangedValue("CDC %02x", static_cast<unsigned>(c));
}

cmd_results_t CameraBoard::whiteBalance(uint16_t* valid, uint32_t* red, uint32_t* green, uint32_t* blue) {
    logprintf("CB:whiteBalance\n");
    if (!sendMessageWaitForResponse("CW", SETTING_TIMEOUT, true)) {
        return CMD_FAILED;
    }
    logprintf("CB: Response '%s'\n", response_str);
    unsigned short v = 0;
    unsigned r = 0, g = 0, b = 0;
    // Only a complete reply replaces the gains in use.
    if (sscanf(response_str, "%*s %02hX %08X %08X %08X", &v, &r, &g, &b) == 4) {
        AWBvalid = v;
        AWBred = r;
        AWBgreen = g;
        AWBblue = b;
    }
    if (AWBvalid == 1) {
        logprintf("CB: Valid AWB results received\n");
        *valid = AWBvalid;
        *red = AWBred;
        *green = AWBgreen;
        *blue = AWBblue;
    }
    return CMD_OK;
}

cmd_results_t CameraBoard::setWhiteBalance() {
    logprintf("CB: setWhiteBalance\n");
    if (AWBvalid != 1) {
        logprintf("CB: White balance settings not valid\n");
        return CMD_BAD;
    }
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, "CWS %02X %08X %08X %08X", AWBvalid, AWBred, AWBgreen, AWBblue);
    logprintf("CB: command $%s\n", cmd);
    return acknowledged(cmd, "setWhiteBalance");
}

cmd_results_t CameraBoard::forceWhiteBalanceSettings(uint32_t red, uint32_t green, uint32_t blue) {
    AWBred = red;
    AWBgreen = green;
    AWBblue = blue;
    AWBvalid = 1;
    logprintf("CB: forceWhiteBalanceSettings\n");
    return setWhiteBalance();
}

cmd_results_t CameraBoard::setColourGain(PRIMARIES colour, uint32_t gain) {
    if (gain > MAX_COLOUR_GAIN_STEP) {
        return CMD_FAILED;
    }
    if (colour < RED || colour > BLUE) {
        return CMD_INVALID_PARAM;
    }
    colourGain[colour] = gain;
    uint32_t value[3];
    for (int c = RED; c <= BLUE; ++c) {
        float v = UNITY_GAIN * powf(GAIN_PER_STEP, static_cast<float>(static_cast<int>(colourGain[c]) -
                                                                      UNITY_COLOUR_GAIN_STEP)) +
                  0.5f;
        value[c] = static_cast<uint32_t>(v);
        if (value[c] <= MIN_COLOUR_GAIN) {
            value[c] = 0;
        } else if (value[c] > MAX_COLOUR_GAIN) {
            value[c] = MAX_COLOUR_GAIN;
        }
    }
    logprintf("CB: red gain %f\n", static_cast<double>(value[RED]));
    logprintf("CB: green gain %f\n", static_cast<double>(value[GREEN]));
    logprintf("CB: blue gain %f\n", static_cast<double>(value[BLUE]));
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, "GG %08x %08x %08x", value[RED], value[GREEN], value[BLUE]);
    return exchanged(cmd);
}

cmd_results_t CameraBoard::setShutterAngles(const std::string& angles) {
    logprintf("CB: setShutterAngles '%s'\n", angles.c_str());
    if (!angles.empty()) {
        shutter_angle_string = angles;
    }
    if (shutter_angle_string.empty()) {
        return CMD_INVALID_PARAM;
    }
    std::vector<int> values;
    // A malformed list sends nothing rather than a list shifted by the bad piece.
    if (!parseAngles(shutter_angle_string, values)) {
        logprintf("CB: exception - setting shutter angle\n");
        return CMD_INVALID_PARAM;
    }
    for (int i = 0; i < SHUTTER_ANGLES; ++i) {
        if (i >= static_cast<int>(values.size())) {
            logprintf("CB: exception - setting shutter angle\n");
            return CMD_INVALID_PARAM;
        }
        char cmd[COMMAND_SIZE];
        snprintf(cmd, sizeof cmd, "UHW %02x %04x", i + 1, static_cast<unsigned>(values[i]));
        if (acknowledged(cmd, "setShutterAngles") != CMD_OK) {
            logprintf("CB: failed to set shutter angle at index %d to %d\n", i, values[i]);
            return CMD_FAILED;
        }
    }
    return CMD_OK;
}

cmd_results_t CameraBoard::setTestPatternReg(int v) {
    char cmd[COMMAND_SIZE];
    snprintf(cmd, sizeof cmd, "CRLW %04x %02x", TEST_PATTERN_REGISTER, static_cast<unsigned>(v));
    int left = sendMessageWaitForResponse(cmd, SETTING_TIMEOUT, true);
    snprintf(cmd, sizeof cmd, "CRRW %04x %02x", TEST_PATTERN_REGISTER, static_cast<unsigned>(v));
    int right = sendMessageWaitForResponse(cmd, SETTING_TIMEOUT, true);
    return left || right ? CMD_OK : CMD_FAILED;
}

cmd_results_t CameraBoard::getZoom(uint32_t* zoom) {
    int z = 0;
    if (sendMessageWaitForResponse("ZX", ZOOM_TIMEOUT, false) && sscanf(response_str, "%*s %d", &z) == 1) {
        *zoom = static_cast<uint32_t>(z);
        return CMD_OK;
    }
    logprintferror("CB: ERROR: getZoom() failed!");
    return CMD_FAILED;
}

void CameraBoard::resetLensAberrationPoints() {
    logprintf("CB: resetLensAberrationPoints\n");
    aberration_points.clear();
}

void CameraBoard::setLensAberrationPoint(std::string point) {
    aberration_points.push_back(std::move(point));
}

cmd_results_t CameraBoard::uploadLensAbberationPoints() {
    for (const auto& point : aberration_points) {
        std::string cmd = "ZK " + point;
        if (exchanged(cmd.c_str()) != CMD_OK) {
            return CMD_FAILED;
        }
    }
    return CMD_OK;
}
