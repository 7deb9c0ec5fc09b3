// The video bridge of one display channel, at 0x28 on switch channel 2 (left) or 1
// (right). It answers on I2C only once its configuration is loaded: the programming tool
// (a stand-in on the simulated board) marks it configured in the board's volatile
// folder, and a power cycle clears that again.
//
// Registers: 0 reads the revision in bits 0..6 and the splash state in bit 7, writing 1
// or 0 switches the splash picture on or off; 1 going high starts a new picture; bytes
// written behind command 2 are the picture, one bit a pixel (1 dark), rows of
// kSplashWidth pixels one after the other.
//
// Test side: the reassembled picture (`ostrix-sim bridge left|right save FILE.png`), and
// a fault that makes the programming tool fail (`ostrix-sim bridge left|right fault
// configure|none`); the status shows "bridge-left" and "bridge-right".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class VideoBridge : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x28;
    static constexpr uint8_t kRevision = 0x12;
    // The splash picture the bridge scales onto its panel.
    static constexpr uint32_t kSplashWidth = 256;
    static constexpr uint32_t kSplashHeight = 128;
    static constexpr uint32_t kSplashBytes = kSplashWidth / 8 * kSplashHeight;

    // `left` chooses the left channel's bridge (bus 2), else the right one's (bus 1).
    VideoBridge(Board& board, I2cBus& bus, bool left);

    std::string name() const override { return left_ ? "bridge-left" : "bridge-right"; }
    void powerOn() override;
    bool start(uint8_t address, bool read) override;
    bool send(uint8_t byte) override;
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Test side.
    bool configured() const;
    bool splashOn() const;
    // Picture bytes received since the last start of a picture.
    uint32_t bytesReceived() const;
    // The received rows as ARGB pixels (black where a bit is 1, white where 0).
    std::vector<uint32_t> picture(uint32_t& rows) const;
    // Marker files shared with the programming tool (the bus number names them).
    std::string configuredMarker() const;
    std::string failMarker() const;

protected:
    void written(int bank, uint8_t reg, uint16_t value) override;
    uint16_t readValue(int bank, uint8_t reg) override;
    bool autoIncrement() const override { return false; }

private:
    static constexpr uint8_t kRegSplash = 0;
    static constexpr uint8_t kRegImageWrite = 1;
    static constexpr uint8_t kRegImageData = 2;

    struct State {
        uint8_t splashOn;
        uint32_t received; // picture bytes since the last start
        uint32_t overflow; // bytes beyond the picture, dropped
        uint8_t image[kSplashBytes];
    };
    static_assert(sizeof(State) == 4108, "shared state layout");

    int busNumber() const { return left_ ? 2 : 1; }

    bool left_;
};

} // namespace sim
