#include "sim/chips/HdmiReceiver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "sim/board/Json.h"
#include "sim/board/PinBank.h"

namespace sim {

namespace {

constexpr int kSwitchChannel[2] = {2, 1};
constexpr int kInterruptPin[2] = {6, 7};
const char* const kSide[2] = {"left", "right"};

// Map addresses as the chip answers them, and the IO register that programs each.
constexpr uint8_t kMapAddress[HdmiReceiver::MAPS] = {0x4C, 0x50, 0x52, 0x54, 0x56, 0x58, 0x5A, 0x5C};
constexpr uint8_t kMapAddressReg[HdmiReceiver::MAPS] = {0, 0xF4, 0xF5, 0xF8, 0xF9, 0xFA, 0xFB, 0xFD};

// IO map.
constexpr uint8_t kIoHotPlug = 0x20;
constexpr uint8_t kHotPlugBit = 0x80;
constexpr uint8_t kIoRawStatus3 = 0x6A;
constexpr uint8_t kIoLevelStatus3 = 0x6B;
constexpr uint8_t kIoLevelClear3 = 0x6C;
constexpr uint8_t kIoRawStatus4 = 0x6F;
constexpr uint8_t kIoEdgeStatus3 = 0x84;
constexpr uint8_t kIoEdgeClear3 = 0x85;
constexpr uint8_t kIoRevisionHigh = 0xEA;
constexpr uint8_t kIoRevisionLow = 0xEB;
constexpr uint8_t kIoReset = 0xFF;
constexpr uint8_t kResetBit = 0x80;
constexpr uint8_t kIoOutputFormat = 0x03;
constexpr uint8_t kOutput48Bit = 0x54;

// Raw status 3 and level status 3 bits.
constexpr uint8_t kVerticalLockBit = 0x02;
constexpr uint8_t k3DBit = 0x04;
constexpr uint8_t kTmdsClockBit = 0x10;
constexpr uint8_t kPllLockBit = 0x40;
constexpr uint8_t kCableBit = 0x01;
// Edge status 3.
constexpr uint8_t kTmdsChangeBit = 0x02;

// HDMI map measurements.
constexpr uint8_t kHdmiSync = 0x05;
constexpr uint8_t kHsyncHighBit = 0x20, kVsyncHighBit = 0x10;
constexpr uint8_t kHdmiWidthHigh = 0x07, kHdmiWidthLow = 0x08;
constexpr uint8_t kHdmiHeightHigh = 0x09, kHdmiHeightLow = 0x0A;
constexpr uint8_t kVerticalFilterBit = 0x80, kDeRegenBit = 0x20;
constexpr uint8_t kHdmiTotalWidthHigh = 0x1E, kHdmiTotalWidthLow = 0x1F;
constexpr uint8_t kHdmiField0High = 0x26, kHdmiField0Low = 0x27;
constexpr uint8_t kHdmiTmdsHigh = 0x51, kHdmiTmdsLow = 0x52;
constexpr uint8_t kRepeaterEdidControl = 0x74;

constexpr unsigned kFiveBits = 0x1F, kSixBits = 0x3F;
constexpr int kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;
constexpr double kTmdsFractionScale = 128.0; // 7 fraction bits
constexpr double kKhzPerMhz = 1000.0;
// Blanking of the synthetic timings: a 1080-line frame is 1125 lines of 2200 pixels.
constexpr unsigned kVerticalBlanking = 45;
constexpr unsigned kReferenceWidth = 1920, kReferenceTotalWidth = 2200;
constexpr int kHalfLines = 2;

const char* const kHelp = "hdmi left|right WIDTHxHEIGHT@MHZ [3d]       the source on an HDMI input\n"
                          "hdmi left|right off                         unplug the source\n"
                          "hdmi left|right revision HEX                receiver revision (fault)\n"
                          "hdmi left|right pll lock|unlock             TMDS PLL fails to lock (fault)\n";

std::string hex4(unsigned v) {
    char text[8];
    snprintf(text, sizeof text, "0x%04X", v);
    return text;
}

} // namespace

HdmiReceiver::HdmiReceiver(Board& board, I2cBus& bus, int channel)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{std::string("hdmi-rx-") + kSide[channel],
                                            kSwitchChannel[channel],
                                            {std::begin(kMapAddress), std::end(kMapAddress)},
                                            MAPS,
                                            sizeof(State),
                                            {}}),
      videoChannel_(channel), interruptPin_(kInterruptPin[channel]) {
    auto held = lock();
    driveLine();
}

