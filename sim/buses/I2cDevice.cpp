#include "sim/buses/I2cDevice.h"

#include <algorithm>

#include "sim/buses/I2cBus.h"

namespace sim {

I2cDevice::I2cDevice(I2cBus& bus, int channel, std::vector<uint8_t> addresses)
    : bus_(bus), channel_(channel), addresses_(std::move(addresses)) {
    bus_.attach(*this);
}

bool I2cDevice::answers(uint8_t address) const {
    return std::find(addresses_.begin(), addresses_.end(), address) != addresses_.end();
}

} // namespace sim
