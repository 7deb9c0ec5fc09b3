// Process-wide platform services: the backend in use, system paths and the shell.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Backend.h"

namespace platform {

// The backend in use. The first call without an installed backend chooses one from
// OSTRIX_PLATFORM ("sim" or "linux"); with neither set on a PC it explains how to run
// on the simulated board and ends the process.
Backend& backend();

// Installs a backend (tests, tools); returns the one it replaces.
std::unique_ptr<Backend> setBackend(std::unique_ptr<Backend> next);

bool simulated();

// Whether a backend is installed or the environment names one, without choosing it (so
// without ending the process when none is named): what needs no board can still run.
bool boardChosen();

// The system root (OSTRIX_SYSROOT, empty on the real board).
std::string sysroot();

// Maps an absolute system path ("/dev/sda1") into the system root; relative paths are
// returned unchanged.
std::string sysPath(std::string_view absolutePath);

// Quotes one shell word so that nothing in it is read as shell syntax.
std::string shellQuote(std::string_view word);

// Runs a command line through /bin/sh, as system() does, with the backend's stand-ins
// first on PATH. Returns the command's exit status, or -1 if it could not be run or was
// killed by a signal.
int shell(const std::string& command);

// As shell(), and collects what the command prints on standard output.
int shellOutput(const std::string& command, std::string& output);

} // namespace platform

namespace platform {

// The raw SPI, I2C and input-device calls that wiringPi has no function for.
inline int i2cClose(int fd) {
    return backend().i2cClose(fd);
}
inline int spiClose(int fd) {
    return backend().spiClose(fd);
}
inline int i2cReadBlock(int fd, int reg, int length, uint8_t* data) {
    return backend().i2cReadBlock(fd, reg, length, data);
}
inline int inputEventBits(int fd, uint8_t* bits, int length) {
    return backend().inputEventBits(fd, bits, length);
}
inline ssize_t inputRead(int fd, void* buffer, size_t length) {
    return backend().inputRead(fd, buffer, length);
}
inline int serialSetLine(int fd, const termios& line) {
    return backend().serialSetLine(fd, line);
}

} // namespace platform
