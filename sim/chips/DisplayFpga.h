// The display FPGA on SPI channel 0 and its configuration lines.
//
// Bus side: every SPI transfer starts with an address byte (bits 0..6 register, bit 7
// channel) followed by 32-bit words, most significant byte first; the answer shifted out
// is the register's value as it was when the address arrived. The DDR data port streams
// words to the write pointer or from the read pointer: whichever address register was
// written last sets its direction, so line bursts of any length (5, 17, 241, 481, 961
// bytes) and the four-transfer 128-bit read all work as the FPGA's port does.
// Configuration: CONF_DONE (GPIO 39) is driven high once the FPGA has loaded a valid image
// from its configuration flash (a board without a flash image yet is configured at power
// on); nCONFIG (GPIO 36) low clears it and its rising edge starts a new configuration.
// FPGA_RESET_N (GPIO 4) low holds the FPGA in reset; after release the status register
// reports DDR initialisation, PLL lock and the memory test after short delays.
// An unconfigured FPGA leaves MISO high: every byte reads 0xFF.
//
// Test side: faults (version 0xFF, status stuck at 0x0A, DDR never ready, memory test
// failure, configuration failure, frozen Pi video input, DDR bits stuck at one), register
// and DDR inspection, the measured input sync times, the overlay store as a picture.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board/Board.h"
#include "sim/board/SharedMemory.h"
#include "sim/chips/DdrMemory.h"
#include "sim/chips/FpgaWarp.h"

namespace sim {

namespace fpga_regs {
constexpr int kControl = 0x00;
constexpr int kBacklight = 0x01;
constexpr int kOverlayTransparent = 0x02;
constexpr int kOverlayBackground = 0x03;
constexpr int kOverlayTransparency = 0x04;
constexpr int kOverlayLocation = 0x05;
constexpr int kOverlayScaledBackground = 0x07;
constexpr int kWarpPixelOffset = 0x08;
constexpr int kWarpLineOffset = 0x09;
constexpr int kFrameStoreEnable = 0x0C;
constexpr int kCrosshairEnable = 0x0D;
constexpr int kCrosshairColour = 0x0E;
constexpr int kSharpness = 0x0F;
constexpr int kWriteAddress = 0x10;
constexpr int kReadAddress = 0x11;
constexpr int kData0 = 0x14;
constexpr int kData3 = 0x17;
constexpr int kLutAddress = 0x20;
constexpr int kLutData = 0x21;
constexpr int kStatus = 0x30;
constexpr int kHSyncLoHi = 0x3D;
constexpr int kVSyncHi = 0x3E;
constexpr int kVSyncLo = 0x3F;
constexpr int kControlReadback = 0x40;
constexpr int kOverlayReadback = 0x42;
constexpr int kWarpStatusFirst = 0x50;
constexpr int kWarpStatusWords = 15;
constexpr int kWarpStatusStrobe = 0x5F;
constexpr int kPiFrameCount = 0x63;
constexpr int kPiRxControl = 0x66;
constexpr int kVersion = 0x7F;
constexpr int kRegisters = 128;
constexpr int kChannelBit = 0x80;
} // namespace fpga_regs

namespace fpga_status {
constexpr uint32_t kCalSuccess = 1u << 1;
constexpr uint32_t kPllLocked = 1u << 2;
constexpr uint32_t kInitDone = 1u << 3;
constexpr uint32_t kMemTestBusy = 1u << 4;
constexpr uint32_t kMemTestFail = 1u << 5;
constexpr uint32_t kMemTestPass = 1u << 6;
constexpr uint32_t kMemTestDone = 1u << 7;
constexpr uint32_t kMagicNibble = 0xAu << 12;
} // namespace fpga_status

// GPIO lines of the FPGA's configuration and reset.
constexpr int kFpgaResetPin = 4;
constexpr int kConfigPin = 36; // nCONFIG
constexpr int kConfigStatusPin = 38;
constexpr int kConfDonePin = 39;

struct DisplayFpgaState {
    static constexpr uint32_t kMagic = 0x4F465047; // "OFPG"
    static constexpr uint32_t kVersion = 2;
    static constexpr int kLutEntries = 256;
    static constexpr int kMaxDdrFaults = 8;

