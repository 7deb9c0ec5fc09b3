// The camera board firmware's command set: what each command does to the board and what
// it answers. Replies are the text between "#" and "\n"; "BAD" rejects a command.
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "sim/camera/CameraBoardModel.h"

namespace sim {

namespace {

constexpr const char* kOk = "OK";
constexpr const char* kBad = "BAD";
constexpr const char* kExpectedRate = "115200"; // what the board's UART runs at
constexpr uint32_t kTestPatternRegister = 0x308C;
constexpr size_t kLongReply = 700;
constexpr const char* kGarbage = "\x00\xff\x13noise\r\n";
constexpr size_t kGarbageLength = 10;
constexpr size_t kMaxHexDigits = 8;

std::vector<std::string> words(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find(' ', i);
        if (j == std::string::npos) {
            j = text.size();
        }
        if (j > i) {
            out.push_back(text.substr(i, j - i));
        }
        i = j + 1;
    }
    return out;
}

// One hexadecimal field of either case, 1 to 8 digits, nothing else.
bool hexField(const std::string& s, uint32_t& value) {
    if (s.empty() || s.size() > kMaxHexDigits) {
        return false;
    }
    uint32_t v = 0;
    for (char c : s) {
        int d = -1;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        }
        if (d < 0) {
            return false;
        }
        v = v << 4 | static_cast<uint32_t>(d);
    }
    value = v;
    return true;
}

// Arguments 1..n of the command as hexadecimal values; false unless exactly n are given.
bool hexArgs(const std::vector<std::string>& w, size_t n, uint32_t* values) {
    if (w.size() != n + 1) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (!hexField(w[i + 1], values[i])) {
            return false;
        }
    }
    return true;
}

struct ValueCommand {
    const char* op;
    uint32_t CameraSettings::*field;
};
constexpr ValueCommand kValueCommands[] = {
    {"CG", &CameraSettings::gain},
    {"CE", &CameraSettings::exposureTime},
    {"CB", &CameraSettings::blackLevel},
    {"CS", &CameraSettings::sharpness},
    {"CC", &CameraSettings::contrast},
    {"UI", &CameraSettings::shutterPosition},
    {"CDM", &CameraSettings::hdrMode},
    {"CDR", &CameraSettings::hdrRatio},
    {"CDE", &CameraSettings::hdrExposure},
    {"CDG", &CameraSettings::hdrGammaIndex},
    {"CDC", &CameraSettings::hdrColourEnhancement},
};

struct FlagCommand {
    const char* op;
    uint8_t CameraSettings::*field;
};
constexpr FlagCommand kFlagCommands[] = {
    {"CH", &CameraSettings::horizontalMirror},
    {"CV", &CameraSettings::verticalMirror},
    {"UHE", &CameraSettings::shutterAutoBrightness},
    {"GA", &CameraSettings::chromaAutoCorrect},
};

struct TripleCommand {
    const char* op;
    int32_t (CameraSettings::*field)[3];
};
constexpr TripleCommand kTripleCommands[] = {
    {"GL", &CameraSettings::ccWhiteBalance},
    {"GN", &CameraSettings::ccBlackLevel},
};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buf[128];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

} // namespace

