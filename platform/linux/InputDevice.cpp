#include "platform/linux/InputDevice.h"

#include <cerrno>
#include <linux/input.h>
#include <sys/ioctl.h>

namespace platform::input {

namespace {

// The size field of an ioctl request.
constexpr int kMaxRequestSize = (1 << _IOC_SIZEBITS) - 1;
// Event type 0 asks for the bitmap of the event types the device supports.
constexpr int kAllEventTypes = 0;

} // namespace

std::optional<unsigned long> eventBitsRequest(int length) {
    if (length < 0 || length > kMaxRequestSize) {
        return std::nullopt;
    }
    return static_cast<unsigned long>(EVIOCGBIT(kAllEventTypes, length));
}

int eventBits(int fd, uint8_t* bits, int length) {
    const std::optional<unsigned long> request = eventBitsRequest(length);
    if (!request || (length > 0 && bits == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    return ::ioctl(fd, *request, bits);
}

} // namespace platform::input
