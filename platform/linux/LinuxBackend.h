// The Raspberry Pi's kernel interfaces: GPIO registers through /dev/gpiomem, SPI through
// spidev, I2C bus 1 through i2c-dev, input devices through evdev.
#pragma once

#include <memory>

#include "platform/Backend.h"

namespace platform {

std::unique_ptr<Backend> makeLinuxBackend();

} // namespace platform
