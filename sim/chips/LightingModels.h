// The lighting controls on I2C switch channel 5: the 8-bit I/O expander at 0x20
// (registers input 0, output 1, polarity 2, configuration 3; a set configuration bit
// makes the pin an input) whose outputs 0..5 enable the six LED channels and whose
// inputs 6 and 7 report an open substage and ring LED string, and the LTC2625 12-bit
// octal DAC at 0x10 (command byte = command << 4 | channel, then the code left-justified
// in 16 bits, most significant byte first) that sets each channel's LED current. GPIO
// 32 switches the lighting supply. A channel is lit when the supply is on, its enable
// output is driven high and its DAC code is not zero.
//
// Test side: open LED strings ("lighting open-led ..."), DAC codes, enables, lit state.
#pragma once

#include <cstdint>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class Ltc2625 : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x10;
    static constexpr int kChannel = 5;
    static constexpr int kDacs = 8;
    static constexpr uint8_t kAllDacs = 0xF;

    Ltc2625(Board& board, I2cBus& bus);

    void addStatus(JsonObject& status) const override;

    // Test side.
    uint16_t code(int dac) const;      // DAC register (what the output shows)
    uint16_t inputCode(int dac) const; // input register (written, not yet updated)
    bool poweredDown(int dac) const;
    uint32_t writes() const; // command transfers taken since power-on

protected:
    int widthOf(int, uint8_t) const override { return 2; }
    void written(int bank, uint8_t reg, uint16_t value) override;
    bool autoIncrement() const override { return false; }

private:
    struct State {
        uint16_t input[kDacs];
        uint16_t dac[kDacs];
        uint8_t poweredDown;
        uint8_t reserved[3];
        uint32_t writes;
    };
    static_assert(sizeof(State) == 40, "shared state layout");
};

class LightingExpander : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x20;
    static constexpr int kChannel = 5;
    static constexpr int kSupplyPin = 32;
    static constexpr int kLightChannels = 6;
    static constexpr uint8_t kInput = 0, kOutput = 1, kPolarity = 2, kConfig = 3;
    static constexpr uint8_t kSubstageOpen = 0x40, kRingOpen = 0x80;

    LightingExpander(Board& board, I2cBus& bus, const Ltc2625& dac);

    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Test side.
    void setOpenLed(bool substage, bool ring);
    uint8_t enables() const; // outputs driven high among pins 0..5
    bool supplyOn() const;
    bool lit(int channel) const;

protected:
    uint16_t readValue(int bank, uint8_t reg) override;
    bool autoIncrement() const override { return false; }

private:
    struct State {
        uint8_t openLed; // input pins the LED strings pull high
    };
    static_assert(sizeof(State) == 1, "shared state layout");
    uint8_t pins() const; // caller holds the lock

    const Ltc2625& dac_;
};

} // namespace sim