    // DDR bits that read as one at one address of one channel.
    struct DdrFault {
        uint32_t channel = 0;
        uint32_t address = 0;
        uint32_t lane = 0;
        uint32_t stuckOnes = 0;
    };

    struct Channel {
        uint32_t regs[fpga_regs::kRegisters] = {};
        uint32_t writeAddress = 0;
        uint32_t readAddress = 0;
        uint8_t writeLane = 0;
        uint8_t readLane = 0;
        bool portReads = false; // direction of the data port: last address register written
        uint32_t staged[DdrMemory::kLanes] = {};
        uint32_t lut[kLutEntries] = {};
        uint8_t warpHeadroom[fpga_regs::kWarpStatusWords] = {};
        uint8_t warpFlags[fpga_regs::kWarpStatusWords] = {};
        uint64_t writes = 0; // 128-bit words written to DDR
    };

    RegionHeader header;
    bool initialised = false;
    // Options, from the board configuration at power on, changed by ostrix-sim fpga.
    uint32_t version = 0;
    int32_t statusStuck = -1; // status value every read returns, or -1
    bool ddrNeverReady = false;
    uint32_t memTestFailMask = 0; // bit 0 left, bit 1 right
    bool configFails = false;
    bool piVideoStalled = false;
    uint32_t configMs = 0, ddrInitMs = 0, memTestMs = 0;
    // Configuration and reset.
    bool configured = false;
    bool configuring = false;
    int64_t configStartNs = 0;
    bool inReset = false;
    int64_t resetReleaseNs = 0;
    int64_t powerOnNs = 0;
    // Pi video input.
    int64_t piCountStartNs = 0;
    uint32_t piCountBase = 0;
    uint32_t mipiResets = 0;
    uint64_t transfers = 0;
    Channel channels[2];
    uint32_t ddrFaultCount = 0;
    DdrFault ddrFaults[kMaxDdrFaults];
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(DisplayFpgaState) == 3472 && offsetof(DisplayFpgaState, configStartNs) == 64 &&
                  offsetof(DisplayFpgaState, channels) == 120 &&
                  offsetof(DisplayFpgaState, ddrFaults) == 3340,
              "shared state layout");

// What one channel's output stage reads during a frame: frame store 0 (the live input
// through the warp engine while its input is enabled, else what its memory holds) and the
// overlay store. Taken under the state's lock in one step; reading pixels afterwards takes
// no lock, so a viewer that reads whole panels never holds up the programs' SPI transfers.
// Valid while its FPGA model lives.
class FpgaScanOut {
public:
    // A word of frame store 0 (red in bits 22..31, green 11..21, blue 0..10).
    uint32_t frameStoreWord(int x, int y) const;
    // An RGB565 pixel of the overlay store, as the panel shows it.
    uint16_t overlayPixel(int x, int y) const;
    bool live() const { return live_; }
    // Whether frame-store pixels of the rectangle change from frame to frame (a live
    // picture whose moving part lies there).
    bool moves(int left, int top, int right, int bottom) const;
    // What the pixels are read from besides the memory and the live picture's frame
    // number. Every bus transfer counts, so a memory the bus may have written changes it.
    std::vector<uint64_t> signature() const;
    uint32_t frame() const { return frame_; }

private:
    friend class DisplayFpga;
    uint32_t read(uint32_t address, int lane) const;

    const DdrMemory* ddr_ = nullptr;
    int channel_ = 0;
    bool live_ = false;
    WarpMap warp_;
    uint32_t frame_ = 0;
    uint64_t transfers_ = 0;
    std::vector<DisplayFpgaState::DdrFault> faults_; // of this channel
};

class DisplayFpga : public Device {
public:
    explicit DisplayFpga(Board& board);
    ~DisplayFpga() override;

