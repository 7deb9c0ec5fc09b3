// The platform backend of the simulated board: each wiringPi-shaped call goes to the
// board's models.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/Backend.h"
#include "sim/board/Board.h"
#include "sim/chips/DisplayFpga.h"

namespace sim {

class I2cBus;

class SimBackend : public platform::Backend {
public:
    explicit SimBackend(std::unique_ptr<Board> board);
    ~SimBackend() override;

    Board& board() { return *board_; }

    const char* name() const override { return "sim"; }
    bool simulated() const override { return true; }

    int setupGpio() override;
    void pinMode(int pin, int mode) override;
    void pinModeAlt(int pin, int fsel) override;
    void pullUpDnControl(int pin, int pud) override;
    void digitalWrite(int pin, int value) override;
    int digitalRead(int pin) override;

    // I2C on "/dev/i2c-1": descriptors are real (eventfds), each addressed to a slave.
    int i2cSetup(int devId) override;
    int i2cClose(int fd) override;
    int i2cRead(int fd) override;
    int i2cWrite(int fd, int data) override;
    int i2cReadReg8(int fd, int reg) override;
    int i2cReadReg16(int fd, int reg) override;
    int i2cWriteReg8(int fd, int reg, int data) override;
    int i2cWriteReg16(int fd, int reg, int data) override;
    int i2cReadBlock(int fd, int reg, int length, uint8_t* data) override;
    // SPI: channel 0 is the display FPGA; nothing answers on channel 1 (MISO reads high).
    // Every transfer is traced with its bytes and its time on the wire at the speed set.
    int spiSetup(int channel, int speedHz) override;
    int spiDataRW(int channel, unsigned char* data, int len) override;
    int spiClose(int fd) override;

    // The camera board's port is a pseudo-terminal, which has no parity: the board model
    // keeps the parity asked for and the terminal gets the rest of the settings.
    int serialSetLine(int fd, const termios& line) override;

    // The USB keyboards, keypad and mouse are named pipes of the USB input model.
    int inputEventBits(int fd, uint8_t* bits, int length) override;
    ssize_t inputRead(int fd, void* buffer, size_t length) override;

    std::string shellPathPrefix() const override;

private:
    // The slave a descriptor is addressed to; -1 with errno = EBADF when not ours.
    int slaveOf(int fd) const;
    int read(int fd, int reg, uint8_t* data, int count, const char* what);
    int write(int fd, const uint8_t* bytes, int count, const char* what);

    std::unique_ptr<Board> board_;
    I2cBus* i2c_ = nullptr;
    mutable std::mutex i2cMutex_;
    std::map<int, uint8_t> i2cSlaves_;
    static constexpr int kSpiChannels = 2;
    DisplayFpga* fpga_ = nullptr;
    int spiSpeedHz_[kSpiChannels] = {};
};

// The folder of the shell stand-ins (sudo, mount, umount, reboot, date, hwclock, ...).
std::string standinsFolder();

} // namespace sim
