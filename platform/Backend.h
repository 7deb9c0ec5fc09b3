// The one seam between the system's code and a board: the simulated board (sim/) or the
// Raspberry Pi's kernel interfaces (platform/linux). Calls a backend does not support
// fail the way the kernel would (-1 with errno = ENODEV), so callers need no special case.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace platform {

class Backend {
public:
    virtual ~Backend() = default;
    virtual const char* name() const = 0;
    virtual bool simulated() const = 0;

    // GPIO, Broadcom numbering.
    virtual int setupGpio() = 0;
    virtual void pinMode(int pin, int mode) = 0;
    virtual void pinModeAlt(int pin, int fsel) = 0;
    virtual void pullUpDnControl(int pin, int pud) = 0;
    virtual void digitalWrite(int pin, int value) = 0;
    virtual int digitalRead(int pin) = 0;

    // SPI: full duplex, the received bytes replace the sent ones.
    virtual int spiSetup(int channel, int speedHz) { return unsupported(); }
    virtual int spiDataRW(int channel, unsigned char* data, int len) { return unsupported(); }
    // Closes a handle of spiSetup (wiringPi leaves that to close()).
    virtual int spiClose(int fd) { return unsupported(); }

    // I2C bus 1. Values and errors as the wiringPi calls of the same name.
    virtual int i2cSetup(int devId) { return unsupported(); }
    virtual int i2cClose(int fd) { return unsupported(); }
    virtual int i2cRead(int fd) { return unsupported(); }
    virtual int i2cWrite(int fd, int data) { return unsupported(); }
    virtual int i2cReadReg8(int fd, int reg) { return unsupported(); }
    virtual int i2cReadReg16(int fd, int reg) { return unsupported(); }
    virtual int i2cWriteReg8(int fd, int reg, int data) { return unsupported(); }
    virtual int i2cWriteReg16(int fd, int reg, int data) { return unsupported(); }
    // SMBus "I2C block read" of up to 32 bytes; returns the count read or -1.
    virtual int i2cReadBlock(int fd, int reg, int length, uint8_t* data) { return unsupported(); }

    // Event-type bits of an input event device (type 0 of the event-bit query).
    virtual int inputEventBits(int fd, uint8_t* bits, int length) { return unsupported(); }
    // Reads event records from an input device; as read(), and -1 with errno = ENODEV
    // once the device is gone.
    virtual ssize_t inputRead(int fd, void* buffer, size_t length) { return ::read(fd, buffer, length); }

    // Line settings of a serial port, applied at once; 0 or -1 with errno as tcsetattr.
    virtual int serialSetLine(int fd, const termios& line) { return tcsetattr(fd, TCSANOW, &line); }

    // Folder put first on PATH for shell commands (the simulator's stand-ins), or empty.
    virtual std::string shellPathPrefix() const { return {}; }

protected:
    static int unsupported() {
        errno = ENODEV;
        return -1;
    }
};

} // namespace platform
