// The board's 8-channel I2C bus switch at 0x70: one control byte, bit n connects
// channel n to the Pi's bus. Its active-low reset line (GPIO 17) clears the control
// byte; while the line is low the switch does not answer and connects nothing.
#pragma once

#include "sim/board/SharedMemory.h"
#include "sim/buses/I2cDevice.h"

namespace sim {

struct I2cSwitchState {
    static constexpr uint32_t kMagic = 0x4F535754; // "OSWT"
    static constexpr uint32_t kVersion = 1;
    RegionHeader header;
    uint8_t control = 0;
    uint32_t resets = 0; // reset pulses seen, for tests
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(I2cSwitchState) == 32 && offsetof(I2cSwitchState, resets) == 28, "shared state layout");

class I2cSwitch : public I2cDevice {
public:
    static constexpr uint8_t kAddress = 0x70;
    static constexpr int kResetPin = 17;

    I2cSwitch(Board& board, I2cBus& bus);
    ~I2cSwitch() override;

    std::string name() const override { return "i2c_switch"; }
    void powerOn() override;

    bool start(uint8_t address, bool read) override;
    bool send(uint8_t byte) override;
    uint8_t receive() override;
    void stop() override {}

    // Test side.
    bool inReset() const;
    uint8_t control() const;
    // The channels connected now (none while in reset).
    uint8_t connected() const;
    uint32_t resets() const;

private:
    Board& board_;
    SharedRegion<I2cSwitchState> state_;
    int resetHook_ = 0;
};

} // namespace sim
