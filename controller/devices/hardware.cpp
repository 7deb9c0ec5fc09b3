#include "controller/devices/hardware.h"

#include "controller/core/pin_nums.h"
#include "platform/wiringPi.h"

namespace {

constexpr int kLoopsPerSleep = 80;
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

void mysleep(int n) {
    for (int i = 0; i < n; ++i) {
        for (int loop = 0; loop < kLoopsPerSleep; ++loop) {
            asm volatile("" ::: "memory"); // keeps the calibrated loop from being optimised away
        }
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
