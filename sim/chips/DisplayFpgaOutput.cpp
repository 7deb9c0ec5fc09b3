// Test side of the display FPGA's output stage: the overlay store as the panels show it,
// the measured input sync times, faulty DDR cells, and the output registers decoded for
// `ostrix-sim status` (blanking, 3D modes, sync polarity, enables, contrast table).
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>

#include "sim/board/CommandArgs.h"
#include "sim/board/GuiFrame.h"
#include "sim/board/Json.h"
#include "sim/board/SteadyClock.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"

namespace sim {

namespace {

using namespace fpga_regs;

// Overlay store: RGB565, eight pixels to a 128-bit word, 512 words a line.
constexpr uint32_t kOverlayBase = 0x01F00000;
constexpr int kOverlayWidth = 1920;
constexpr int kOverlayHeight = 1080;
constexpr uint32_t kOverlayPitch = 512;
constexpr int kPixelsPerWord = 8;
constexpr int kPixelsPerLane = 2;
constexpr int kHalfBits = 16;
constexpr uint32_t kHalfMask = 0xFFFF;
constexpr uint32_t kOpaque = 0xFF000000;
// Frame store 0 starts at word 0, 512 words (2048 pixels) a line.
constexpr uint32_t kFrameStorePitch = 512;
constexpr uint32_t kShownBufferInput = 1; // input enable bit of buffer 0

// Control word fields.
constexpr uint32_t kHdmiOutputEnable = 1u << 5;
constexpr uint32_t kOverlayEnable = 1u << 6;
constexpr uint32_t kPiVideoEnable = 1u << 7;
constexpr uint32_t kDigitalZoom = 1u << 8;
constexpr int kInput3DShift = 9;
constexpr uint32_t kBlank = 1u << 11;
constexpr int kOutput3DShift = 12;
constexpr uint32_t kMode3DMask = 3;
constexpr uint32_t kHSyncActiveHigh = 1u << 14;
constexpr uint32_t kVSyncActiveHigh = 1u << 15;

constexpr int kSyncLowShift = 16;
constexpr uint32_t kSyncTimeMask = 0xFFFF;
// Contrast table entries shown in the status: every 32nd and the last.
constexpr int kLutSampleStep = 32;
constexpr uint32_t kLutEntryMask = 0xFF;

const char* kOutputHelp =
    "fpga sync left|right|both HHIGH HLOW VHIGH VLOW   measured input sync times\n"
    "fpga ddr-fault CH ADDR LANE BITS   DDR bits that read as one (CH 0 left, 1 right)\n"
    "fpga ddr-fault clear               healthy DDR again\n";

// 5- and 6-bit components spread over the full 8 bits.
uint32_t argbOf565(uint16_t v) {
    uint32_t r = (v >> 11) & 0x1F, g = (v >> 5) & 0x3F, b = v & 0x1F;
    r = (r << 3) | (r >> 2);
    g = (g << 2) | (g >> 4);
    b = (b << 3) | (b >> 2);
    return kOpaque | (r << 16) | (g << 8) | b;
}

} // namespace

uint32_t DisplayFpga::faultyRead(const State& s, int channel, uint32_t address, int lane,
                                 uint32_t value) const {
    for (uint32_t i = 0; i < s.ddrFaultCount && i < uint32_t(State::kMaxDdrFaults); ++i) {
        const auto& f = s.ddrFaults[i];
        if (f.channel == uint32_t(channel) && f.address == address && f.lane == uint32_t(lane)) {
            value |= f.stuckOnes;
        }
    }
    return value;
}

bool DisplayFpga::addDdrFault(int channel, uint32_t address, int lane, uint32_t stuckOnes) {
    auto lock = state_.lock();
    State& s = *state_;
    if (s.ddrFaultCount >= uint32_t(State::kMaxDdrFaults) || lane < 0 || lane >= DdrMemory::kLanes) {
        return false;
    }
    s.ddrFaults[s.ddrFaultCount++] = {uint32_t(channel & 1), address & DdrMemory::kAddressMask,
                                      uint32_t(lane), stuckOnes};
    return true;
}

void DisplayFpga::clearDdrFaults() {
    auto lock = state_.lock();
    state_->ddrFaultCount = 0;
}

void DisplayFpga::setSyncTimes(int channel, uint32_t hsyncHigh, uint32_t hsyncLow, uint32_t vsyncHigh,
                               uint32_t vsyncLow) {
    auto lock = state_.lock();
    auto& regs = state_->channels[channel & 1].regs;
    regs[kHSyncLoHi] = ((hsyncLow & kSyncTimeMask) << kSyncLowShift) | (hsyncHigh & kSyncTimeMask);
    regs[kVSyncHi] = vsyncHigh;
    regs[kVSyncLo] = vsyncLow;
}

uint32_t DisplayFpga::lutEntry(int channel, int index) const {
    auto lock = state_.lock();
    return state_->channels[channel & 1].lut[uint32_t(index) % DisplayFpgaState::kLutEntries];
}

uint16_t DisplayFpga::overlayPixel(int channel, int x, int y) const {
    return scanOut(channel).overlayPixel(x, y);
}

uint32_t FpgaScanOut::read(uint32_t address, int lane) const {
    uint32_t value = ddr_->read(channel_, address, lane);
    for (const auto& f : faults_) {
        if (f.address == address && f.lane == uint32_t(lane)) {
            value |= f.stuckOnes;
        }
    }
    return value;
}

uint32_t FpgaScanOut::frameStoreWord(int x, int y) const {
    if (live_) {
        return sim::frameStoreWord(warpedTestPicturePixel(warp_, channel_, x, y, frame_));
    }
    return read(uint32_t(y) * kFrameStorePitch + uint32_t(x) / DdrMemory::kLanes, x % DdrMemory::kLanes);
}

uint16_t FpgaScanOut::overlayPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= kOverlayWidth || y >= kOverlayHeight) {
        return 0;
    }
    const uint32_t word = read(kOverlayBase + uint32_t(y) * kOverlayPitch + uint32_t(x / kPixelsPerWord),
                               (x % kPixelsPerWord) / kPixelsPerLane);
    return static_cast<uint16_t>((x % kPixelsPerLane == 0) ? (word & kHalfMask) : (word >> kHalfBits));
}

