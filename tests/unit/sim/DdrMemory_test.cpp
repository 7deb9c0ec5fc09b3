// The DDR file mapped a window at a time (as a 32-bit program maps it) holds exactly what
// the whole mapping holds: across window edges, both channels, and more windows than are
// kept mapped at once.
#include <gtest/gtest.h>

#include <cstdint>

#include "TempRoot.h"
#include "sim/chips/DdrMemory.h"

namespace {

using sim::DdrMemory;

struct Cell {
    int channel;
    uint32_t address;
    int lane;
    uint32_t value;
};

// A 4 MiB window holds 1 << 18 words; twelve distinct windows evict the first ones.
constexpr uint32_t kWordsPerWindow = 1u << 18;
constexpr Cell kCells[] = {
    {0, 0, 0, 0x11111111},
    {0, kWordsPerWindow - 1, 3, 0x22222222}, // last lane before a window edge
    {0, kWordsPerWindow, 0, 0x33333333},     // first lane after it
    {0, 5 * kWordsPerWindow + 7, 2, 0x44444444},
    {0, DdrMemory::kAddressMask, 3, 0x55555555}, // the channel's last lane
    {1, 0, 0, 0x66666666},                       // the other channel starts a window of its own
    {1, 3 * kWordsPerWindow + 1, 1, 0x77777777},
    {1, 100 * kWordsPerWindow, 2, 0x88888888},
    {1, 200 * kWordsPerWindow + 9, 0, 0x99999999},
    {1, DdrMemory::kAddressMask - kWordsPerWindow, 1, 0xAAAAAAAA},
    {0, 150 * kWordsPerWindow, 1, 0xBBBBBBBB},
    {1, DdrMemory::kAddressMask, 3, 0xCCCCCCCC},
};

TEST(DdrMemoryTest, WindowedAndWholeMappingsHoldTheSameWords) {
    testing_support::TempDir dir;
    const std::string path = dir.path() + "/ddr.mem";
    DdrMemory windowed(path, DdrMemory::Mapping::Windowed);
    DdrMemory whole(path, DdrMemory::Mapping::Whole);
    ASSERT_TRUE(windowed.valid() && whole.valid());
    for (const Cell& c : kCells) {
        windowed.write(c.channel, c.address, c.lane, c.value);
    }
    // Read back after every window was evicted at least once, through both mappings.
    for (const Cell& c : kCells) {
        EXPECT_EQ(whole.read(c.channel, c.address, c.lane), c.value) << c.channel << ":" << c.address;
        EXPECT_EQ(windowed.read(c.channel, c.address, c.lane), c.value) << c.channel << ":" << c.address;
        EXPECT_EQ(windowed.read(c.channel, c.address, (c.lane + 1) % DdrMemory::kLanes), 0u)
            << "a neighbouring lane stays untouched";
        whole.write(c.channel, c.address, c.lane, ~c.value);
        EXPECT_EQ(windowed.read(c.channel, c.address, c.lane), ~c.value)
            << "the other mapping's write is seen";
    }
    windowed.clear();
    for (const Cell& c : kCells) {
        EXPECT_EQ(whole.read(c.channel, c.address, c.lane), 0u);
        EXPECT_EQ(windowed.read(c.channel, c.address, c.lane), 0u);
    }
}

} // namespace
