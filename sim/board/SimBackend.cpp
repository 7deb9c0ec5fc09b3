#include "sim/board/SimBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/wiringPi.h"
#include "sim/buses/I2cBus.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/UsbInput.h"

namespace sim {

namespace {
constexpr int kMaxSlaveAddress = 0x7F;
constexpr int kByteMask = 0xFF;
constexpr int kBitsPerByte = 8;
// Descriptors handed out by spiSetup: far above the ones the process really has open.
constexpr int kSpiFdBase = 0x5D00;
// Per transfer on the real board: the spidev ioctl and chip-select set-up.
constexpr double kSpiTransferOverheadSeconds = 15e-6;
// Bit times per byte on the wire, the inter-byte gap included.
constexpr double kSpiBitsPerByte = 9;
constexpr unsigned char kIdleByte = 0xFF;
} // namespace

SimBackend::SimBackend(std::unique_ptr<Board> board)
    : board_(std::move(board)), i2c_(board_->find<I2cBus>()), fpga_(board_->find<DisplayFpga>()) {
    board_->startServices();
}

SimBackend::~SimBackend() {
    std::lock_guard<std::mutex> lock(i2cMutex_);
    for (const auto& [fd, slave] : i2cSlaves_) {
        ::close(fd);
    }
}

int SimBackend::setupGpio() {
    board_->pins().noteSetup();
    return 0;
}

void SimBackend::pinMode(int pin, int mode) {
    board_->pins().setFunction(pin, mode == OUTPUT ? FSEL_OUTP : FSEL_INPT);
}
void SimBackend::pinModeAlt(int pin, int fsel) {
    board_->pins().setFunction(pin, fsel);
    if (i2c_) {
        i2c_->pinFunctionChanged(pin);
    }
}
void SimBackend::pullUpDnControl(int pin, int pud) {
    board_->pins().setPull(pin, pud);
}
void SimBackend::digitalWrite(int pin, int value) {
    board_->pins().write(pin, value);
}
int SimBackend::digitalRead(int pin) {
    if (pin == kConfDonePin && fpga_) {
        fpga_->refreshConfDone();
    }
    return board_->pins().read(pin);
}

int SimBackend::i2cSetup(int devId) {
    if (!i2c_) {
        return unsupported();
    }
    if (devId < 0 || devId > kMaxSlaveAddress) {
        errno = EINVAL;
        return -1;
    }
    if (!i2c_->openAllowed(static_cast<uint8_t>(devId))) {
        errno = ENOENT;
        return -1;
    }
    int fd = eventfd(0, EFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(i2cMutex_);
    i2cSlaves_[fd] = static_cast<uint8_t>(devId);
    return fd;
}

int SimBackend::i2cClose(int fd) {
    {
        std::lock_guard<std::mutex> lock(i2cMutex_);
        i2cSlaves_.erase(fd);
    }
    return ::close(fd);
}

int SimBackend::slaveOf(int fd) const {
    std::lock_guard<std::mutex> lock(i2cMutex_);
    auto it = i2cSlaves_.find(fd);
    if (it == i2cSlaves_.end()) {
        errno = EBADF;
        return -1;
    }
    return it->second;
}

int SimBackend::read(int fd, int reg, uint8_t* data, int count, const char* what) {
    const int slave = slaveOf(fd);
    return slave < 0 ? -1 : i2c_->readBytes(static_cast<uint8_t>(slave), reg, data, count, what);
}

int SimBackend::write(int fd, const uint8_t* bytes, int count, const char* what) {
    const int slave = slaveOf(fd);
    return slave < 0 ? -1 : i2c_->writeBytes(static_cast<uint8_t>(slave), bytes, count, what);
}

int SimBackend::i2cRead(int fd) {
    uint8_t byte = 0;
    return read(fd, -1, &byte, 1, "receive byte") < 0 ? -1 : byte;
}

int SimBackend::i2cWrite(int fd, int data) {
    const uint8_t byte = static_cast<uint8_t>(data);
    return write(fd, &byte, 1, "send byte");
}

int SimBackend::i2cReadReg8(int fd, int reg) {
    uint8_t byte = 0;
    return read(fd, reg & kByteMask, &byte, 1, "read byte data") < 0 ? -1 : byte;
}

int SimBackend::i2cReadReg16(int fd, int reg) {
    uint8_t word[2] = {};
    if (read(fd, reg & kByteMask, word, 2, "read word data") < 0) {
        return -1;
    }
    return word[0] | word[1] << kBitsPerByte;
}

int SimBackend::i2cWriteReg8(int fd, int reg, int data) {
    const uint8_t bytes[] = {static_cast<uint8_t>(reg), static_cast<uint8_t>(data)};
    return write(fd, bytes, 2, "write byte data");
}

int SimBackend::i2cWriteReg16(int fd, int reg, int data) {
    const uint8_t bytes[] = {static_cast<uint8_t>(reg), static_cast<uint8_t>(data & kByteMask),
                             static_cast<uint8_t>((data >> kBitsPerByte) & kByteMask)};
    return write(fd, bytes, 3, "write word data");
}

int SimBackend::i2cReadBlock(int fd, int reg, int length, uint8_t* data) {
    if (length < 1 || length > I2cBus::kMaxBlock || !data) {
        errno = EINVAL;
        return -1;
    }
    return read(fd, reg & kByteMask, data, length, "read i2c block data");
}

int SimBackend::spiSetup(int channel, int speedHz) {
    if (channel < 0 || channel >= kSpiChannels || speedHz <= 0) {
        errno = EINVAL;
        return -1;
    }
    spiSpeedHz_[channel] = speedHz;
    board_->trace().note(TraceKind::Spi, channel, "setup " + std::to_string(speedHz) + " Hz");
    return kSpiFdBase + channel;
}

int SimBackend::spiDataRW(int channel, unsigned char* data, int len) {
    if (channel < 0 || channel >= kSpiChannels || spiSpeedHz_[channel] == 0 || len < 0) {
        errno = EBADF;
        return -1;
    }
    TraceEntry e;
    e.kind = TraceKind::Spi;
    e.channel = channel;
    bool traced = board_->trace().enabled(TraceKind::Spi);
    if (traced) {
        e.out.assign(data, data + len);
    }
    if (channel == 0 && fpga_) {
        fpga_->transfer(data, len);
    } else {
        std::fill(data, data + len, kIdleByte);
    }
    if (traced) {
        e.in.assign(data, data + len);
        e.busSeconds = kSpiTransferOverheadSeconds + len * kSpiBitsPerByte / spiSpeedHz_[channel];
        board_->trace().record(std::move(e));
    }
    return len;
}

int SimBackend::serialSetLine(int fd, const termios& line) {
    auto* camera = board_->find<CameraBoardModel>();
    if (!camera || !camera->isLinkPort(fd)) {
        return Backend::serialSetLine(fd, line);
    }
    const char* parity = (line.c_cflag & PARENB) == 0 ? "none" : (line.c_cflag & PARODD) ? "odd" : "even";
    camera->setParity(parity);
    termios applied = line;
    applied.c_cflag &= ~(PARENB | PARODD);
    return Backend::serialSetLine(fd, applied);
}

int SimBackend::spiClose(int fd) {
    int channel = fd - kSpiFdBase;
    if (channel < 0 || channel >= kSpiChannels || spiSpeedHz_[channel] == 0) {
        errno = EBADF;
        return -1;
    }
    spiSpeedHz_[channel] = 0;
    board_->trace().note(TraceKind::Spi, channel, "close");
    return 0;
}

std::string SimBackend::shellPathPrefix() const {
    return standinsFolder();
}

std::string standinsFolder() {
    const char* overridden = std::getenv("OSTRIX_SIM_STANDINS");
    return overridden && *overridden ? overridden : OSTRIX_STANDINS_DIR;
}

} // namespace sim

namespace sim {

int SimBackend::inputEventBits(int fd, uint8_t* bits, int length) {
    const UsbInput* input = board_->find<UsbInput>();
    return input ? input->eventBits(fd, bits, length) : unsupported();
}

ssize_t SimBackend::inputRead(int fd, void* buffer, size_t length) {
    return UsbInput::read(fd, buffer, length);
}

} // namespace sim
