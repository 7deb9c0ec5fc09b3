#include "sim/buses/I2cSwitch.h"

#include "platform/wiringPi.h"

namespace sim {

I2cSwitch::I2cSwitch(Board& board, I2cBus& bus)
    : I2cDevice(bus, kI2cRootChannel, {kAddress}), board_(board),
      state_(board.volatilePath("i2c-switch.state")) {
    resetHook_ = board_.pins().addEdgeHook(kResetPin, [this](int, int level) {
        if (level == LOW) {
            auto held = state_.lock();
            state_->control = 0;
            state_->resets++;
        }
    });
}

I2cSwitch::~I2cSwitch() {
    board_.pins().removeEdgeHook(resetHook_);
}

void I2cSwitch::powerOn() {
    auto held = state_.lock();
    state_->control = 0;
    state_->resets = 0;
}

bool I2cSwitch::inReset() const {
    return board_.pins().read(kResetPin) == LOW;
}

bool I2cSwitch::start(uint8_t address, bool read) {
    return address == kAddress && !inReset();
}

bool I2cSwitch::send(uint8_t byte) {
    if (inReset()) {
        return false;
    }
    auto held = state_.lock();
    state_->control = byte;
    return true;
}

uint8_t I2cSwitch::receive() {
    return control();
}

uint8_t I2cSwitch::control() const {
    auto held = state_.lock();
    return state_->control;
}

uint8_t I2cSwitch::connected() const {
    return inReset() ? 0 : control();
}

uint32_t I2cSwitch::resets() const {
    auto held = state_.lock();
    return state_->resets;
}

} // namespace sim
