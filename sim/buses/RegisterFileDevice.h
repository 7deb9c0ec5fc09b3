// The common model of an I2C register chip: banks of 256 registers of up to 16 bits,
// kept in the board's shared state ("i2c-<name>.state") so that every program on the
// board sees the same chip. On the wire the first byte written after the address sets
// the register pointer; further bytes are stored from the pointer on and a read returns
// the registers from the pointer on, the pointer advancing register by register. Wider
// registers (SMBus words) go low byte first.
//
// A chip model derives from it and changes only what its chip does differently:
//   bankOf      which bank a register of an address lives in (multi-map chips, pages)
//   widthOf     bytes per register (1 or 2)
//   acceptWrite refuse a write (read-only register): the byte is not acknowledged
//   written     side effects of a write from the bus
//   readValue   the value a read from the bus returns (computed registers)
//   stopped     end of a transfer (commands that act on STOP)
// These run with the state lock held and may only touch this chip's state: cells and
// the chip's own extra state (extra<T>(), zero at power-on).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "sim/board/SharedMemory.h"
#include "sim/buses/I2cDevice.h"

namespace sim {

struct RegisterDefault {
    int bank;
    uint8_t reg;
    uint16_t value;
};

struct RegisterFileLayout {
    std::string name; // the model's name (Device::name) and its state file's name
    int channel = kI2cRootChannel;
    std::vector<uint8_t> addresses;
    int banks = 1;
    size_t extraBytes = 0;                 // the chip's own state beside its registers
    std::vector<RegisterDefault> defaults; // power-on values (others are 0)
};

class RegisterFileDevice : public I2cDevice {
public:
    static constexpr int kRegisters = 256;
    static constexpr size_t kMaxAddresses = 16;

    RegisterFileDevice(Board& board, I2cBus& bus, RegisterFileLayout layout);
    ~RegisterFileDevice() override;

    std::string name() const override { return layout_.name; }
    void powerOn() override;

    bool start(uint8_t address, bool read) override;
    bool send(uint8_t byte) override;
    uint8_t receive() override;
    void stop() override;
    int nextWriteRegister() const override;
    int nextReadRegister(uint8_t address) const override;

    // Test side: registers as stored, without the chip's side effects.
    int banks() const { return layout_.banks; }
    uint16_t value(int bank, uint8_t reg) const;
    void setValue(int bank, uint8_t reg, uint16_t value);
    // The bank the register `reg` of `address` lives in; -1 when not the chip's address.
    int bankFor(uint8_t address, uint8_t reg) const;

protected:
    virtual int bankOf(int addressIndex, uint8_t reg) const;
    virtual int widthOf(int bank, uint8_t reg) const { return 1; }
    virtual bool acceptWrite(int bank, uint8_t reg, uint16_t value) { return true; }
    virtual void written(int bank, uint8_t reg, uint16_t value) {}
    virtual uint16_t readValue(int bank, uint8_t reg) { return cell(bank, reg); }
    virtual void stopped(int addressIndex, bool wroteData) {}
    // Whether the pointer moves to the next register after each one (PMBus does not).
    virtual bool autoIncrement() const { return true; }

    // Holds the chip's cross-process state lock.
    using Lock = SharedLock;
    Lock lock() const;

    // Storage; the caller holds the lock.
    uint16_t& cell(int bank, uint8_t reg);
    uint16_t cell(int bank, uint8_t reg) const;
    template <class T> T& extra() const {
        static_assert(std::is_trivially_copyable_v<T>, "chip state lives in a shared file");
        return *static_cast<T*>(extraBytes(sizeof(T)));
    }

    Board& board() const { return board_; }

private:
    struct Header;
    Header& header() const;
    void* extraBytes(size_t size) const;
    void initialise(void* data) const;
    int clampBank(int bank) const;

    Board& board_;
    RegisterFileLayout layout_;
    std::unique_ptr<SharedFile> file_;
};

} // namespace sim
