// The camera board firmware's command set: what each command does to the board and what
// it answers. Replies are the text between "#" and "\n"; "BAD" rejects a command.
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>

#include "sim/camera/CameraBoardModel.h"
#include "sim/camera/CameraFlashes.h"

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

// The hexadecimal fields of each command as the controller prints them: the field's
// width, and whether its letters are upper case ("%02X") or lower case ("%02x"). A value
// wider than the field comes in full, so a longer field is fine when it has no leading
// zero. The firmware's parser reads its fields this strictly, so a field of another width
// or case is refused as the real board refuses it.
struct FieldFormat {
    const char* op;     // "F?" stands for the flash commands of either channel
    const char* fields; // per field: width digit and 'X' or 'x'
};
constexpr FieldFormat kFieldFormats[] = {
    {"CG", "2X"},    {"CE", "2X"},     {"CB", "2X"},     {"CS", "2X"},        {"CC", "2X"},
    {"CH", "2X"},    {"CV", "2X"},     {"UI", "2x"},     {"UHE", "1x"},       {"UHC", "1x"},
    {"GA", "2x"},    {"GL", "8x8x8x"}, {"GN", "8x8x8x"}, {"CDM", "2x"},       {"CDR", "2x"},
    {"CDE", "8x"},   {"CDG", "2x"},    {"CDC", "2x"},    {"GG", "8x8x8x"},    {"GM", "8x8x8x8x8x8x8x8x8x"},
    {"UHW", "2x4x"}, {"CRLW", "4x2x"}, {"CRRW", "4x2x"}, {"CWS", "2X8X8X8X"}, {"F?ES", "6x"},
    {"F?W", "6X"},   {"F?C", "6X6X"},  {"GW", "6X"},
};

const char* fieldFormat(const std::string& op) {
    std::string key = op;
    if (key.size() >= 3 && key[0] == 'F') {
        key[1] = '?';
    }
    for (const auto& f : kFieldFormats) {
        if (key == f.op) {
            return f.fields;
        }
    }
    return nullptr;
}

