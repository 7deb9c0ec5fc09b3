#include "platform/linux/SpiDevice.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>

namespace platform {

namespace spi {

spi_ioc_transfer fullDuplexTransfer(unsigned char* data, uint32_t len, uint32_t speedHz) {
    spi_ioc_transfer transfer{}; // unused fields must be zero
    const auto address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(data));
    transfer.tx_buf = address;
    transfer.rx_buf = address;
    transfer.len = len;
    transfer.speed_hz = speedHz;
    transfer.bits_per_word = kBitsPerWord;
    return transfer;
}

} // namespace spi

int SpiDevice::open(const std::string& path, int speedHz) {
    fd_.reset();
    if (speedHz <= 0) {
        errno = EINVAL;
        return -1;
    }
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid()) {
        return -1;
    }
    uint8_t mode = spi::kMode;
    uint8_t bits = spi::kBitsPerWord;
    auto speed = static_cast<uint32_t>(speedHz);
    if (::ioctl(fd.get(), SPI_IOC_WR_MODE, &mode) < 0 ||
        ::ioctl(fd.get(), SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
        ::ioctl(fd.get(), SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        return -1;
    }
    speedHz_ = speed;
    fd_ = std::move(fd);
    return fd_.get();
}

int SpiDevice::transfer(unsigned char* data, int len) {
    if (!fd_.valid()) {
        errno = EBADF;
        return -1;
    }
    if (len < 0 || (len > 0 && data == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    spi_ioc_transfer transfer = spi::fullDuplexTransfer(data, static_cast<uint32_t>(len), speedHz_);
    return ::ioctl(fd_.get(), SPI_IOC_MESSAGE(1), &transfer) < 0 ? -1 : len;
}

} // namespace platform
