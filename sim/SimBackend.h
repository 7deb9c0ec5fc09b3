// The platform backend of the simulated board: each wiringPi-shaped call goes to the
// board's models.
#pragma once

#include <memory>

#include "platform/Backend.h"
#include "sim/Board.h"
#include "sim/DisplayFpga.h"

namespace sim {

class SimBackend : public platform::Backend {
public:
    explicit SimBackend(std::unique_ptr<Board> board);
    ~SimBackend() override;

    Board& board() { return *board_; }

    const char* name() const override { return "sim"; }
    bool simulated() const override { return true; }

    int setupGpio() override;
    void pinMode(int pin, int mode) override;
    void pinModeAlt(int pin, int fsel) override;
    void pullUpDnControl(int pin, int pud) override;
    void digitalWrite(int pin, int value) override;
    int digitalRead(int pin) override;

    // SPI: channel 0 is the display FPGA; nothing answers on channel 1 (MISO reads high).
    // Every transfer is traced with its bytes and its time on the wire at the speed set.
    int spiSetup(int channel, int speedHz) override;
    int spiDataRW(int channel, unsigned char* data, int len) override;
    int spiClose(int fd) override;

    std::string shellPathPrefix() const override;

private:
    static constexpr int kSpiChannels = 2;
    std::unique_ptr<Board> board_;
    DisplayFpga* fpga_ = nullptr;
    int spiSpeedHz_[kSpiChannels] = {};
};

// The folder of the shell stand-ins (sudo, mount, umount, reboot, date, hwclock, ...).
std::string standinsFolder();

} // namespace sim
