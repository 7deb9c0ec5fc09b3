// The board's I2C bus ("/dev/i2c-1"): the Pi's SDA/SCL pair (GPIO 2/3), the bus switch
// at 0x70 and the chips behind each of its channels. A transfer reaches the switch and
// the chips on the channels the switch connects. The Pi drives the bus either with its
// I2C controller (the pins in ALT0; whole SMBus transfers, see the smbus* calls) or by
// toggling the pins itself (decoded by the BitBangI2cTarget). Either way every transfer
// is one I2C entry in the trace.
//
// Test side: faults per device (no acknowledge, a failed read or write of one register
// or of all, a failed open), one-shot, counted or lasting, and lines held low; the same
// from ostrix-sim ("i2c ..." commands).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sim/board/SharedMemory.h"
#include "sim/buses/I2cDevice.h"

namespace sim {

class BitBangI2cTarget;
class I2cSwitch;

enum class I2cFaultKind : uint8_t {
    Nack = 1, // the address is not acknowledged
    Read,     // a read of the register (or any) fails: the read address is not acknowledged
    Write,    // a write to the register (or any) fails: the data byte is not acknowledged
    Open,     // opening a descriptor for the address fails
};

struct I2cFault {
    static constexpr int kAllRegisters = -1;
    static constexpr int kAlways = -1;
    int channel = kI2cRootChannel; // switch channel of the device (the switch: root)
    uint8_t address = 0;
    I2cFaultKind kind = I2cFaultKind::Nack;
    int reg = kAllRegisters;
    int count = 1; // times it strikes, or kAlways
};

// One transfer on the wire (START to STOP) as a master makes it, kept by the master's
// side between wire events.
struct I2cTransfer {
    I2cDevice* device = nullptr;
    int address = -1;       // address of the first START, -1 before it
    int current = -1;       // address of the latest START
    bool addressed = false; // the device acknowledged the current address
    bool touched = false;   // the device took part (it sees the stop)
    int starts = 0;
    bool addressNack = false;
    bool dataNack = false;
    std::vector<uint8_t> out, in;

    bool active() const { return address >= 0; }
    void clear();
};

struct I2cBusState {
    static constexpr uint32_t kMagic = 0x4F493243; // "OI2C"
    static constexpr uint32_t kVersion = 1;
    static constexpr int kFaultSlots = 16;
    struct Fault {
        uint8_t used;
        uint8_t kind;
        int8_t channel;
        uint8_t address;
        int16_t reg;
        int32_t remaining; // -1: until cleared
    };
    RegionHeader header;
    Fault faults[kFaultSlots] = {};
    std::atomic<uint8_t> heldLines{0}; // bit 0 SDA, bit 1 SCL held low by a stuck device
};
// Same layout in the programs of every architecture (see RegionHeader).
static_assert(sizeof(I2cBusState) == 224 && offsetof(I2cBusState, heldLines) == 216, "shared state layout");

class I2cBus : public Device {
public:
    static constexpr int kSdaPin = 2;
    static constexpr int kSclPin = 3;
    static constexpr int kMaxBlock = 32; // I2C_SMBUS_BLOCK_MAX

    explicit I2cBus(Board& board);
    ~I2cBus() override;

    std::string name() const override { return "i2c"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;
    void powerOn() override;

    // Called by every I2cDevice's constructor.
    void attach(I2cDevice& device);
    I2cSwitch& busSwitch() const { return *switch_; }
    BitBangI2cTarget& bitBang() const { return *bitBang_; }
    // The chip answering `address` on `channel` (kI2cRootChannel: the switch), or nullptr.
    I2cDevice* deviceAt(int channel, uint8_t address) const;

    // Test side.
    bool fail(const I2cFault& fault);
    void clearFaults();
    void clearFaults(int channel, uint8_t address);
    // A stuck device holding SDA or SCL low.
    void holdLine(int pin, bool held);
    bool lineHeld(int pin) const;

    // Wire events of a transfer; the master keeps `t` from START to STOP.
    bool start(I2cTransfer& t, uint8_t address, bool read);
    bool send(I2cTransfer& t, uint8_t byte);
    uint8_t receive(I2cTransfer& t);
    // Ends the transfer and records it as `what` (the SMBus transfer, "bit-banged").
    void stop(I2cTransfer& t, const char* what, bool bitBanged, bool stopSeen = true);
    // Records a wire event that is not a transfer (a refused clock) in the trace.
    void note(const std::string& text);

    // The Pi's I2C controller, as the i2c-dev driver makes SMBus transfers. Each returns
    // 0 (reads: the byte count) or -1 with errno: EREMOTEIO when a byte or the address is
    // not acknowledged or the pins are not in ALT0, ETIMEDOUT when a line is held low.
    int writeBytes(uint8_t address, const uint8_t* bytes, int count, const char* what);
    int readBytes(uint8_t address, int reg, uint8_t* data, int count, const char* what);
    // Whether a descriptor for `address` may be opened (Open faults).
    bool openAllowed(uint8_t address);

    // Board wiring: the Pi changed the function of a pin (SimBackend).
    void pinFunctionChanged(int pin);

private:
    I2cDevice* route(uint8_t address) const;
    bool acknowledges(I2cDevice* device, uint8_t address, bool read);
    bool takeFault(I2cFaultKind kind, const I2cDevice* device, uint8_t address, int reg);
    int controllerReady(uint8_t address, const char* what);
    CommandResult failCommand(const std::vector<std::string>& args);
    CommandResult registerCommand(const std::vector<std::string>& args);
    CommandResult lineCommand(const std::vector<std::string>& args);
    CommandResult clockCommand(const std::vector<std::string>& args);

    Board& board_;
    SharedRegion<I2cBusState> state_;
    std::vector<I2cDevice*> devices_;
    std::unique_ptr<I2cSwitch> switch_;
    std::unique_ptr<BitBangI2cTarget> bitBang_;
    std::mutex controllerMutex_; // the controller runs one transfer at a time
    I2cTransfer controllerTransfer_;
};

} // namespace sim