std::string CameraBoardModel::reply(CameraBoardState& s, const CameraCommand& cmd) {
    std::vector<std::string> w = words(cmd.text);
    if (cmd.overLong || w.empty()) {
        return kBad;
    }
    CameraSettings& c = s.settings;
    const std::string& op = w[0];
    uint32_t v[9] = {};

    if (w.size() == 1) {
        if (op == "UV") {
            return format("UV %02x %02x", ucMajor_, ucMinor_);
        }
        if (op == "GV") {
            return format("GV %02x", fpgaVersion_);
        }
        if (op == "XV") {
            return format("XV %02x", xlVersion_);
        }
        if (op == "US") {
            return format("US %08X", s.statusWord);
        }
        if (op == "ZX") {
            return format("ZX %d", s.zoom);
        }
        if (op == "CW") {
            if (s.awbValid) {
                c.whiteBalanceValid = 1;
                memcpy(c.whiteBalance, s.awbGains, sizeof c.whiteBalance);
            }
            return format("CW %02X %08X %08X %08X", s.awbValid, s.awbGains[0], s.awbGains[1], s.awbGains[2]);
        }
    }
    for (const auto& vc : kValueCommands) {
        if (op == vc.op) {
            if (!hexArgs(w, 1, v)) {
                return kBad;
            }
            c.*vc.field = v[0];
            return kOk;
        }
    }
    for (const auto& fc : kFlagCommands) {
        if (op == fc.op) {
            if (!hexArgs(w, 1, v)) {
                return kBad;
            }
            c.*fc.field = v[0] != 0 ? 1 : 0;
            return kOk;
        }
    }
    for (const auto& tc : kTripleCommands) {
        if (op == tc.op) {
            if (!hexArgs(w, 3, v)) {
                return kBad;
            }
            for (int i = 0; i < 3; ++i) {
                (c.*tc.field)[i] = static_cast<int32_t>(v[i]);
            }
            return kOk;
        }
    }
    if (op == "GG" && hexArgs(w, 3, v)) {
        memcpy(c.colourGains, v, sizeof c.colourGains);
        return kOk;
    }
    if (op == "GM" && hexArgs(w, 9, v)) {
        for (int i = 0; i < 9; ++i) {
            c.ccMatrix[i] = static_cast<int32_t>(v[i]);
        }
        return kOk;
    }
    if (op == "UHC" && hexArgs(w, 1, v)) {
        c.referenceFrames++;
        return kOk;
    }
    if (op == "UHW" && hexArgs(w, 2, v) && v[0] >= 1 && v[0] <= kCameraShutterAngles) {
        c.shutterAngles[v[0] - 1] = v[1];
        return kOk;
    }
    if (op == "CWS" && hexArgs(w, 4, v)) {
        c.whiteBalanceValid = v[0] != 0 ? 1 : 0;
        memcpy(c.whiteBalance, v + 1, sizeof c.whiteBalance);
        return kOk;
    }
    if ((op == "CRLW" || op == "CRRW") && hexArgs(w, 2, v)) {
        int ch = op == "CRLW" ? 0 : 1;
        c.sensorRegister[ch] = v[0];
        c.sensorValue[ch] = v[1];
        if (v[0] == kTestPatternRegister) {
            c.testPattern[ch] = static_cast<int32_t>(v[1]);
        }
        return kOk;
    }
    if (op == "ZK" && w.size() > 1) {
        std::string point = cmd.text.substr(cmd.text.find(' ') + 1);
        snprintf(c.aberrationPoints[c.aberrationCount % kCameraAberrationPoints], kCameraAberrationText, "%s",
                 point.c_str());
        c.aberrationCount++;
        return kOk;
    }
    // Page writes of the flash updates: the payload framing is checked here, the flash
    // contents are not kept.
    if ((op == "GW" || op == "FLW" || op == "FRW") && w.size() == 2) {
        return cmd.payloadError || cmd.payload.empty() ? kBad : kOk;
    }
    return kBad;
}

std::string CameraBoardModel::handle(const CameraCommand& cmd, const std::string& lineSettings,
                                     int64_t& babbleUntilNs) {
    auto lock = state_.lock();
    CameraBoardState& s = *state_;
    snprintf(s.lineSettings, sizeof s.lineSettings, "%s", lineSettings.c_str());
    remember(s, cmd.text);
    babbleUntilNs = 0;
    // At another baud rate the board's UART only sees framing errors.
    std::string rate = lineSettings.substr(0, lineSettings.find(' '));
    if (rate != kExpectedRate) {
        return {};
    }
    CameraFault fault = s.fault;
    if (fault != CameraFault::None && s.faultAfter > 0) {
        s.faultAfter--;
        fault = CameraFault::None;
    } else if (fault != CameraFault::None && s.faultShots > 0 && --s.faultShots == 0) {
        s.fault = CameraFault::None;
    }
    switch (fault) {
    case CameraFault::Silence:
        return {};
    case CameraFault::Bad:
        return std::string("#") + kBad + "\n";
    default:
        break;
    }
    std::string text = reply(s, cmd);
    if (s.overrideOp[0] != '\0' && cmd.text.compare(0, cmd.text.find(' '), s.overrideOp) == 0) {
        text = s.overrideText;
        if (s.overrideShots > 0 && --s.overrideShots == 0) {
            s.overrideOp[0] = '\0';
        }
    }
    if (!cmd.payload.empty()) {
        std::lock_guard<std::mutex> payloadLock(payloadMutex_);
        lastPayload_ = cmd.payload;
    }
    switch (fault) {
    case CameraFault::Empty:
        return "#\n";
    case CameraFault::Cut:
        return std::string("#").append(text, 0, std::max<size_t>(1, text.size() / 2));
    case CameraFault::Long:
        text += ' ';
        text.resize(std::max(kLongReply, text.size()), 'X');
        return "#" + text + "\n";
    case CameraFault::Garbage:
        return std::string(kGarbage, kGarbageLength) + "#" + text + "\n";
    case CameraFault::Babble:
        // Until the next command arrives.
        babbleUntilNs = std::numeric_limits<int64_t>::max();
        return {};
    default:
        return "#" + text + "\n";
    }
}

} // namespace sim
