#include "platform/wiringPi.h"

#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point programStart = Clock::now();

} // namespace

int wiringPiSetupGpio() {
    return platform::backend().setupGpio();
}
void pinMode(int pin, int mode) {
    platform::backend().pinMode(pin, mode);
}
void pinModeAlt(int pin, int mode) {
    platform::backend().pinModeAlt(pin, mode);
}
void pullUpDnControl(int pin, int pud) {
    platform::backend().pullUpDnControl(pin, pud);
}
void digitalWrite(int pin, int value) {
    platform::backend().digitalWrite(pin, value);
}
int digitalRead(int pin) {
    return platform::backend().digitalRead(pin);
}

void delay(unsigned int howLong) {
    std::this_thread::sleep_for(std::chrono::milliseconds(howLong));
}
void delayMicroseconds(unsigned int howLong) {
    std::this_thread::sleep_for(std::chrono::microseconds(howLong));
}

unsigned int millis() {
    return static_cast<unsigned int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - programStart).count());
}
unsigned int micros() {
    return static_cast<unsigned int>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - programStart).count());
}

int wiringPiSPISetup(int channel, int speed) {
    return platform::backend().spiSetup(channel, speed);
}
int wiringPiSPIDataRW(int channel, unsigned char* data, int len) {
    return platform::backend().spiDataRW(channel, data, len);
}

int wiringPiI2CSetup(int devId) {
    return platform::backend().i2cSetup(devId);
}
int wiringPiI2CRead(int fd) {
    return platform::backend().i2cRead(fd);
}
int wiringPiI2CWrite(int fd, int data) {
    return platform::backend().i2cWrite(fd, data);
}
int wiringPiI2CReadReg8(int fd, int reg) {
    return platform::backend().i2cReadReg8(fd, reg);
}
int wiringPiI2CReadReg16(int fd, int reg) {
    return platform::backend().i2cReadReg16(fd, reg);
}
int wiringPiI2CWriteReg8(int fd, int reg, int data) {
    return platform::backend().i2cWriteReg8(fd, reg, data);
}
int wiringPiI2CWriteReg16(int fd, int reg, int data) {
    return platform::backend().i2cWriteReg16(fd, reg, data);
}