void HdmiReceiver::powerOn() {
    RegisterFileDevice::powerOn();
    auto held = lock();
    driveLine();
}

bool HdmiReceiver::mapAnswersLocked(int map) const {
    return map == IO || cell(IO, kMapAddressReg[map]) == (kMapAddress[map] << 1);
}

bool HdmiReceiver::mapAnswers(Map map) const {
    auto held = lock();
    return mapAnswersLocked(map);
}

bool HdmiReceiver::start(uint8_t address, bool read) {
    for (int map = 0; map < MAPS; ++map) {
        if (kMapAddress[map] == address) {
            bool answers = false;
            {
                auto held = lock();
                answers = mapAnswersLocked(map);
            }
            return answers && RegisterFileDevice::start(address, read);
        }
    }
    return false;
}

HdmiSource HdmiReceiver::sourceLocked() const {
    const State& s = extra<State>();
    if (!s.sourceSet) {
        return HdmiSource{};
    }
    HdmiSource source;
    source.present = !s.absent;
    source.width = s.width;
    source.height = s.height;
    source.mhz = s.khz / kKhzPerMhz;
    source.video3D = s.video3D != 0;
    return source;
}

HdmiSource HdmiReceiver::source() const {
    auto held = lock();
    return sourceLocked();
}

bool HdmiReceiver::locked(const HdmiSource& s) const {
    return s.present && !extra<State>().pllFails;
}

void HdmiReceiver::latch(uint8_t levelBits, uint8_t edgeBits) {
    cell(IO, kIoLevelStatus3) |= levelBits;
    cell(IO, kIoEdgeStatus3) |= edgeBits;
    driveLine();
}

void HdmiReceiver::driveLine() {
    const bool asserted = (cell(IO, kIoLevelStatus3) & (kVerticalLockBit | k3DBit)) ||
                          (cell(IO, kIoEdgeStatus3) & kTmdsChangeBit);
    board().pins().drive(interruptPin_, asserted ? Drive::Low : Drive::High);
}

void HdmiReceiver::setSource(const HdmiSource& next) {
    auto held = lock();
    const HdmiSource previous = sourceLocked();
    State& s = extra<State>();
    const bool wasLocked = locked(previous);
    s.sourceSet = 1;
    s.absent = next.present ? 0 : 1;
    s.width = next.width;
    s.height = next.height;
    s.khz = static_cast<uint32_t>(std::lround(next.mhz * kKhzPerMhz));
    s.video3D = next.video3D ? 1 : 0;
    const HdmiSource now = sourceLocked();
    uint8_t level = 0;
    uint8_t edge = 0;
    if (wasLocked != locked(now)) {
        level |= kVerticalLockBit;
    }
    if ((previous.present && previous.video3D) != (now.present && now.video3D)) {
        level |= k3DBit;
    }
    if (previous.present != now.present || previous.mhz != now.mhz || previous.width != now.width ||
        previous.height != now.height) {
        edge |= kTmdsChangeBit;
    }
    latch(level, edge);
}

void HdmiReceiver::setRevision(uint16_t revision) {
    auto held = lock();
    extra<State>().revision = revision;
}

void HdmiReceiver::setPllLocks(bool locks) {
    auto held = lock();
    const bool before = locked(sourceLocked());
    extra<State>().pllFails = locks ? 0 : 1;
    if (before != locked(sourceLocked())) {
        latch(kVerticalLockBit, kTmdsChangeBit);
    }
}

std::array<uint8_t, HdmiReceiver::kEdidBytes> HdmiReceiver::edid() const {
    std::array<uint8_t, kEdidBytes> bytes{};
    auto held = lock();
    for (int i = 0; i < kEdidBytes; ++i) {
        bytes[i] = static_cast<uint8_t>(cell(EDID, static_cast<uint8_t>(i)));
    }
    return bytes;
}

bool HdmiReceiver::interruptAsserted() const {
    return board().pins().read(interruptPin_) == 0;
}

unsigned HdmiReceiver::hotPlugPulses() const {
    auto held = lock();
    return extra<State>().hotPlugPulses;
}

