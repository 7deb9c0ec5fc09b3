#include "platform/linux/GpioMemory.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>

#include "platform/linux/FileDescriptor.h"
#include "platform/linux/GpioRegisters.h"

namespace platform {

GpioMemory::GpioMemory(const std::string& device) {
    // O_SYNC keeps register accesses uncached.
    FileDescriptor fd(::open(device.c_str(), O_RDWR | O_SYNC | O_CLOEXEC));
    if (!fd.valid()) {
        errorNumber_ = errno;
        error_ = "cannot open " + device + ": " + std::strerror(errno);
        return;
    }
    void* block = ::mmap(nullptr, gpio::kBlockBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (block == MAP_FAILED) {
        errorNumber_ = errno;
        error_ = "cannot map " + device + ": " + std::strerror(errno);
        return;
    }
    // The mapping stays valid after the descriptor is closed.
    base_ = static_cast<volatile uint32_t*>(block);
}

GpioMemory::~GpioMemory() {
    if (base_) {
        ::munmap(const_cast<uint32_t*>(base_), gpio::kBlockBytes);
    }
}

} // namespace platform
