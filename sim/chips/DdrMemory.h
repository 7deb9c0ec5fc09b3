// The display FPGA's DDR memory as the board keeps it: one sparse memory-mapped file of
// 128-bit words per display channel, shared by every program on the board, so tables one
// program loads are there for the next until the board is power-cycled. Only the pages
// that were written take space on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class DdrMemory {
public:
    static constexpr int kChannels = 2;
    static constexpr uint32_t kWordsPerChannel = 1u << 26; // 128-bit words (1 GiB per channel)
    static constexpr uint32_t kAddressMask = kWordsPerChannel - 1;
    static constexpr int kLanes = 4; // 32-bit lanes per word, lane 0 sent first

    // A 32-bit program cannot map 2 GiB beside its own memory (two boards in one test
    // process need twice that): it maps the file a window at a time and keeps the last few.
    // A 64-bit program maps it whole, once.
    enum class Mapping { Whole, Windowed };
    static constexpr Mapping kNativeMapping = sizeof(void*) < 8 ? Mapping::Windowed : Mapping::Whole;

    explicit DdrMemory(const std::string& path, Mapping mapping = kNativeMapping);
    ~DdrMemory();
    DdrMemory(const DdrMemory&) = delete;
    DdrMemory& operator=(const DdrMemory&) = delete;

    bool valid() const { return fd_ >= 0; }
    uint32_t read(int channel, uint32_t address, int lane) const;
    void write(int channel, uint32_t address, int lane, uint32_t value);
    // Back to power-on content (all zero), seen at once by every program.
    void clear();

private:
    static constexpr size_t kBytesPerWord = 16;
    static constexpr size_t kFileSize = size_t{kChannels} * kWordsPerChannel * kBytesPerWord;
    static constexpr size_t kWindowBytes = size_t{4} << 20;
    static constexpr size_t kWindowSlots = 8;

    struct Window {
        size_t index = SIZE_MAX;
        uint32_t* lanes = nullptr;
        uint64_t lastUse = 0;
    };

    // The lane's place in a mapped window; the caller holds `lock_` when windowed.
    uint32_t* lanePtr(int channel, uint32_t address, int lane) const;
    uint32_t* mapWindow(size_t index) const;

    const bool windowed_;
    const size_t windowBytes_;
    int fd_ = -1;
    mutable std::mutex lock_;
    mutable std::vector<Window> windows_;
    mutable uint64_t uses_ = 0;
};

} // namespace sim
