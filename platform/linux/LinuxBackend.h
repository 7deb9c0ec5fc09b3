// The Raspberry Pi's kernel interfaces: GPIO registers through /dev/gpiomem, SPI through
// spidev, I2C bus 1 through i2c-dev, input devices through evdev. The only code of the
// system that opens device files and calls ioctl.
#pragma once

#include <memory>
#include <string>

#include "platform/Backend.h"

namespace platform {

// The device files the backend opens; tests point them at files of their own.
struct LinuxDevicePaths {
    std::string gpioMemory = "/dev/gpiomem";
    std::string spiPrefix = "/dev/spidev0."; // + the channel
    std::string i2cBus = "/dev/i2c-1";
    // Names the SoC, which decides how pulls are set.
    std::string deviceTreeCompatible = "/proc/device-tree/compatible";
};

std::unique_ptr<Backend> makeLinuxBackend(LinuxDevicePaths paths = {});

} // namespace platform
