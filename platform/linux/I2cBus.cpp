#include "platform/linux/I2cBus.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>

#include "platform/linux/FileDescriptor.h"

namespace platform {

namespace smbus {

namespace {

constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kWordMask = 0xFFFF;

Transfer make(uint8_t readWrite, int command, uint32_t size) {
    Transfer t{};
    t.readWrite = readWrite;
    t.command = static_cast<uint8_t>(static_cast<uint32_t>(command) & kByteMask);
    t.size = size;
    return t;
}

uint8_t lowByte(int value) {
    return static_cast<uint8_t>(static_cast<uint32_t>(value) & kByteMask);
}

} // namespace

Transfer readByte() {
    return make(I2C_SMBUS_READ, 0, I2C_SMBUS_BYTE);
}

Transfer writeByte(int value) {
    // A plain byte write carries its byte in the command field.
    return make(I2C_SMBUS_WRITE, value, I2C_SMBUS_BYTE);
}

Transfer readReg8(int reg) {
    return make(I2C_SMBUS_READ, reg, I2C_SMBUS_BYTE_DATA);
}

Transfer readReg16(int reg) {
    return make(I2C_SMBUS_READ, reg, I2C_SMBUS_WORD_DATA);
}

Transfer writeReg8(int reg, int value) {
    Transfer t = make(I2C_SMBUS_WRITE, reg, I2C_SMBUS_BYTE_DATA);
    t.data.byte = lowByte(value);
    return t;
}

Transfer writeReg16(int reg, int value) {
    // The word travels in host order; the kernel sends its low byte first.
    Transfer t = make(I2C_SMBUS_WRITE, reg, I2C_SMBUS_WORD_DATA);
    t.data.word = static_cast<uint16_t>(static_cast<uint32_t>(value) & kWordMask);
    return t;
}

Transfer readBlock(int reg, int length) {
    // block[0] asks for the count; the reply puts the count there and the bytes after it.
    Transfer t = make(I2C_SMBUS_READ, reg, I2C_SMBUS_I2C_BLOCK_DATA);
    t.data.block[0] = static_cast<uint8_t>(std::clamp(length, 0, kBlockMax));
    return t;
}

int copyBlock(const i2c_smbus_data& reply, int length, uint8_t* out) {
    const int count = std::min({static_cast<int>(reply.block[0]), length, kBlockMax});
    if (count <= 0) {
        return 0;
    }
    std::memcpy(out, &reply.block[1], static_cast<std::size_t>(count));
    return count;
}

} // namespace smbus

namespace {

int run(int fd, smbus::Transfer& t) {
    i2c_smbus_ioctl_data args{};
    args.read_write = t.readWrite;
    args.command = t.command;
    args.size = t.size;
    args.data = &t.data;
    return ::ioctl(fd, I2C_SMBUS, &args);
}

// Runs a read and returns the byte or word it read, or -1.
int runRead(int fd, smbus::Transfer t) {
    if (run(fd, t) < 0) {
        return -1;
    }
    return t.size == I2C_SMBUS_WORD_DATA ? t.data.word : t.data.byte;
}

int runWrite(int fd, smbus::Transfer t) {
    return run(fd, t) < 0 ? -1 : 0;
}

} // namespace

int I2cBus::setup(int devId) const {
    FileDescriptor fd(::open(device_.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid()) {
        return -1;
    }
    if (::ioctl(fd.get(), I2C_SLAVE, static_cast<unsigned long>(devId)) < 0) {
        return -1;
    }
    return fd.release();
}

int I2cBus::close(int fd) {
    return ::close(fd);
}

int I2cBus::read(int fd) {
    return runRead(fd, smbus::readByte());
}

int I2cBus::write(int fd, int data) {
    return runWrite(fd, smbus::writeByte(data));
}

int I2cBus::readReg8(int fd, int reg) {
    return runRead(fd, smbus::readReg8(reg));
}

int I2cBus::readReg16(int fd, int reg) {
    return runRead(fd, smbus::readReg16(reg));
}

int I2cBus::writeReg8(int fd, int reg, int data) {
    return runWrite(fd, smbus::writeReg8(reg, data));
}

int I2cBus::writeReg16(int fd, int reg, int data) {
    return runWrite(fd, smbus::writeReg16(reg, data));
}

int I2cBus::readBlock(int fd, int reg, int length, uint8_t* data) {
    if (length < 1 || length > smbus::kBlockMax || data == nullptr) {
        errno = EINVAL;
        return -1;
    }
    smbus::Transfer t = smbus::readBlock(reg, length);
    if (run(fd, t) < 0) {
        return -1;
    }
    return smbus::copyBlock(t.data, length, data);
}

} // namespace platform
