#include "platform/linux/GpioRegisters.h"

#include <chrono>
#include <thread>

#include "platform/wiringPi.h"

namespace platform {

namespace gpio {

std::optional<uint32_t> pullCode(int pud) {
    switch (pud) {
    case PUD_OFF:
        return kPullNone;
    case PUD_UP:
        return kPullUp;
    case PUD_DOWN:
        return kPullDown;
    default:
        return std::nullopt;
    }
}

PullScheme pullSchemeOf(const std::string& compatible) {
    return compatible.find("brcm,bcm2711") != std::string::npos ? PullScheme::Bcm2711 : PullScheme::Clocked;
}

} // namespace gpio

namespace {

// 150 cycles of the slowest core clock (250 MHz) are 0.6 us; wait a little longer.
constexpr auto kPullSettle = std::chrono::microseconds(5);

} // namespace

void GpioRegisters::modify(const gpio::Field& field, uint32_t value) {
    std::lock_guard<std::mutex> lock(modifyMutex_);
    const uint32_t old = base_[field.word];
    base_[field.word] = (old & ~field.mask) | ((value << field.shift) & field.mask);
}

void GpioRegisters::setFunction(int pin, int fsel) {
    if (!gpio::validPin(pin) || fsel < 0 || static_cast<uint32_t>(fsel) > gpio::kFselMask) {
        return;
    }
    modify(gpio::fselField(pin), static_cast<uint32_t>(fsel));
}

int GpioRegisters::function(int pin) const {
    if (!gpio::validPin(pin)) {
        return FSEL_INPT;
    }
    const gpio::Field field = gpio::fselField(pin);
    return static_cast<int>((base_[field.word] & field.mask) >> field.shift);
}

void GpioRegisters::setPull(int pin, int pud) {
    const std::optional<uint32_t> code = gpio::pullCode(pud);
    if (!gpio::validPin(pin) || !code) {
        return;
    }
    if (pulls_ == gpio::PullScheme::Bcm2711) {
        modify(gpio::pullField(pin), *code);
    } else {
        clockPull(pin, static_cast<uint32_t>(pud));
    }
}

// GPPUD holds the code while the pin's GPPUDCLK bit clocks it in; both are cleared after.
void GpioRegisters::clockPull(int pin, uint32_t code) {
    std::lock_guard<std::mutex> lock(modifyMutex_);
    const gpio::Field clock = gpio::bankBit(pin, gpio::kGppudclk0);
    base_[gpio::wordOf(gpio::kGppud)] = code;
    settle();
    base_[clock.word] = clock.mask;
    settle();
    base_[gpio::wordOf(gpio::kGppud)] = 0;
    base_[clock.word] = 0;
}

void GpioRegisters::settle() const {
    if (settle_) {
        settle_();
    } else {
        std::this_thread::sleep_for(kPullSettle);
    }
}

void GpioRegisters::write(int pin, int value) {
    if (!gpio::validPin(pin)) {
        return;
    }
    // Set and clear act on the bits written as 1: a plain store, never read-modify-write.
    const gpio::Field bit = gpio::bankBit(pin, value == LOW ? gpio::kGpclr0 : gpio::kGpset0);
    base_[bit.word] = bit.mask;
}

int GpioRegisters::read(int pin) const {
    if (!gpio::validPin(pin)) {
        return LOW;
    }
    const gpio::Field bit = gpio::bankBit(pin, gpio::kGplev0);
    return (base_[bit.word] & bit.mask) ? HIGH : LOW;
}

} // namespace platform
