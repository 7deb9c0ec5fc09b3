#include "controller/devices/hardware.h"

#include <chrono>

#include "controller/core/pin_nums.h"
#include "platform/wiringPi.h"

namespace {

constexpr unsigned kModeSwitchUs = 100;
constexpr int kBitsPerByte = 8;
constexpr uint8_t kTopBit = 0x80;

void release(int pin) {
    pinMode(pin, INPUT);
}

void pull_low(int pin) {
    pinMode(pin, OUTPUT);
}

} // namespace

void busy_wait_us(unsigned microseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    while (std::chrono::steady_clock::now() < until) {
    }
}

void mysleep(int n) {
    if (n > 0) {
        busy_wait_us(static_cast<unsigned>(n) * MYSLEEP_UNIT_US);
    }
}

void SetBitBlitMode() {
    release(VB_SCL_Pin);
    release(VB_SDA_Pin);
    digitalWrite(VB_SCL_Pin, LOW);
    digitalWrite(VB_SDA_Pin, LOW);
    delayMicroseconds(kModeSwitchUs);
}

void ClrBitBlitMode() {
    pinModeAlt(VB_SDA_Pin, FSEL_ALT0);
    pinModeAlt(VB_SCL_Pin, FSEL_ALT0);
    delayMicroseconds(kModeSwitchUs);
}

void SetI2CStartCondition() {
    release(VB_SDA_Pin);
    mysleep(1);
    release(VB_SCL_Pin);
    mysleep(1);
    pull_low(VB_SDA_Pin);
    mysleep(1);
    pull_low(VB_SCL_Pin);
    // The first data bit releases SCL at once: hold it low for a full half period first.
    mysleep(1);
}

int SendBytesAndCheckACK(int lengthInBits, uint8_t* bytes) {
    const int count = (lengthInBits + kBitsPerByte - 1) / kBitsPerByte;
    for (int i = 0; i < count; ++i) {
        for (uint8_t mask = kTopBit; mask != 0; mask >>= 1) {
            if (bytes[i] & mask) {
                release(VB_SDA_Pin);
            } else {
                pull_low(VB_SDA_Pin);
            }
            release(VB_SCL_Pin);
            mysleep(1);
            pull_low(VB_SCL_Pin);
            mysleep(1);
        }
        release(VB_SDA_Pin);
        release(VB_SCL_Pin);
        mysleep(1);
        if (digitalRead(VB_SDA_Pin) == HIGH) {
            pull_low(VB_SCL_Pin);
            mysleep(1);
            return -1;
        }
        pull_low(VB_SCL_Pin);
        mysleep(1);
    }
    return 0;
}
