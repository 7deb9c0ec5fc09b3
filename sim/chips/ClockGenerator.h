// The clock generator at 0x60 on switch channel 0: a plain file of 256 byte registers
// written one at a time (the pointer advances after each byte). Its clock outputs run
// while the output-enable line GPIO 15 is held low.
//
// Test side: the table loaded since power-on (every register written, with its value, in
// register order) and the count of writes, in the status as "clocks".
#pragma once

#include <cstdint>
#include <map>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class ClockGenerator : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x60;
    static constexpr int kChannel = 0;
    static constexpr int kOutputEnablePin = 15; // active low

    ClockGenerator(Board& board, I2cBus& bus);

    void addStatus(JsonObject& status) const override;

    // Test side.
    std::map<uint8_t, uint8_t> loadedTable() const; // register -> value written
    uint32_t writes() const;                        // register writes since power-on
    bool outputsEnabled() const;

protected:
    void written(int bank, uint8_t reg, uint16_t value) override;

private:
    static constexpr int kMaskWords = 8;
    struct State {
        uint32_t writes;
        uint32_t writtenMask[kMaskWords]; // one bit per register written
    };
    static_assert(sizeof(State) == 36, "shared state layout");
};

} // namespace sim
