// I2C bus 1 of the Pi through i2c-dev: a descriptor per slave address (I2C_SLAVE) and
// SMBus transactions through the I2C_SMBUS ioctl, with the wiringPi calls' values and
// errors (-1 with errno as the kernel reports it).
#pragma once

#include <cstdint>
#include <linux/i2c.h>
#include <string>

namespace platform {

namespace smbus {

constexpr int kBlockMax = I2C_SMBUS_BLOCK_MAX; // bytes of one I2C block transaction

// The arguments of one I2C_SMBUS ioctl; the ioctl's data pointer is set when it runs.
struct Transfer {
    uint8_t readWrite;
    uint8_t command;
    uint32_t size;
    i2c_smbus_data data;
};

Transfer readByte();
Transfer writeByte(int value);
Transfer readReg8(int reg);
Transfer readReg16(int reg);
Transfer writeReg8(int reg, int value);
// The word goes as SMBus sends it: low byte first on the wire.
Transfer writeReg16(int reg, int value);
// An I2C block read of `length` bytes (1..kBlockMax) from register `reg`.
Transfer readBlock(int reg, int length);

// Copies the bytes a block read returned, at most `length`; returns their count.
int copyBlock(const i2c_smbus_data& reply, int length, uint8_t* out);

} // namespace smbus

class I2cBus {
public:
    explicit I2cBus(std::string device) : device_(std::move(device)) {}

    // A descriptor addressed to the slave devId, or -1.
    int setup(int devId) const;
    static int close(int fd);

    static int read(int fd);
    static int write(int fd, int data);
    static int readReg8(int fd, int reg);
    static int readReg16(int fd, int reg);
    static int writeReg8(int fd, int reg, int data);
    static int writeReg16(int fd, int reg, int data);
    // Returns the count read or -1; a length outside 1..32 is refused with EINVAL.
    static int readBlock(int fd, int reg, int length, uint8_t* data);

private:
    std::string device_;
};

} // namespace platform