    std::string name() const override { return "fpga"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;
    void powerOn() override;

    // Bus side: one full-duplex transfer; the answer replaces the bytes sent.
    void transfer(unsigned char* data, int len);
    // Brings CONF_DONE up to date (configuration completes some time after nCONFIG rises).
    void refreshConfDone();

    // Test side.
    uint32_t registerValue(int channel, int reg) const;
    void setRegister(int channel, int reg, uint32_t value);
    uint32_t ddrWord(int channel, uint32_t address, int lane) const;
    void setDdrWord(int channel, uint32_t address, int lane, uint32_t value);
    bool configured() const;
    uint32_t mipiResets() const;
    void setWarpStatus(int channel, int index, uint8_t headroom, uint8_t flags);
    void stallPiVideo(bool stalled);
    // The flash image the FPGA configures from.
    std::string flashPath() const;
    // Frame store 0 of a channel, the one shown and captured, as 1920 x 1080 words. With
    // `memoryOnly`, what its memory holds even while the live input passes over it: the
    // frame last frozen or written, which a capture saved.
    std::vector<uint32_t> frameStoreWords(int channel, bool memoryOnly = false) const;
    // Writes it as an 8-bit RGB picture; an error text or empty.
    std::string saveFrameStore(int channel, const std::string& path, bool memoryOnly = false) const;
    // True while the store follows the live input (not frozen).
    bool frameStoreLive(int channel) const;
    // One RGB565 pixel of a channel's overlay store, as the panel shows it (the first of
    // each pair of pixels sits in the low half of its 32-bit unit).
    uint16_t overlayPixel(int channel, int x, int y) const;
    // Writes a channel's overlay store as an 8-bit RGB picture; an error text or empty.
    std::string saveOverlay(int channel, const std::string& path) const;
    // What a channel's output stage reads now (see FpgaScanOut).
    FpgaScanOut scanOut(int channel) const;
    // Bits that read as one from then on at a DDR address (a faulty memory cell); false
    // when no more faults can be held.
    bool addDdrFault(int channel, uint32_t address, int lane, uint32_t stuckOnes);
    void clearDdrFaults();
    // One entry of a channel's contrast table.
    uint32_t lutEntry(int channel, int index) const;
    // The measured input sync times: high and low parts of HSync and VSync.
    void setSyncTimes(int channel, uint32_t hsyncHigh, uint32_t hsyncLow, uint32_t vsyncHigh,
                      uint32_t vsyncLow);

private:
    using State = DisplayFpgaState;
    // The number of the live input's frame at time `now`.
    static uint32_t liveFrame(const State& s, int64_t now);
    void applyOptions(State& s) const;
    void onConfigPin(int level);
    void onResetPin(int level);
    bool flashImageValid(const State& s) const;
    uint32_t readRegister(State& s, int channel, int reg, int64_t now) const;
    void writeRegister(State& s, int channel, int reg, uint32_t value, int64_t now);
    uint32_t status(const State& s, int channel, int64_t now) const;
    uint32_t piFrameCount(const State& s, int64_t now) const;
    uint32_t portRead(State& s, int channel, int64_t now);
    void portWrite(State& s, int channel, int lane, uint32_t value);
    void flushPartialWord(State& s, int channel);
    uint32_t liveWord(const State& s, int channel, uint32_t address, int lane, int64_t now) const;
    void freezeStoppedInputs(State& s, int channel, uint32_t previous, uint32_t enables, int64_t now);
    void resetRegisters(State& s);
    std::string channelStatus(const State& s, int channel, int64_t now) const;
    std::optional<CommandResult> frameStoreCommand(const std::vector<std::string>& args);
    std::optional<CommandResult> outputCommand(const std::vector<std::string>& args);
    void addOutputStatus(const State& s, int channel, JsonObject& o) const;
    uint32_t faultyRead(const State& s, int channel, uint32_t address, int lane, uint32_t value) const;
    // The warp engine's current mapping of a channel's live input.
    WarpMap warpMap(const State& s, int channel) const;
    static std::string outputHelp();
    static std::string frameStoreHelp();

    Board& board_;
    SharedRegion<State> state_;
    DdrMemory ddr_;
    int configHook_ = 0;
    int resetHook_ = 0;
};

} // namespace sim