// The warp engine's map is affine: the rows its rectangle takes pixels from lie between
// those of its corners.
bool FpgaScanOut::moves(int left, int top, int right, int bottom) const {
    if (!live_) {
        return false;
    }
    int lowest = INT32_MAX, highest = INT32_MIN;
    for (int x : {left, right}) {
        for (int y : {top, bottom}) {
            int sx = 0, sy = 0;
            warp_.source(x, y, kTestPictureWidth, kTestPictureHeight, sx, sy);
            lowest = std::min(lowest, sy);
            highest = std::max(highest, sy);
        }
    }
    return testPictureRowsMove(lowest, highest);
}

std::vector<uint64_t> FpgaScanOut::signature() const {
    std::vector<uint64_t> words = {uint64_t(live_),
                                   uint64_t(warp_.enabled),
                                   uint64_t(uint32_t(warp_.pixelOffset)),
                                   uint64_t(uint32_t(warp_.lineOffset)),
                                   std::bit_cast<uint64_t>(warp_.sine),
                                   transfers_};
    for (const auto& f : faults_) {
        words.insert(words.end(), {f.address, f.lane, f.stuckOnes});
    }
    return words;
}

FpgaScanOut DisplayFpga::scanOut(int channel) const {
    FpgaScanOut out;
    out.ddr_ = &ddr_;
    out.channel_ = channel & 1;
    auto lock = state_.lock();
    const State& s = *state_;
    out.live_ = s.channels[out.channel_].regs[kFrameStoreEnable] & kShownBufferInput;
    out.warp_ = warpMap(s, out.channel_);
    out.frame_ = liveFrame(s, nowNs());
    out.transfers_ = s.transfers;
    for (uint32_t i = 0; i < s.ddrFaultCount && i < uint32_t(State::kMaxDdrFaults); ++i) {
        if (s.ddrFaults[i].channel == uint32_t(out.channel_)) {
            out.faults_.push_back(s.ddrFaults[i]);
        }
    }
    return out;
}