unsigned HdmiReceiver::chipResets() const {
    auto held = lock();
    return extra<State>().chipResets;
}

void HdmiReceiver::resetRegisters() {
    for (int map = 0; map < MAPS; ++map) {
        for (int r = 0; r < kRegisters; ++r) {
            cell(map, static_cast<uint8_t>(r)) = 0;
        }
    }
    extra<State>().hotPlugLow = 0;
}

void HdmiReceiver::written(int bank, uint8_t reg, uint16_t value) {
    if (bank != IO) {
        return;
    }
    State& s = extra<State>();
    switch (reg) {
    case kIoReset:
        if (value & kResetBit) {
            resetRegisters();
            s.chipResets++;
            driveLine();
        }
        break;
    case kIoLevelClear3:
        cell(IO, kIoLevelStatus3) &= static_cast<uint16_t>(~value);
        cell(IO, kIoLevelClear3) = 0;
        driveLine();
        break;
    case kIoEdgeClear3:
        cell(IO, kIoEdgeStatus3) &= static_cast<uint16_t>(~value);
        cell(IO, kIoEdgeClear3) = 0;
        driveLine();
        break;
    case kIoHotPlug:
        if (!(value & kHotPlugBit)) {
            s.hotPlugLow = 1;
        } else if (s.hotPlugLow) {
            // The source sees the hot-plug pulse, reads the EDID again and restarts.
            s.hotPlugLow = 0;
            s.hotPlugPulses++;
            const HdmiSource src = sourceLocked();
            if (src.present) {
                latch(static_cast<uint8_t>(kVerticalLockBit | (src.video3D ? k3DBit : 0)), kTmdsChangeBit);
            }
        }
        break;
    default:
        break;
    }
}

uint16_t HdmiReceiver::measured(uint8_t reg, const HdmiSource& s) const {
    const bool isLocked = locked(s);
    const unsigned width = isLocked ? s.width : 0;
    const unsigned height = isLocked ? s.height : 0;
    const unsigned totalWidth = isLocked ? s.width * kReferenceTotalWidth / kReferenceWidth : 0;
    const unsigned field0 = isLocked ? (s.height + kVerticalBlanking) * kHalfLines : 0;
    const unsigned tmds = s.present ? static_cast<unsigned>(std::lround(s.mhz * kTmdsFractionScale)) : 0;
    switch (reg) {
    case kHdmiSync:
        return isLocked ? (kHsyncHighBit | kVsyncHighBit) : 0;
    case kHdmiWidthHigh:
        return (isLocked ? (kVerticalFilterBit | kDeRegenBit) : 0) | ((width >> kByteBits) & kFiveBits);
    case kHdmiWidthLow:
        return width & kByteMask;
    case kHdmiHeightHigh:
        return (height >> kByteBits) & kFiveBits;
    case kHdmiHeightLow:
        return height & kByteMask;
    case kHdmiTotalWidthHigh:
        return (totalWidth >> kByteBits) & kSixBits;
    case kHdmiTotalWidthLow:
        return totalWidth & kByteMask;
    case kHdmiField0High:
        return (field0 >> kByteBits) & kByteMask;
    case kHdmiField0Low:
        return field0 & kByteMask;
    case kHdmiTmdsHigh:
        return (tmds >> kByteBits) & kByteMask;
    case kHdmiTmdsLow:
        return tmds & kByteMask;
    default:
        return cell(HDMI, reg);
    }
}

uint16_t HdmiReceiver::readValue(int bank, uint8_t reg) {
    const State& st = extra<State>();
    const HdmiSource s = sourceLocked();
    if (bank == HDMI) {
        return measured(reg, s);
    }
    if (bank != IO) {
        return cell(bank, reg);
    }
    const uint16_t revision = st.revision ? st.revision : kRevision;
    switch (reg) {
    case kIoRevisionHigh:
        return revision >> kByteBits;
    case kIoRevisionLow:
        return revision & kByteMask;
    case kIoRawStatus3: {
        uint16_t raw = 0;
        if (s.present) {
            raw |= kTmdsClockBit;
        }
        if (locked(s)) {
            raw |= kPllLockBit | kVerticalLockBit | (s.video3D ? k3DBit : 0);
        }
        return raw;
    }
    case kIoRawStatus4:
        return s.present ? kCableBit : 0;
    default:
        return cell(IO, reg);
    }
}

