#include "platform/linux/LinuxBackend.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "platform/linux/GpioMemory.h"
#include "platform/linux/GpioRegisters.h"
#include "platform/linux/I2cBus.h"
#include "platform/linux/InputDevice.h"
#include "platform/linux/SpiDevice.h"
#include "platform/wiringPi.h"

namespace platform {

namespace {

constexpr int kSpiChannels = 2; // chip selects CE0 and CE1 of SPI0

// The pull scheme of the SoC the device tree names. Every Pi has a device tree; without
// one, the registers of the current (BCM2711) generation are assumed.
gpio::PullScheme pullScheme(const std::string& compatiblePath) {
    std::ifstream file(compatiblePath, std::ios::binary);
    if (!file) {
        return gpio::PullScheme::Bcm2711;
    }
    const std::string compatible{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return gpio::pullSchemeOf(compatible);
}

class LinuxBackend final : public Backend {
public:
    explicit LinuxBackend(LinuxDevicePaths paths) : paths_(std::move(paths)), i2c_(paths_.i2cBus) {}

    const char* name() const override { return "linux"; }
    bool simulated() const override { return false; }

    int setupGpio() override;
    void pinMode(int pin, int mode) override;
    void pinModeAlt(int pin, int fsel) override;
    void pullUpDnControl(int pin, int pud) override;
    void digitalWrite(int pin, int value) override;
    int digitalRead(int pin) override;

    int spiSetup(int channel, int speedHz) override;
    int spiDataRW(int channel, unsigned char* data, int len) override;
    int spiClose(int fd) override;

    int i2cSetup(int devId) override { return i2c_.setup(devId); }
    int i2cClose(int fd) override { return I2cBus::close(fd); }
    int i2cRead(int fd) override { return I2cBus::read(fd); }
    int i2cWrite(int fd, int data) override { return I2cBus::write(fd, data); }
    int i2cReadReg8(int fd, int reg) override { return I2cBus::readReg8(fd, reg); }
    int i2cReadReg16(int fd, int reg) override { return I2cBus::readReg16(fd, reg); }
    int i2cWriteReg8(int fd, int reg, int data) override { return I2cBus::writeReg8(fd, reg, data); }
    int i2cWriteReg16(int fd, int reg, int data) override { return I2cBus::writeReg16(fd, reg, data); }
    int i2cReadBlock(int fd, int reg, int length, uint8_t* data) override {
        return I2cBus::readBlock(fd, reg, length, data);
    }

    int inputEventBits(int fd, uint8_t* bits, int length) override {
        return input::eventBits(fd, bits, length);
    }

    std::string shellPathPrefix() const override { return {}; }

private:
    static bool validSpiChannel(int channel) { return channel >= 0 && channel < kSpiChannels; }

    LinuxDevicePaths paths_;
    I2cBus i2c_;

    std::mutex gpioSetupMutex_;
    std::unique_ptr<GpioMemory> gpioMemory_;
    std::unique_ptr<GpioRegisters> gpioOwner_;
    // Published once the block is mapped. GPIO calls before that do nothing: every program
    // ends when the set-up fails, so none drives the board blind.
    std::atomic<GpioRegisters*> gpio_{nullptr};

    std::mutex spiMutex_;
    std::array<SpiDevice, kSpiChannels> spi_;
};

int LinuxBackend::setupGpio() {
    std::lock_guard<std::mutex> lock(gpioSetupMutex_);
    if (gpio_.load()) {
        return 0;
    }
    auto memory = std::make_unique<GpioMemory>(paths_.gpioMemory);
    if (!memory->valid()) {
        fprintf(stderr, "wiringPiSetupGpio: %s; GPIO is unavailable.\n", memory->error().c_str());
        // The caller reports why: the board cannot be driven without its lines.
        errno = memory->errorNumber();
        return -1;
    }
    gpioOwner_ = std::make_unique<GpioRegisters>(memory->base(), pullScheme(paths_.deviceTreeCompatible));
    gpioMemory_ = std::move(memory);
    gpio_.store(gpioOwner_.get());
    return 0;
}

void LinuxBackend::pinMode(int pin, int mode) {
    if (GpioRegisters* gpio = gpio_.load(); gpio && (mode == INPUT || mode == OUTPUT)) {
        gpio->setFunction(pin, mode == OUTPUT ? FSEL_OUTP : FSEL_INPT);
    }
}

void LinuxBackend::pinModeAlt(int pin, int fsel) {
    if (GpioRegisters* gpio = gpio_.load()) {
        gpio->setFunction(pin, fsel);
    }
}

void LinuxBackend::pullUpDnControl(int pin, int pud) {
    if (GpioRegisters* gpio = gpio_.load()) {
        gpio->setPull(pin, pud);
    }
}

void LinuxBackend::digitalWrite(int pin, int value) {
    if (GpioRegisters* gpio = gpio_.load()) {
        gpio->write(pin, value);
    }
}

int LinuxBackend::digitalRead(int pin) {
    GpioRegisters* gpio = gpio_.load();
    return gpio ? gpio->read(pin) : LOW;
}

int LinuxBackend::spiSetup(int channel, int speedHz) {
    if (!validSpiChannel(channel)) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(spiMutex_);
    return spi_[static_cast<std::size_t>(channel)].open(paths_.spiPrefix + std::to_string(channel), speedHz);
}

int LinuxBackend::spiDataRW(int channel, unsigned char* data, int len) {
    if (!validSpiChannel(channel)) {
        errno = EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> lock(spiMutex_);
    return spi_[static_cast<std::size_t>(channel)].transfer(data, len);
}

int LinuxBackend::spiClose(int fd) {
    std::lock_guard<std::mutex> lock(spiMutex_);
    for (auto& device : spi_) {
        if (device.isOpen() && device.descriptor() == fd) {
            device.close();
            return 0;
        }
    }
    errno = EBADF;
    return -1;
}

} // namespace

std::unique_ptr<Backend> makeLinuxBackend(LinuxDevicePaths paths) {
    return std::make_unique<LinuxBackend>(std::move(paths));
}

} // namespace platform
