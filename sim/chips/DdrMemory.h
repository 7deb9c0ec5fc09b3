// The display FPGA's DDR memory as the board keeps it: one sparse memory-mapped file of
// 128-bit words per display channel, shared by every program on the board, so tables one
// program loads are there for the next until the board is power-cycled. Only the pages
// that were written take space on disk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sim/board/SharedMemory.h"

namespace sim {

class DdrMemory {
public:
    static constexpr int kChannels = 2;
    static constexpr uint32_t kWordsPerChannel = 1u << 26; // 128-bit words (1 GiB per channel)
    static constexpr uint32_t kAddressMask = kWordsPerChannel - 1;
    static constexpr int kLanes = 4; // 32-bit lanes per word, lane 0 sent first

    explicit DdrMemory(const std::string& path);

    bool valid() const { return file_ != nullptr; }
    uint32_t read(int channel, uint32_t address, int lane) const;
    void write(int channel, uint32_t address, int lane, uint32_t value);
    // Back to power-on content (all zero), seen at once by every program.
    void clear();

private:
    uint32_t* lanePtr(int channel, uint32_t address, int lane) const;
    std::unique_ptr<SharedFile> file_;
};

} // namespace sim
