// The GPIO register block mapped from "/dev/gpiomem", which gives unprivileged programs
// the GPIO registers (and nothing else) of the Raspberry Pi.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class GpioMemory {
public:
    // Maps the block of `device`; on failure valid() is false and error() says why.
    explicit GpioMemory(const std::string& device);
    ~GpioMemory();
    GpioMemory(const GpioMemory&) = delete;
    GpioMemory& operator=(const GpioMemory&) = delete;

    bool valid() const { return base_ != nullptr; }
    volatile uint32_t* base() const { return base_; }
    const std::string& error() const { return error_; }
    // The errno of the failed open or map (0 when valid).
    int errorNumber() const { return errorNumber_; }

private:
    volatile uint32_t* base_ = nullptr;
    std::string error_;
    int errorNumber_ = 0;
};

} // namespace platform
