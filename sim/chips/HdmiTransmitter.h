// One HDMI transmitter of a video channel (left on switch channel 2, right on channel 1),
// main map at 0x39 and second map at 0x38, with a monitor that can be plugged in.
//
// Main map: 0x42 reads the hot-plug state (bit 6) and the monitor sense (bit 5) of the
// monitor; 0x96 latches the interrupts, bit 7 on every plug or unplug and bit 2 when the
// monitor's EDID has been read in (after a power-up, 0x41 bit 6 clear, with a monitor
// present); writing ones to 0x96 clears them. 0x94 masks them. The EDID memory is read
// through register 0x7E: a read from 0x7E returns the next EDID byte and leaves the
// register pointer on 0x7E, and setting the pointer to 0x7E starts the EDID again from
// its first byte. Both transmitters share the active-low interrupt line GPIO 34.
//
// Test side: plug and unplug the monitor ("monitor left plug"), its EDID, how many EDID
// bytes were read.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class HdmiTransmitter : public RegisterFileDevice {
public:
    static constexpr uint8_t kMainAddress = 0x39;
    static constexpr uint8_t k3DAddress = 0x38;
    static constexpr int kInterruptPin = 34;
    static constexpr int kEdidBytes = 256;
    enum Map { MAIN = 0, SECOND = 1 };

    // `channel` is LEFT (0) or RIGHT (1); `other` the transmitter sharing the line.
    HdmiTransmitter(Board& board, I2cBus& bus, int channel);
    void setPartner(HdmiTransmitter* other) { partner_ = other; }

    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;
    void powerOn() override;
    bool start(uint8_t address, bool read) override;
    bool send(uint8_t byte) override;
    void stop() override;

    // Test side.
    void plug(bool plugged);
    bool plugged() const;
    void setMonitorEdid(const std::array<uint8_t, kEdidBytes>& edid);
    unsigned edidBytesRead() const;
    bool interruptPending() const;
    uint8_t reg(Map map, uint8_t reg) const { return static_cast<uint8_t>(value(map, reg)); }
    // The EDID of the simulated monitor: a 1920x1200 panel, checksums valid.
    static std::array<uint8_t, kEdidBytes> defaultMonitorEdid();

protected:
    void written(int bank, uint8_t reg, uint16_t value) override;
    uint16_t readValue(int bank, uint8_t reg) override;
    bool autoIncrement() const override;

private:
    struct State {
        uint8_t plugged;
        uint8_t edidSet;
        uint8_t mainActive;  // the transfer in progress addresses the main map
        uint8_t holdPointer; // the byte just read came from the EDID port
        uint8_t interrupts;  // latched interrupt status (register 0x96)
        uint16_t edidIndex;
        uint32_t edidBytesRead;
        uint8_t edid[kEdidBytes];
    };
    static_assert(sizeof(State) == 268, "shared state layout");
    // Caller holds the lock.
    bool pendingLocked() const;
    uint8_t edidByte(int index) const;
    // Drives the shared line from both transmitters' state; called without the lock.
    void updateLine() const;

    int videoChannel_;
    HdmiTransmitter* partner_ = nullptr;
};

} // namespace sim
