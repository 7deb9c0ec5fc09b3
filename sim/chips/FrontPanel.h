// The control board's front panel on I2C switch channel 7: an 8-bit I/O expander at
// 0x20 (registers input 0, output 1, polarity 2, configuration 3; a set configuration
// bit makes the pin an input). Pins 0..5 read the six buttons, pulled up and pulled low
// while a button is pressed; pins 6..7 drive the two-bit LED code when configured as
// outputs.
//
// Test side: press and release buttons ("button BTN1 press"), the buttons held, the LED
// code the panel shows.
#pragma once

#include <cstdint>
#include <string>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class FrontPanelExpander : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x20;
    static constexpr int kChannel = 7;
    static constexpr int kButtons = 6;
    static constexpr int kPowerButton = 5;
    static constexpr uint8_t kInput = 0, kOutput = 1, kPolarity = 2, kConfig = 3;
    static constexpr int kLedShift = 6;
    static constexpr uint8_t kLedPins = 0xC0;

    FrontPanelExpander(Board& board, I2cBus& bus);

    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Test side. Buttons are numbered 0..5 (BTN1..BTN5, then the power button).
    void press(int button);
    void release(int button);
    // Presses exactly the buttons of `mask` (bit b = button b) and releases the others.
    void hold(uint8_t mask);
    uint8_t held() const;
    // The LED code on pins 6..7, or -1 while those pins are not outputs.
    int ledCode() const;
    // The button of a name ("BTN1".."BTN6", "POWER"), or -1.
    static int buttonNamed(const std::string& name);

protected:
    uint16_t readValue(int bank, uint8_t reg) override;
    bool autoIncrement() const override { return false; }

private:
    struct State {
        uint8_t pressed; // bit b: button b held down
    };
    static_assert(sizeof(State) == 1, "shared state layout");
    uint8_t pins() const; // caller holds the lock
    static uint8_t pinOf(int button);
};

} // namespace sim
