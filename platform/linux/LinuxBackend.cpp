#include "platform/linux/LinuxBackend.h"

namespace platform {

namespace {

// GPIO, SPI and I2C on the real board are filled in with the board support work; until
// then every call fails as an absent device would.
class LinuxBackend final : public Backend {
public:
    const char* name() const override { return "linux"; }
    bool simulated() const override { return false; }
    int setupGpio() override { return unsupported(); }
    void pinMode(int, int) override {}
    void pinModeAlt(int, int) override {}
    void pullUpDnControl(int, int) override {}
    void digitalWrite(int, int) override {}
    int digitalRead(int) override { return 0; }
};

} // namespace

std::unique_ptr<Backend> makeLinuxBackend() {
    return std::make_unique<LinuxBackend>();
}

} // namespace platform