int hexDigit(char c, char letterCase) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (letterCase != 'x' && c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (letterCase != 'X' && c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// One hexadecimal field of at least `width` digits (no leading zero when longer) in the
// given case ('X', 'x', or 0 for either).
bool hexField(const std::string& s, size_t width, char letterCase, uint32_t& value) {
    if (s.size() < std::max<size_t>(width, 1) || s.size() > kMaxHexDigits ||
        (s.size() > width && width > 0 && s[0] == '0')) {
        return false;
    }
    uint32_t v = 0;
    for (char c : s) {
        int d = hexDigit(c, letterCase);
        if (d < 0) {
            return false;
        }
        v = v << 4 | static_cast<uint32_t>(d);
    }
    value = v;
    return true;
}

// Arguments 1..n of the command as hexadecimal values in the command's field format;
// false unless exactly n are given.
bool hexArgs(const std::vector<std::string>& w, size_t n, uint32_t* values) {
    if (w.size() != n + 1) {
        return false;
    }
    const char* format = fieldFormat(w[0]);
    if (format && std::strlen(format) != 2 * n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        const size_t width = format ? static_cast<size_t>(format[2 * i] - '0') : 0;
        const char letterCase = format ? format[2 * i + 1] : 0;
        if (!hexField(w[i + 1], width, letterCase, values[i])) {
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

bool isReplyFault(CameraFault f) {
    return f != CameraFault::Nack && f != CameraFault::Stall && f != CameraFault::Checksum;
}

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

// ---- Flash updates ----------------------------------------------------------------------

namespace {

constexpr uint32_t kBridgeLengthBytes = 4;
constexpr uint32_t kBridgeAreaSize = kChannelFlashSize - kBridgeAreaBase;

// "FL..." and "XA..." name the left channel, "FR..." and "XD..." the right one.
int flashChannel(char letter) {
    return letter == 'L' || letter == 'A' ? 0 : letter == 'R' || letter == 'D' ? 1 : -1;
}

// Like the flash chips' page program, bytes past the end of the page wrap to its start.
bool programPage(CameraFlashes& flashes, int channel, uint32_t address, const std::vector<uint8_t>& data) {
    const uint32_t base = address - address % kChannelPageSize;
    const size_t first = std::min<size_t>(data.size(), base + kChannelPageSize - address);
    bool ok = flashes.program(channel, address, data.data(), first);
    if (first < data.size()) {
        ok = flashes.program(channel, base, data.data() + first, data.size() - first) && ok;
    }
    return ok;
}

} // namespace

// One page of a channel flash ("F?W"), or one block of the FPGA image to both ("GW",
// channel -1).
std::string CameraBoardModel::pageWrite(CameraBoardState& s, const CameraCommand& cmd, int channel,
                                        uint32_t address) {
    const std::vector<uint8_t>& data = cmd.payload;
    if (cmd.payloadError || data.empty() || data.size() > kChannelPageSize || address >= kChannelFlashSize ||
        (channel < 0 && address >= kBridgeAreaBase)) {
        return kBad;
    }
    if (faultHits(s, CameraFault::Nack)) {
        return kBad;
    }
    if (faultHits(s, CameraFault::Stall)) {
        s.stalled = 1;
        return {};
    }
    bool ok = true;
    for (int c = 0; c < kCameraChannels; ++c) {
        if (channel < 0 || channel == c) {
            ok = programPage(*flashes_, c, address, data) && ok;
        }
    }
    if (channel < 0 && ok) {
        flashes_->noteImageBlock(address, data.size());
    }
    return ok ? kOk : kBad;
}

std::optional<std::string> CameraBoardModel::flashReply(CameraBoardState& s, const CameraCommand& cmd,
                                                        const std::vector<std::string>& w) {
    const std::string& op = w[0];
    uint32_t v[2] = {};
    auto skew = [&s] { return faultHits(s, CameraFault::Checksum) ? 1u : 0u; };
    if (op.size() == 3 && op[0] == 'F' && flashChannel(op[1]) >= 0 && (op[2] == 'W' || op[2] == 'C')) {
        int channel = flashChannel(op[1]);
        if (op[2] == 'W' && hexArgs(w, 1, v)) {
            return pageWrite(s, cmd, channel, v[0]);
        }
        uint32_t sum = 0;
        if (op[2] == 'C' && hexArgs(w, 2, v) && flashes_->checksum(channel, v[0], v[1], sum)) {
            return format("%s %06X %06X %08X", op.c_str(), v[0], v[1], sum + skew());
        }
        return std::string(kBad);
    }
    if (op.size() == 4 && op[0] == 'F' && flashChannel(op[1]) >= 0 && op.compare(2, 2, "ES") == 0) {
        return hexArgs(w, 1, v) && flashes_->eraseSector(flashChannel(op[1]), v[0]) ? kOk : kBad;
    }
    if (w.size() == 1 && (op == "XAC" || op == "XDC")) {
        // A bridge file is stored as its little-endian length and its bytes; the sum
        // covers both.
        int channel = flashChannel(op[1]);
        uint8_t word[kBridgeLengthBytes] = {};
        flashes_->read(channel, kBridgeAreaBase, word, sizeof word);
        uint32_t size = static_cast<uint32_t>(word[0]) | static_cast<uint32_t>(word[1]) << 8 |
                        static_cast<uint32_t>(word[2]) << 16 | static_cast<uint32_t>(word[3]) << 24;
        uint32_t sum = 0;
        if (size > kBridgeAreaSize - kBridgeLengthBytes ||
            !flashes_->checksum(channel, kBridgeAreaBase, size + kBridgeLengthBytes, sum)) {
            size = sum = 0; // no file stored
        }
        return format("%s %08X %08X", op.c_str(), sum + skew(), size);
    }
    if (op == "GW" && w.size() == 2 && hexArgs(w, 1, v)) {
        return pageWrite(s, cmd, -1, v[0]);
    }
    if (w.size() != 1) {
        return std::nullopt;
    }
    if (op == "GP") {
        flashes_->eraseImageArea();
        return std::string(kOk);
    }
    if (op == "GC") {
        return format("GC %08X", flashes_->imageChecksum() + skew());
    }
    if (op == "GR") {
        flashes_->restartFromFlash();
        return std::string(kOk);
    }
    return std::nullopt;
}

std::string CameraBoardModel::reply(CameraBoardState& s, const CameraCommand& cmd) {
    std::vector<std::string> w = words(cmd.text);
    if (cmd.overLong || w.empty()) {
        return kBad;
    }
    CameraSettings& c = s.settings;
    const std::string& op = w[0];
    uint32_t v[9] = {};

    if (std::optional<std::string> text = flashReply(s, cmd, w)) {
        return *text;
    }
    if (w.size() == 1) {
        const CameraVersions versions = flashes_->versions();
        if (op == "UV") {
            return format("UV %02x %02x", versions.ucMajor, versions.ucMinor);
        }
        if (op == "GV") {
            return format("GV %02x", versions.fpga);
        }
        if (op == "XV") {
            return format("XV %02x", versions.xl);
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
    // The boot loader owns the link, or the board fell silent.
    if (rate != kExpectedRate || s.stalled || s.bootLoader) {
        return {};
    }
    if (cmd.text == "UB") {
        // The firmware hands the link to the boot loader, which waits for its sync byte.
        s.bootLoader = 1;
        s.bootEpoch++;
        return {};
    }
    // The flash-update faults hit block writes and checksums, not every reply.
    CameraFault fault = isReplyFault(s.fault) ? s.fault : CameraFault::None;
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
    if (s.stalled) {
        return {};
    }
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
    case CameraFault::Late:
        lateReply_ = true;
        return "#" + text + "\n";
    default:
        return "#" + text + "\n";
    }
}

} // namespace sim
