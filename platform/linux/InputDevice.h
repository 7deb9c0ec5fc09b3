// Queries of an evdev input device ("/dev/input/event*").
#pragma once

#include <cstdint>
#include <optional>

namespace platform::input {

// The ioctl request that reads `length` bytes of the device's event-type bits, or none
// when the length does not fit the request's size field.
std::optional<unsigned long> eventBitsRequest(int length);

// Reads the event-type bits; returns the count of bytes the kernel filled, or -1 with
// errno.
int eventBits(int fd, uint8_t* bits, int length);

} // namespace platform::input
