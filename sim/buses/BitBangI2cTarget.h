// The chips' side of the I2C lines while the Pi toggles GPIO 2 (SDA) and 3 (SCL) itself:
// decodes START, repeated START, STOP, address and data bytes and the acknowledge bits
// from the pin edges, hands them to the bus (which routes them to the switch or to the
// chip on a connected channel) and drives SDA low for the chips' acknowledges and read
// bits, open drain. Clock stretching is not modelled: chips are always ready.
//
// The chips accept a standard-mode clock only: each SCL high and low time within a
// transfer is measured, and a transfer clocked faster than the limits is refused from
// that edge on (no more acknowledges, SDA released) and reported in the trace and the
// status, so software whose timing regressed fails against the board.
//
// From START to the end of a transfer the pair's pin edges are left out of the trace
// (the decoded transfer is one I2C entry instead); setEdgeTracing(true) keeps them.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "sim/board/PinBank.h"
#include "sim/buses/I2cBus.h"

namespace sim {

class BitBangI2cTarget {
public:
    BitBangI2cTarget(PinBank& pins, I2cBus& bus);
    ~BitBangI2cTarget();
    BitBangI2cTarget(const BitBangI2cTarget&) = delete;
    BitBangI2cTarget& operator=(const BitBangI2cTarget&) = delete;

    // Both pins are back with the Pi's I2C controller: a transfer left without STOP ends
    // here (the controller's next START would end it on the wire).
    void linesHandedBack();
    // Board power-on: idle, lines released.
    void reset();
    // Puts the chips' wanted levels (and a stuck line) on the pins.
    void applyDrive();
    // Whether the pin edges within transfers are traced too.
    void setEdgeTracing(bool on);

    // Standard-mode I2C: SCL high for at least 4.0 us, low for at least 4.7 us.
    static constexpr std::chrono::nanoseconds kMinHigh{4000};
    static constexpr std::chrono::nanoseconds kMinLow{4700};
    // Test side: the shortest SCL high and low times the chips accept.
    void setClockLimits(std::chrono::nanoseconds minHigh, std::chrono::nanoseconds minLow);
    std::chrono::nanoseconds minHigh() const { return minHigh_.load(); }
    std::chrono::nanoseconds minLow() const { return minLow_.load(); }
    // Transfers refused for a too fast clock since power-on, and why the last one was.
    int refusedTransfers() const { return refused_.load(); }
    std::string lastRefusal() const;

private:
    enum class Phase : uint8_t {
        Idle,       // waiting for START
        Address,    // shifting in the address byte
        AddressAck, // our acknowledge clock after the address
        Write,      // shifting in a data byte from the master
        WriteAck,   // our acknowledge clock after a data byte
        Read,       // shifting a byte out to the master
        ReadAck,    // the master's acknowledge clock
        Ignore,     // not addressed: wait for START or STOP
    };

    void onSda(int level);
    void onScl(int level);
    // Checks the SCL half period that an edge to `level` ends; false when it was too short
    // (the transfer is then refused).
    bool clockInLimits(int level);
    void refuse(const std::string& why);
    void sclFalling();
    void loadReadByte();
    void endTransfer(bool stopSeen);
    // Leaves the pair's edges out of the trace while a transfer runs.
    void quiet(bool on);

    PinBank& pins_;
    I2cBus& bus_;
    int sdaHook_ = 0;
    int sclHook_ = 0;

    mutable std::mutex mutex_;
    Phase phase_ = Phase::Idle;
    Phase afterAck_ = Phase::Idle;
    int bits_ = 0;
    uint8_t shift_ = 0;
    uint8_t readByte_ = 0;
    bool masterAcked_ = false;
    std::atomic<bool> pullSdaLow_{false}; // what the addressed chip wants on SDA
    I2cTransfer transfer_;
    std::atomic<bool> traceEdges_{false};

    using Clock = std::chrono::steady_clock;
    Clock::time_point lastSclEdge_{};
    bool sclEdgeSeen_ = false;
    std::atomic<std::chrono::nanoseconds> minHigh_{kMinHigh};
    std::atomic<std::chrono::nanoseconds> minLow_{kMinLow};
    std::atomic<int> refused_{0};
    std::string lastRefusal_; // guarded by mutex_
};

} // namespace sim
