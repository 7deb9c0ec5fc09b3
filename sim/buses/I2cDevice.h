// A chip on the board's I2C bus, as the bus sees it: it answers one or more 7-bit
// addresses on one channel of the bus switch and takes part in transfers one wire event
// at a time (start with the address byte, a byte written, a byte read, stop). The same
// calls serve the Pi's I2C controller (whole SMBus transfers) and the bit-banged lines
// (edge by edge), so a model never knows which of the two drove the wires.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/board/Board.h"

namespace sim {

class I2cBus;

// Channel of the devices wired before the switch (the switch itself).
constexpr int kI2cRootChannel = -1;
constexpr int kI2cChannels = 8;

class I2cDevice : public Device {
public:
    // Register a written or read byte concerns, for faults on one register.
    static constexpr int kNoRegister = -1;  // the device has no register pointer
    static constexpr int kPointerByte = -2; // the next written byte selects a register

    // Attaches itself to `bus`; the board owns both.
    I2cDevice(I2cBus& bus, int channel, std::vector<uint8_t> addresses);

    int channel() const { return channel_; }
    const std::vector<uint8_t>& addresses() const { return addresses_; }
    bool answers(uint8_t address) const;

    // Bus side. start() is called for START and repeated START with the address of the
    // transfer; it and send() return the device's acknowledge.
    virtual bool start(uint8_t address, bool read) = 0;
    virtual bool send(uint8_t byte) = 0;
    virtual uint8_t receive() = 0;
    virtual void stop() = 0;

    // The register the next written byte goes to (or kPointerByte / kNoRegister), and
    // the register a read from `address` would start at.
    virtual int nextWriteRegister() const { return kNoRegister; }
    virtual int nextReadRegister(uint8_t address) const { return kNoRegister; }

protected:
    I2cBus& bus() const { return bus_; }

private:
    I2cBus& bus_;
    int channel_;
    std::vector<uint8_t> addresses_;
};

} // namespace sim
