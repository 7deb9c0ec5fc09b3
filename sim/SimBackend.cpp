#include "sim/SimBackend.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/wiringPi.h"

namespace sim {

namespace {
// Descriptors handed out by spiSetup: far above the ones the process really has open.
constexpr int kSpiFdBase = 0x5D00;
// Per transfer on the real board: the spidev ioctl and chip-select set-up.
constexpr double kSpiTransferOverheadSeconds = 15e-6;
// Bit times per byte on the wire, the inter-byte gap included.
constexpr double kSpiBitsPerByte = 9;
constexpr unsigned char kIdleByte = 0xFF;
} // namespace

SimBackend::SimBackend(std::unique_ptr<Board> board)
    : board_(std::move(board)), fpga_(board_->find<DisplayFpga>()) {}
SimBackend::~SimBackend() = default;

int SimBackend::setupGpio() {
    board_->pins().noteSetup();
    return 0;
}

void SimBackend::pinMode(int pin, int mode) {
    board_->pins().setFunction(pin, mode == OUTPUT ? FSEL_OUTP : FSEL_INPT);
}
void SimBackend::pinModeAlt(int pin, int fsel) {
    board_->pins().setFunction(pin, fsel);
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
