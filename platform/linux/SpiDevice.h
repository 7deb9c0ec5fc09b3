// One chip select of the Pi's SPI controller through spidev ("/dev/spidev0.<channel>"):
// mode 0, 8-bit words, full-duplex transfers in place.
#pragma once

#include <cstdint>
#include <linux/spi/spidev.h>
#include <string>

#include "platform/linux/FileDescriptor.h"

namespace platform {

namespace spi {

constexpr uint8_t kMode = SPI_MODE_0;
constexpr uint8_t kBitsPerWord = 8;

// The transfer that sends `len` bytes of `data` and stores the bytes received at the
// same place, clocked at `speedHz`.
spi_ioc_transfer fullDuplexTransfer(unsigned char* data, uint32_t len, uint32_t speedHz);

} // namespace spi

class SpiDevice {
public:
    // Opens and configures the device (closing one opened before). Returns the
    // descriptor, or -1 with errno as the kernel reported it.
    int open(const std::string& path, int speedHz);
    bool isOpen() const { return fd_.valid(); }
    int descriptor() const { return fd_.get(); }
    void close() { fd_.reset(); }

    // One transfer of len bytes; returns len, or -1 with errno.
    int transfer(unsigned char* data, int len);

private:
    FileDescriptor fd_;
    uint32_t speedHz_ = 0;
};

} // namespace platform