bool HdmiReceiver::parseMode(const std::string& text, HdmiSource& source) {
    unsigned width = 0, height = 0;
    double mhz = 0;
    char tail = 0;
    if (sscanf(text.c_str(), "%ux%u@%lf%c", &width, &height, &mhz, &tail) != 3 || width == 0 || height == 0 ||
        width > 0x1FFF || height > 0x1FFF || !(mhz > 0 && mhz < 511)) {
        return false;
    }
    source.width = width;
    source.height = height;
    source.mhz = mhz;
    return true;
}

void HdmiReceiver::addStatus(JsonObject& status) const {
    JsonObject o;
    const HdmiSource s = source();
    char mode[48];
    snprintf(mode, sizeof mode, "%ux%u@%g%s", s.width, s.height, s.mhz, s.video3D ? " 3d" : "");
    o.add("source", s.present ? mode : "off");
    uint16_t revision = 0;
    bool pllFails = false;
    bool edidEnabled = false;
    bool output48 = false;
    bool mapsProgrammed = true;
    {
        auto held = lock();
        revision = extra<State>().revision ? extra<State>().revision : kRevision;
        pllFails = extra<State>().pllFails != 0;
        edidEnabled = cell(REPEATER, kRepeaterEdidControl) & 1;
        output48 = cell(IO, kIoOutputFormat) == kOutput48Bit;
        for (int map = 0; map < MAPS; ++map) {
            mapsProgrammed = mapsProgrammed && mapAnswersLocked(map);
        }
    }
    o.add("revision", hex4(revision))
        .add("maps_programmed", mapsProgrammed)
        .add("edid_enabled", edidEnabled)
        .add("edid_header_ok", edid()[1] == 0xFF && edid()[0] == 0)
        .add("output_bits", output48 ? 48 : 24)
        .add("interrupt", interruptAsserted())
        .add("hot_plug_pulses", hotPlugPulses())
        .add("chip_resets", chipResets())
        .add("pll_fails", pllFails);
    status.addRaw(std::string("hdmi_rx_") + kSide[videoChannel_], o.str());
}

std::string HdmiReceiver::help() const {
    return videoChannel_ == 0 ? kHelp : "";
}

std::optional<CommandResult> HdmiReceiver::command(const std::vector<std::string>& args) {
    if (args.size() < 3 || args[0] != "hdmi" || args[1] != kSide[videoChannel_]) {
        if (args.size() >= 1 && args[0] == "hdmi" &&
            (args.size() < 3 || (args[1] != "left" && args[1] != "right"))) {
            return CommandResult{false, std::string("usage: ") + kHelp};
        }
        return std::nullopt;
    }
    const std::string side = kSide[videoChannel_];
    if (args[2] == "off" && args.size() == 3) {
        HdmiSource s = source();
        s.present = false;
        setSource(s);
        return CommandResult{true, "HDMI " + side + " source off\n"};
    }
    if (args[2] == "revision" && args.size() == 4) {
        char* end = nullptr;
        const unsigned long v = strtoul(args[3].c_str(), &end, 16);
        if (end == args[3].c_str() || *end || v == 0 || v > 0xFFFF) {
            return CommandResult{false, "revision: a 16-bit hexadecimal number\n"};
        }
        setRevision(static_cast<uint16_t>(v));
        return CommandResult{true,
                             "HDMI " + side + " receiver revision " + hex4(static_cast<unsigned>(v)) + "\n"};
    }
    if (args[2] == "pll" && args.size() == 4 && (args[3] == "lock" || args[3] == "unlock")) {
        setPllLocks(args[3] == "lock");
        return CommandResult{true, "HDMI " + side + " PLL " + args[3] + "\n"};
    }
    HdmiSource s;
    const bool is3D = args.size() == 4 && args[3] == "3d";
    if ((args.size() == 3 || is3D) && parseMode(args[2], s)) {
        s.video3D = is3D;
        setSource(s);
        return CommandResult{true, "HDMI " + side + " source " + args[2] + (is3D ? " 3d" : "") + "\n"};
    }
    return CommandResult{false, std::string("usage: ") + kHelp};
}

} // namespace sim
