// One HDMI receiver of a video channel (left on switch channel 2, right on channel 1):
// eight register maps of 256 registers. The IO map answers at 0x4C from power-on; each
// other map answers only once its 8-bit address has been written to its IO register
// (CEC 0xF4, InfoFrame 0xF5, DPLL 0xF8, Repeater 0xF9, EDID 0xFA, HDMI 0xFB, CP 0xFD). An
// IO 0xFF write with bit 7 set resets the chip: every register, map addresses included,
// returns to its power-on value.
//
// What the source sends is measured live: cable, TMDS clock and PLL lock, the vertical
// filter lock and the 3D flag (IO 0x6A, 0x6F), the TMDS frequency (HDMI 0x51/0x52, MHz in
// 9.7 fixed point), the active and total resolution and the locks (HDMI 0x07..0x0A,
// 0x1E/0x1F, 0x26/0x27 in half lines) and the sync polarities (HDMI 0x05). A change of the
// source latches interrupt status bits: IO 0x6B bit 1 (vertical lock changed) and bit 2
// (3D changed), IO 0x84 bit 1 (TMDS frequency changed); writing bits to IO 0x6C or 0x85
// clears them. INT1 (GPIO 6 left, GPIO 7 right) is held low while any is latched. A
// hot-plug pulse (IO 0x20 bit 7 low, then high) makes a connected source start again,
// which latches the same bits.
//
// Test side: the source ("hdmi left 1920x1080@148.5 [3d]", "hdmi left off"), a revision
// and a PLL that does not lock as faults, the EDID RAM and the map addresses.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

// What an HDMI source sends.
struct HdmiSource {
    bool present = true;
    unsigned width = 1920;
    unsigned height = 1080;
    double mhz = 148.5;
    bool video3D = false;
};

class HdmiReceiver : public RegisterFileDevice {
public:
    // Maps in bank order.
    enum Map { IO = 0, CEC, INFOFRAME, DPLL, REPEATER, EDID, HDMI, CP, MAPS };
    static constexpr uint8_t kIoAddress = 0x4C;
    static constexpr uint16_t kRevision = 0x20C1;
    static constexpr int kEdidBytes = 256;

    // `channel` is LEFT (0) or RIGHT (1).
    HdmiReceiver(Board& board, I2cBus& bus, int channel);

    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;
    void powerOn() override;
    bool start(uint8_t address, bool read) override;

    // Test side.
    void setSource(const HdmiSource& source);
    HdmiSource source() const;
    void setRevision(uint16_t revision);
    void setPllLocks(bool locks);
    std::array<uint8_t, kEdidBytes> edid() const;
    bool mapAnswers(Map map) const;
    bool interruptAsserted() const;
    unsigned hotPlugPulses() const;
    unsigned chipResets() const;
    uint8_t reg(Map map, uint8_t reg) const { return static_cast<uint8_t>(value(map, reg)); }
    int interruptPin() const { return interruptPin_; }

    // Parses "WIDTHxHEIGHT@MHZ"; false when it is not one.
    static bool parseMode(const std::string& text, HdmiSource& source);

protected:
    void written(int bank, uint8_t reg, uint16_t value) override;
    uint16_t readValue(int bank, uint8_t reg) override;

private:
    struct State {
        uint8_t sourceSet; // 0: the default source
        uint8_t absent;
        uint8_t video3D;
        uint8_t pllFails;
        uint8_t hotPlugLow;
        uint16_t revision; // 0: kRevision
        uint32_t width, height;
        uint32_t khz;
        uint32_t hotPlugPulses;
        uint32_t chipResets;
    };
    static_assert(sizeof(State) == 28, "shared state layout");
    // Caller holds the lock.
    HdmiSource sourceLocked() const;
    bool mapAnswersLocked(int map) const;
    bool locked(const HdmiSource& s) const;
    void latch(uint8_t levelBits, uint8_t edgeBits);
    void driveLine();
    void resetRegisters();
    uint16_t measured(uint8_t reg, const HdmiSource& s) const;

    int videoChannel_;
    int interruptPin_;
};

} // namespace sim