std::string DisplayFpga::saveOverlay(int channel, const std::string& path) const {
    const FpgaScanOut scan = scanOut(channel);
    std::vector<uint32_t> argb(size_t(kOverlayWidth) * kOverlayHeight);
    for (int y = 0; y < kOverlayHeight; ++y) {
        for (int x = 0; x < kOverlayWidth; ++x) {
            argb[size_t(y) * kOverlayWidth + x] = argbOf565(scan.overlayPixel(x, y));
        }
    }
    return writePng(path, kOverlayWidth, kOverlayHeight, argb);
}

void DisplayFpga::addOutputStatus(const State& s, int channel, JsonObject& o) const {
    const auto& ch = s.channels[channel];
    const uint32_t control = ch.regs[kControl];
    o.add("blanked", bool(control & kBlank));
    o.add("hdmi_output_enable", bool(control & kHdmiOutputEnable));
    o.add("overlay_enable", bool(control & kOverlayEnable));
    o.add("pi_video_enable", bool(control & kPiVideoEnable));
    o.add("digital_zoom", bool(control & kDigitalZoom));
    o.add("input_3d_mode", static_cast<int>((control >> kInput3DShift) & kMode3DMask));
    o.add("output_3d_mode", static_cast<int>((control >> kOutput3DShift) & kMode3DMask));
    o.add("hsync_active_high", bool(control & kHSyncActiveHigh));
    o.add("vsync_active_high", bool(control & kVSyncActiveHigh));
    o.add("overlay_scaled_background_colour", hexWord(ch.regs[kOverlayScaledBackground]));
    JsonObject sync;
    sync.add("hsync_high", static_cast<int>(ch.regs[kHSyncLoHi] & kSyncTimeMask));
    sync.add("hsync_low", static_cast<int>(ch.regs[kHSyncLoHi] >> kSyncLowShift));
    sync.add("vsync_high", static_cast<int64_t>(ch.regs[kVSyncHi]));
    sync.add("vsync_low", static_cast<int64_t>(ch.regs[kVSyncLo]));
    o.addRaw("sync", sync.str());
    JsonObject lut;
    for (int i = 0; i < DisplayFpgaState::kLutEntries; i += kLutSampleStep) {
        lut.add(std::to_string(i), static_cast<int>(ch.lut[i] & kLutEntryMask));
    }
    const int last = DisplayFpgaState::kLutEntries - 1;
    lut.add(std::to_string(last), static_cast<int>(ch.lut[last] & kLutEntryMask));
    o.addRaw("contrast_lut", lut.str());
}

std::string DisplayFpga::outputHelp() {
    return kOutputHelp;
}

std::optional<CommandResult> DisplayFpga::outputCommand(const std::vector<std::string>& args) {
    const std::string& what = args.size() > 1 ? args[1] : "";
    const CommandResult usage{false, std::string("usage:\n") + kOutputHelp};
    if (what == "sync") {
        long v[4] = {};
        if (args.size() != 7 || (args[2] != "left" && args[2] != "right" && args[2] != "both")) {
            return usage;
        }
        for (int i = 0; i < 4; ++i) {
            if (!parseNumber(args[3 + i], v[i]) || v[i] < 0) {
                return usage;
            }
        }
        for (int c = 0; c < 2; ++c) {
            if (args[2] == "both" || (args[2] == "left") == (c == 0)) {
                setSyncTimes(c, uint32_t(v[0]), uint32_t(v[1]), uint32_t(v[2]), uint32_t(v[3]));
            }
        }
        return CommandResult{};
    }
    if (what == "ddr-fault") {
        if (args.size() == 3 && args[2] == "clear") {
            clearDdrFaults();
            return CommandResult{};
        }
        long c = 0, address = 0, lane = 0, bits = 0;
        if (args.size() != 6 || !parseNumber(args[2], c) || !parseNumber(args[3], address) ||
            !parseNumber(args[4], lane) || !parseNumber(args[5], bits)) {
            return usage;
        }
        if (!addDdrFault(int(c), uint32_t(address), int(lane), uint32_t(bits))) {
            return CommandResult{false, "no room for another DDR fault, or lane not 0..3\n"};
        }
        return CommandResult{};
    }
    return std::nullopt;
}

} // namespace sim
