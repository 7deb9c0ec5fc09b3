// Test side of the display FPGA's frame stores: what a channel's store holds, as a capture
// reads it (the live picture while its input is enabled, else what was frozen or written
// into it), saved as a PNG for tests and the demo.
#include <cstdio>

#include "sim/board/GuiFrame.h"
#include "sim/board/Json.h"
#include "sim/board/SteadyClock.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"

namespace sim {

namespace {

constexpr int kWordsPerLine = 512; // line pitch in 128-bit words
constexpr uint32_t kOpaque = 0xFF000000;
constexpr uint32_t kShownBufferInput = 1; // input enable bit of buffer 0

const char* kFrameStoreHelp =
    "framestore save left|right FILE.png   writes what a channel's frame store holds\n"
    "framestore save --frozen left|right FILE.png   writes the frame last frozen or written into it\n"
    "framestore save --overlay left|right FILE.png   writes a channel's overlay store\n";

// 8 bits per colour, the top bits of each 10:11:11 component, as the capture keeps them.
uint32_t argbOf(uint32_t word) {
    return kOpaque | ((word >> 24) << 16) | (((word >> 14) & 0xFF) << 8) | ((word >> 3) & 0xFF);
}

} // namespace

std::vector<uint32_t> DisplayFpga::frameStoreWords(int channel, bool memoryOnly) const {
    std::vector<uint32_t> words(size_t(kTestPictureWidth) * kTestPictureHeight);
    auto lock = state_.lock();
    const int64_t now = nowNs();
    for (int y = 0; y < kTestPictureHeight; ++y) {
        for (int x = 0; x < kTestPictureWidth; ++x) {
            uint32_t address = uint32_t(y) * kWordsPerLine + uint32_t(x) / DdrMemory::kLanes;
            const int lane = x % DdrMemory::kLanes;
            words[size_t(y) * kTestPictureWidth + x] =
                memoryOnly ? ddr_.read(channel & 1, address, lane)
                           : liveWord(*state_, channel & 1, address, lane, now);
        }
    }
    return words;
}

std::string DisplayFpga::saveFrameStore(int channel, const std::string& path, bool memoryOnly) const {
    std::vector<uint32_t> argb = frameStoreWords(channel, memoryOnly);
    for (auto& p : argb) {
        p = argbOf(p);
    }
    return writePng(path, kTestPictureWidth, kTestPictureHeight, argb);
}

bool DisplayFpga::frameStoreLive(int channel) const {
    auto lock = state_.lock();
    return state_->channels[channel & 1].regs[fpga_regs::kFrameStoreEnable] & kShownBufferInput;
}

std::string DisplayFpga::frameStoreHelp() {
    return kFrameStoreHelp;
}

std::optional<CommandResult> DisplayFpga::frameStoreCommand(const std::vector<std::string>& args) {
    // framestore save [--overlay|--frozen] left|right FILE.png
    const bool flagged = args.size() == 5;
    const std::string flag = flagged ? args[2] : "";
    const std::string eye = args.size() >= 4 ? args[args.size() - 2] : "";
    if ((args.size() != 4 && !flagged) || args[1] != "save" || (eye != "left" && eye != "right") ||
        (flagged && flag != "--overlay" && flag != "--frozen")) {
        return CommandResult{false, std::string("usage: ") + kFrameStoreHelp};
    }
    const int channel = eye == "left" ? 0 : 1;
    const std::string& path = args.back();
    std::string error =
        flag == "--overlay" ? saveOverlay(channel, path) : saveFrameStore(channel, path, flag == "--frozen");
    return CommandResult{error.empty(), error.empty() ? "" : error + "\n"};
}

} // namespace sim
