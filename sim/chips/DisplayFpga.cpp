#include "sim/chips/DisplayFpga.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "sim/board/CommandArgs.h"
#include "sim/board/Json.h"
#include "sim/board/SteadyClock.h"
#include "sim/chips/FpgaTestPicture.h"

namespace sim {

namespace {

using namespace fpga_regs;
using namespace fpga_status;

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;

constexpr uint32_t kDefaultVersion = 31;
constexpr uint32_t kFirstVersionWithMemTest = 15;
constexpr uint32_t kDefaultConfigMs = 100;
constexpr uint32_t kDefaultDdrInitMs = 20;
constexpr uint32_t kDefaultMemTestMs = 30;
constexpr uint8_t kDefaultWarpHeadroom = 32;
constexpr uint32_t kWarpFlagsMask = 0xF;
constexpr int kWarpFlagsShift = 16;

// Sync timing the measurement registers report for a 1080p60 input (pixel clocks).
constexpr uint32_t kHSyncHigh = 44;
constexpr uint32_t kHSyncLow = 2156;
constexpr uint32_t kVSyncHigh = 5 * 2200;
constexpr uint32_t kVSyncLow = 1120 * 2200;
constexpr int kSyncLowShift = 16;

// Frame-store geometry: four buffers 0x100000 words apart, 512 words (2048 pixels) a line.
constexpr int kFrameBuffers = 4;
constexpr uint32_t kFrameBufferShift = 20;
constexpr uint32_t kFrameBufferMask = (1u << kFrameBufferShift) - 1;
constexpr int kLineShift = 9;
constexpr uint32_t kLineWordMask = (1u << kLineShift) - 1;
constexpr uint32_t kInputEnableMask = 0xF;

// The flash the FPGA configures from (programmed by the configuration-flash programmer);
// an erased flash reads 0xFF.
constexpr const char* kFlashFile = "config-flash.bin";
constexpr size_t kFlashHeaderBytes = 4096;
constexpr unsigned char kErased = 0xFF;

constexpr int kByteBits = 8;
constexpr int kWordBytes = 4;

uint32_t getWord(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void putWord(unsigned char* p, uint32_t v) {
    for (int i = 0; i < kWordBytes; ++i) {
        p[i] = static_cast<unsigned char>(v >> (kByteBits * (kWordBytes - 1 - i)));
    }
}

uint32_t channelMask(const std::string& which) {
    if (which == "left") {
        return 1;
    }
    if (which == "right") {
        return 2;
    }
    return which == "both" ? 3 : 0;
}

bool isReadOnly(int reg) {
    return reg == kStatus || reg == kHSyncLoHi || reg == kVSyncHi || reg == kVSyncLo ||
           reg == kControlReadback || reg == kOverlayReadback ||
           (reg >= kWarpStatusFirst && reg < kWarpStatusFirst + kWarpStatusWords) || reg == kPiFrameCount ||
           reg == kVersion;
}

const char* kHelp = "fpga version N              FPGA version register (0xFF: no FPGA answers)\n"
                    "fpga status-stuck V|off     status register always reads V (e.g. 0x0A)\n"
                    "fpga ddr-ready yes|no       DDR initialisation completes, or never does\n"
                    "fpga memtest pass|fail [left|right|both]\n"
                    "fpga config-fails yes|no    configuration from the flash fails\n"
                    "fpga pi-video stall|run     freezes or resumes the Pi video frame counter\n"
                    "fpga warp-status CH I HEADROOM FLAGS\n"
                    "fpga reg CH REG [VALUE]     reads or sets a register (CH 0 left, 1 right)\n"
                    "fpga ddr CH ADDR [COUNT]    dumps 128-bit DDR words\n";

} // namespace

DisplayFpga::DisplayFpga(Board& board)
    : board_(board), state_(board.volatilePath("fpga.state")), ddr_(board.volatilePath("fpga-ddr.mem")) {
    if (state_.valid() && !state_->initialised) {
        auto lock = state_.lock();
        applyOptions(*state_);
    }
    // Pull-ups on the board keep the FPGA out of reset and configuration until driven.
    board_.pins().setExternalPullUp(kFpgaResetPin, true);
    board_.pins().setExternalPullUp(kConfigPin, true);
    board_.pins().drive(kConfigStatusPin, Drive::High);
    refreshConfDone();
    configHook_ = board_.pins().addEdgeHook(kConfigPin, [this](int, int level) { onConfigPin(level); });
    resetHook_ = board_.pins().addEdgeHook(kFpgaResetPin, [this](int, int level) { onResetPin(level); });
}

DisplayFpga::~DisplayFpga() {
    board_.pins().removeEdgeHook(configHook_);
    board_.pins().removeEdgeHook(resetHook_);
}

std::string DisplayFpga::flashPath() const {
    return board_.persistentPath(kFlashFile);
}

void DisplayFpga::applyOptions(State& s) const {
    const BoardConfig& c = board_.config();
    int64_t now = nowNs();
    s.version = static_cast<uint32_t>(c.getInt("fpga.version", kDefaultVersion));
    s.statusStuck = static_cast<int32_t>(c.getInt("fpga.status_stuck", -1));
    s.ddrNeverReady = c.getBool("fpga.ddr_never_ready", false);
    s.memTestFailMask = channelMask(c.get("fpga.memtest_fail"));
    s.configFails = c.getBool("fpga.config_fails", false);
    s.configMs = static_cast<uint32_t>(c.getInt("fpga.config_ms", kDefaultConfigMs));
    s.ddrInitMs = static_cast<uint32_t>(c.getInt("fpga.ddr_init_ms", kDefaultDdrInitMs));
    s.memTestMs = static_cast<uint32_t>(c.getInt("fpga.memtest_ms", kDefaultMemTestMs));
    // The board has been powered for a while when programs start: configured from flash.
    s.configured = flashImageValid(s);
    s.powerOnNs = s.resetReleaseNs = s.piCountStartNs = now;
    for (auto& ch : s.channels) {
        ch.regs[kHSyncLoHi] = (kHSyncLow << kSyncLowShift) | kHSyncHigh;
        ch.regs[kVSyncHi] = kVSyncHigh;
        ch.regs[kVSyncLo] = kVSyncLow;
        for (auto& h : ch.warpHeadroom) {
            h = kDefaultWarpHeadroom;
        }
    }
    s.initialised = true;
}

void DisplayFpga::powerOn() {
    if (!state_.valid()) {
        return;
    }
    // The board's pull-ups come up with the power, before the FPGA loads its image.
    board_.pins().setExternalPullUp(kFpgaResetPin, true);
    board_.pins().setExternalPullUp(kConfigPin, true);
    board_.pins().drive(kConfigStatusPin, Drive::High);
    state_.reset();
    {
        auto lock = state_.lock();
        applyOptions(*state_);
    }
    ddr_.clear();
    refreshConfDone();
}

bool DisplayFpga::flashImageValid(const State& s) const {
    if (s.configFails) {
        return false;
    }
    std::ifstream flash(flashPath(), std::ios::binary);
    if (!flash) {
        return true; // no flash image yet: the board comes up configured
    }
    char block[kFlashHeaderBytes];
    flash.read(block, sizeof block);
    for (std::streamsize i = 0; i < flash.gcount(); ++i) {
        if (static_cast<unsigned char>(block[i]) != kErased) {
            return true;
        }
    }
    return false;
}

void DisplayFpga::refreshConfDone() {
    if (!state_.valid()) {
        return;
    }
    bool done;
    {
        auto lock = state_.lock();
        State& s = *state_;
        if (s.configuring && nowNs() - s.configStartNs >= int64_t(s.configMs) * kNsPerMs) {
            s.configuring = false;
            s.configured = flashImageValid(s);
        }
        done = s.configured;
    }
    Drive want = done ? Drive::High : Drive::Low;
    if (board_.pins().driven(kConfDonePin) != want) {
        board_.pins().drive(kConfDonePin, want);
    }
}

void DisplayFpga::onConfigPin(int level) {
    {
        auto lock = state_.lock();
        State& s = *state_;
        s.configured = false;
        s.configuring = level != 0;
        s.configStartNs = nowNs();
    }
    refreshConfDone();
}

void DisplayFpga::onResetPin(int level) {
    auto lock = state_.lock();
    State& s = *state_;
    if (level == 0) {
        s.inReset = true;
        resetRegisters(s);
    } else if (s.inReset) {
        s.inReset = false;
        s.resetReleaseNs = nowNs();
    }
}

void DisplayFpga::resetRegisters(State& s) {
    for (auto& ch : s.channels) {
        uint32_t hsync = ch.regs[kHSyncLoHi], vhi = ch.regs[kVSyncHi], vlo = ch.regs[kVSyncLo];
        for (auto& r : ch.regs) {
            r = 0;
        }
        ch.regs[kHSyncLoHi] = hsync;
        ch.regs[kVSyncHi] = vhi;
        ch.regs[kVSyncLo] = vlo;
        ch.writeAddress = ch.readAddress = 0;
        ch.writeLane = ch.readLane = 0;
        ch.portReads = false;
        for (auto& f : ch.warpFlags) {
            f = 0;
        }
    }
}

uint32_t DisplayFpga::status(const State& s, int channel, int64_t now) const {
    if (s.statusStuck >= 0) {
        return static_cast<uint32_t>(s.statusStuck);
    }
    uint32_t v = kMagicNibble;
    int64_t elapsed = now - s.resetReleaseNs;
    if (s.inReset || s.ddrNeverReady || elapsed < int64_t(s.ddrInitMs) * kNsPerMs) {
        return v;
    }
    v |= kCalSuccess | kPllLocked | kInitDone;
    if (s.version < kFirstVersionWithMemTest) {
        return v;
    }
    if (elapsed < int64_t(s.ddrInitMs + s.memTestMs) * kNsPerMs) {
        return v | kMemTestBusy;
    }
    bool fails = s.memTestFailMask & (1u << channel);
    return v | kMemTestDone | (fails ? kMemTestFail : kMemTestPass);
}

uint32_t DisplayFpga::piFrameCount(const State& s, int64_t now) const {
    if (s.piVideoStalled) {
        return s.piCountBase;
    }
    return s.piCountBase +
           static_cast<uint32_t>((now - s.piCountStartNs) * kTestPictureFrameRate / kNsPerSecond);
}

uint32_t DisplayFpga::readRegister(State& s, int channel, int reg, int64_t now) const {
    const auto& ch = s.channels[channel];
    if (reg == kStatus) {
        return status(s, channel, now);
    }
    if (reg == kControlReadback) {
        return ch.regs[kControl];
    }
    if (reg == kOverlayReadback) {
        return ch.regs[kOverlayTransparent];
    }
    if (reg >= kWarpStatusFirst && reg < kWarpStatusFirst + kWarpStatusWords) {
        int i = reg - kWarpStatusFirst;
        return ch.warpHeadroom[i] | (uint32_t(ch.warpFlags[i] & kWarpFlagsMask) << kWarpFlagsShift);
    }
    if (reg == kPiFrameCount) {
        return channel == 0 ? piFrameCount(s, now) : 0;
    }
    if (reg == kVersion) {
        return s.version;
    }
    return ch.regs[reg];
}

void DisplayFpga::writeRegister(State& s, int channel, int reg, uint32_t value, int64_t now) {
    auto& ch = s.channels[channel];
    if (isReadOnly(reg)) {
        return;
    }
    uint32_t previous = ch.regs[reg];
    ch.regs[reg] = value;
    switch (reg) {
    case kWriteAddress:
        ch.writeAddress = value & DdrMemory::kAddressMask;
        ch.writeLane = 0;
        ch.portReads = false;
        break;
    case kReadAddress:
        ch.readAddress = value & DdrMemory::kAddressMask;
        ch.readLane = 0;
        ch.portReads = true;
        break;
    case kLutData:
        ch.lut[ch.regs[kLutAddress] % DisplayFpgaState::kLutEntries] = value;
        break;
    case kFrameStoreEnable:
        freezeStoppedInputs(s, channel, previous, value, now);
        break;
    case kWarpStatusStrobe:
        if (previous != 0 && value == 0) {
            for (auto& f : ch.warpFlags) {
                f = 0; // the strobe acknowledges the sticky flags
            }
        }
        break;
    case kPiRxControl:
        if (channel == 0 && (value & 1)) {
            s.mipiResets++; // the receiver restarts; its frame counter keeps counting
        }
        break;
    default:
        break;
    }
}

// Stopping a buffer's input keeps the frame it held: the live picture is written to DDR.
void DisplayFpga::freezeStoppedInputs(State& s, int channel, uint32_t previous, uint32_t enables,
                                      int64_t now) {
    uint32_t stopped = previous & ~enables & kInputEnableMask;
    const uint32_t frame = liveFrame(s, now);
    for (uint32_t buffer = 0; buffer < kFrameBuffers; ++buffer) {
        if (!(stopped & (1u << buffer))) {
            continue;
        }
        const WarpMap warp = warpMap(s, channel);
        for (int y = 0; y < kTestPictureHeight; ++y) {
            uint32_t lineAddress = (buffer << kFrameBufferShift) + (uint32_t(y) << kLineShift);
            for (int x = 0; x < kTestPictureWidth; ++x) {
                uint32_t word = frameStoreWord(warpedTestPicturePixel(warp, channel, x, y, frame));
                ddr_.write(channel, lineAddress + x / DdrMemory::kLanes, x % DdrMemory::kLanes, word);
            }
        }
    }
}

uint32_t DisplayFpga::liveFrame(const State& s, int64_t now) {
    return static_cast<uint32_t>((now - s.powerOnNs) * kTestPictureFrameRate / kNsPerSecond);
}

uint32_t DisplayFpga::liveWord(const State& s, int channel, uint32_t address, int lane, int64_t now) const {
    uint32_t buffer = address >> kFrameBufferShift;
    const auto& ch = s.channels[channel];
    if (buffer < kFrameBuffers && (ch.regs[kFrameStoreEnable] & (1u << buffer))) {
        uint32_t offset = address & kFrameBufferMask;
        int line = static_cast<int>(offset >> kLineShift);
        int x = static_cast<int>((offset & kLineWordMask) * DdrMemory::kLanes) + lane;
        if (line < kTestPictureHeight && x < kTestPictureWidth) {
            return frameStoreWord(
                warpedTestPicturePixel(warpMap(s, channel), channel, x, line, liveFrame(s, now)));
        }
    }
    return faultyRead(s, channel, address, lane, ddr_.read(channel, address, lane));
}

// A burst that ends part-way through a word, as a short overlay row does, keeps the lanes
// it sent (the port has byte enables); a word written register by register still lands
// with its last lane.
void DisplayFpga::flushPartialWord(State& s, int channel) {
    auto& ch = s.channels[channel];
    for (int i = 0; i < ch.writeLane; ++i) {
        ddr_.write(channel, ch.writeAddress, i, ch.staged[i]);
    }
}

uint32_t DisplayFpga::portRead(State& s, int channel, int64_t now) {
    auto& ch = s.channels[channel];
    uint32_t v = liveWord(s, channel, ch.readAddress, ch.readLane, now);
    if (++ch.readLane == DdrMemory::kLanes) {
        ch.readLane = 0;
        ch.readAddress = (ch.readAddress + 1) & DdrMemory::kAddressMask;
    }
    return v;
}

void DisplayFpga::portWrite(State& s, int channel, int lane, uint32_t value) {
    auto& ch = s.channels[channel];
    ch.staged[lane] = value;
    ch.writeLane = static_cast<uint8_t>(lane + 1);
    if (ch.writeLane == DdrMemory::kLanes) {
        for (int i = 0; i < DdrMemory::kLanes; ++i) {
            ddr_.write(channel, ch.writeAddress, i, ch.staged[i]);
        }
        ch.writeAddress = (ch.writeAddress + 1) & DdrMemory::kAddressMask;
        ch.writeLane = 0;
        ch.writes++;
    }
}

void DisplayFpga::transfer(unsigned char* data, int len) {
    if (len <= 0 || !state_.valid()) {
        return;
    }
    refreshConfDone();
    auto lock = state_.lock();
    State& s = *state_;
    if (!s.configured) {
        for (int i = 0; i < len; ++i) {
            data[i] = kErased; // MISO idles high
        }
        return;
    }
    int64_t now = nowNs();
    s.transfers++;
    int reg = data[0] & ~kChannelBit;
    int channel = (data[0] & kChannelBit) ? 1 : 0;
    data[0] = 0;
    int words = (len - 1) / kWordBytes;
    for (int k = 0; k < words; ++k) {
        unsigned char* p = data + 1 + k * kWordBytes;
        uint32_t in = getWord(p);
        uint32_t out = 0;
        if (reg == kData0 && s.channels[channel].portReads) {
            out = portRead(s, channel, now);
        } else if (reg >= kData0 && reg <= kData3) {
            if (reg == kData0 || k == 0) {
                int lane = reg == kData0 ? s.channels[channel].writeLane : reg - kData0;
                portWrite(s, channel, lane, in);
            }
        } else if (k == 0) {
            out = readRegister(s, channel, reg, now);
            writeRegister(s, channel, reg, in, now);
        }
        putWord(p, out);
    }
    if (reg == kData0 && words > 1 && !s.channels[channel].portReads) {
        flushPartialWord(s, channel);
    }
    for (int i = 1 + words * kWordBytes; i < len; ++i) {
        data[i] = 0;
    }
}

uint32_t DisplayFpga::registerValue(int channel, int reg) const {
    auto lock = state_.lock();
    return readRegister(*state_, channel & 1, reg & ~kChannelBit, nowNs());
}

void DisplayFpga::setRegister(int channel, int reg, uint32_t value) {
    auto lock = state_.lock();
    state_->channels[channel & 1].regs[reg & ~kChannelBit] = value;
}

uint32_t DisplayFpga::ddrWord(int channel, uint32_t address, int lane) const {
    auto lock = state_.lock();
    return liveWord(*state_, channel & 1, address & DdrMemory::kAddressMask, lane, nowNs());
}

void DisplayFpga::setDdrWord(int channel, uint32_t address, int lane, uint32_t value) {
    auto lock = state_.lock();
    ddr_.write(channel & 1, address, lane, value);
}

bool DisplayFpga::configured() const {
    const_cast<DisplayFpga*>(this)->refreshConfDone();
    auto lock = state_.lock();
    return state_->configured;
}

uint32_t DisplayFpga::mipiResets() const {
    auto lock = state_.lock();
    return state_->mipiResets;
}

void DisplayFpga::setWarpStatus(int channel, int index, uint8_t headroom, uint8_t flags) {
    if (index < 0 || index >= kWarpStatusWords) {
        return;
    }
    auto lock = state_.lock();
    state_->channels[channel & 1].warpHeadroom[index] = headroom;
    state_->channels[channel & 1].warpFlags[index] = flags;
}

void DisplayFpga::stallPiVideo(bool stalled) {
    auto lock = state_.lock();
    State& s = *state_;
    int64_t now = nowNs();
    if (stalled && !s.piVideoStalled) {
        s.piCountBase = piFrameCount(s, now);
    } else if (!stalled && s.piVideoStalled) {
        s.piCountStartNs = now;
    }
    s.piVideoStalled = stalled;
}

std::string DisplayFpga::channelStatus(const State& s, int channel, int64_t now) const {
    const auto& ch = s.channels[channel];
    JsonObject o;
    o.add("control", hexWord(ch.regs[kControl]));
    o.add("backlight", static_cast<int>(ch.regs[kBacklight]));
    o.add("overlay_transparent_colour", hexWord(ch.regs[kOverlayTransparent]));
    o.add("overlay_background_colour", hexWord(ch.regs[kOverlayBackground]));
    o.add("overlay_background_transparency", static_cast<int>(ch.regs[kOverlayTransparency]));
    o.add("overlay_location", hexWord(ch.regs[kOverlayLocation]));
    o.add("warp_pixel_offset", static_cast<int>(static_cast<int32_t>(ch.regs[kWarpPixelOffset])));
    o.add("warp_line_offset", static_cast<int>(static_cast<int32_t>(ch.regs[kWarpLineOffset])));
    o.add("frame_store_enable", hexWord(ch.regs[kFrameStoreEnable]));
    o.add("crosshair_enable", static_cast<int>(ch.regs[kCrosshairEnable]));
    o.add("crosshair_colour", hexWord(ch.regs[kCrosshairColour]));
    o.add("sharpness", static_cast<int>(ch.regs[kSharpness]));
    addOutputStatus(s, channel, o);
    o.add("status", hexWord(status(s, channel, now)));
    o.add("ddr_write_address", hexWord(ch.writeAddress));
    o.add("ddr_read_address", hexWord(ch.readAddress));
    o.add("ddr_port", ch.portReads ? "read" : "write");
    o.add("ddr_words_written", static_cast<uint64_t>(ch.writes));
    JsonArray warp;
    for (int i = 0; i < kWarpStatusWords; ++i) {
        warp.addRaw(jsonString(hexWord(ch.warpHeadroom[i] | (uint32_t(ch.warpFlags[i]) << kWarpFlagsShift))));
    }
    o.addRaw("warp_status", warp.str());
    return o.str();
}

void DisplayFpga::addStatus(JsonObject& status) const {
    const_cast<DisplayFpga*>(this)->refreshConfDone();
    auto lock = state_.lock();
    const State& s = *state_;
    int64_t now = nowNs();
    JsonObject o;
    o.add("configured", s.configured);
    o.add("in_reset", s.inReset);
    o.add("version", hexWord(s.version));
    o.add("spi_transfers", static_cast<uint64_t>(s.transfers));
    o.add("pi_frame_count", static_cast<int64_t>(piFrameCount(s, now)));
    o.add("pi_video_stalled", s.piVideoStalled);
    o.add("mipi_resets", static_cast<int64_t>(s.mipiResets));
    JsonObject live;
    live.add("left", bool(s.channels[0].regs[kFrameStoreEnable] & 1));
    live.add("right", bool(s.channels[1].regs[kFrameStoreEnable] & 1));
    o.addRaw("frame_store_live", live.str());
    JsonObject faults;
    faults.add("status_stuck", static_cast<int>(s.statusStuck));
    faults.add("ddr_never_ready", s.ddrNeverReady);
    faults.add("memtest_fail_mask", static_cast<int>(s.memTestFailMask));
    faults.add("config_fails", s.configFails);
    faults.add("ddr_faults", static_cast<int>(s.ddrFaultCount));
    o.addRaw("faults", faults.str());
    o.addRaw("left", channelStatus(s, 0, now));
    o.addRaw("right", channelStatus(s, 1, now));
    status.addRaw("fpga", o.str());
}

std::string DisplayFpga::help() const {
    return kHelp + outputHelp() + frameStoreHelp();
}

std::optional<CommandResult> DisplayFpga::command(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "framestore") {
        return frameStoreCommand(args);
    }
    if (args.empty() || args[0] != "fpga") {
        return std::nullopt;
    }
    if (auto result = outputCommand(args)) {
        return result;
    }
    const CommandResult usage{false, std::string("usage:\n") + kHelp};
    if (args.size() < 3) {
        return usage;
    }
    const std::string& what = args[1];
    long a = 0, b = 0, c = 0, d = 0;
    if (what == "version" && parseNumber(args[2], a)) {
        auto lock = state_.lock();
        state_->version = static_cast<uint32_t>(a);
        return CommandResult{};
    }
    if (what == "status-stuck") {
        bool off = args[2] == "off";
        if (!off && !parseNumber(args[2], a)) {
            return usage;
        }
        auto lock = state_.lock();
        state_->statusStuck = off ? -1 : static_cast<int32_t>(a);
        return CommandResult{};
    }
    if (what == "ddr-ready" && (args[2] == "yes" || args[2] == "no")) {
        auto lock = state_.lock();
        state_->ddrNeverReady = args[2] == "no";
        return CommandResult{};
    }
    if (what == "memtest" && (args[2] == "pass" || args[2] == "fail")) {
        uint32_t mask = channelMask(args.size() > 3 ? args[3] : "both");
        auto lock = state_.lock();
        state_->memTestFailMask = args[2] == "fail" ? mask : 0;
        return CommandResult{};
    }
    if (what == "config-fails" && (args[2] == "yes" || args[2] == "no")) {
        auto lock = state_.lock();
        state_->configFails = args[2] == "yes";
        return CommandResult{};
    }
    if (what == "pi-video" && (args[2] == "stall" || args[2] == "run")) {
        stallPiVideo(args[2] == "stall");
        return CommandResult{};
    }
    if (what == "warp-status" && args.size() == 6 && parseNumber(args[2], a) && parseNumber(args[3], b) &&
        parseNumber(args[4], c) && parseNumber(args[5], d)) {
        setWarpStatus(static_cast<int>(a), static_cast<int>(b), static_cast<uint8_t>(c),
                      static_cast<uint8_t>(d));
        return CommandResult{};
    }
    if (what == "reg" && args.size() >= 4 && parseNumber(args[2], a) && parseNumber(args[3], b)) {
        if (args.size() == 5 && parseNumber(args[4], c)) {
            setRegister(static_cast<int>(a), static_cast<int>(b), static_cast<uint32_t>(c));
            return CommandResult{};
        }
        return CommandResult{true, hexWord(registerValue(static_cast<int>(a), static_cast<int>(b))) + "\n"};
    }
    if (what == "ddr" && args.size() >= 4 && parseNumber(args[2], a) && parseNumber(args[3], b)) {
        constexpr long kMaxDump = 4096;
        if (args.size() == 5 && !parseNumber(args[4], c)) {
            return usage;
        }
        long count = args.size() == 5 ? std::min(c, kMaxDump) : 1;
        std::string text;
        for (long i = 0; i < count; ++i) {
            auto address = static_cast<uint32_t>(b + i);
            text += hexWord(address) + ":";
            for (int lane = 0; lane < DdrMemory::kLanes; ++lane) {
                text += ' ';
                text += hexWord(ddrWord(static_cast<int>(a), address, lane));
            }
            text += "\n";
        }
        return CommandResult{true, text};
    }
    return usage;
}

} // namespace sim
