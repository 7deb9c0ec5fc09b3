// The LTC2977 power-system manager at 0x5C on switch channel 3: eight pages (rails),
// spoken to with PMBus (command byte, then byte or word data, words low byte first).
// A rail is on when its ON_OFF_CONFIG and OPERATION say so and reports power-good
// (STATUS_WORD) once its ramp time has passed since it was switched on; switch-on
// times live in the shared state, so every program sees the same ramp.
//
// At board power-on only the controller's own supply (page 5) is on, as the chip's
// stored configuration brings it up; the other rails wait for OPERATION.
//
// Test side: railOn/railPowerGood per page (the camera board's supply is page 1), ramp
// times and rails that never reach power-good ("rail ..." commands of ostrix-sim).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "sim/buses/RegisterFileDevice.h"

namespace sim {

class Ltc2977 : public RegisterFileDevice {
public:
    static constexpr uint8_t kAddress = 0x5C;
    static constexpr int kChannel = 3;
    static constexpr int kPages = 8;
    static constexpr int kCameraPage = 1;
    static constexpr uint16_t kSpecialId = 0x0131;

    // PMBus commands.
    static constexpr uint8_t PAGE = 0x00;
    static constexpr uint8_t OPERATION = 0x01;
    static constexpr uint8_t ON_OFF_CONFIG = 0x02;
    static constexpr uint8_t CLEAR_FAULTS = 0x03;
    static constexpr uint8_t VOUT_COMMAND = 0x21;
    static constexpr uint8_t STATUS_BYTE = 0x78;
    static constexpr uint8_t STATUS_WORD = 0x79;
    static constexpr uint8_t READ_VOUT = 0x8B;
    static constexpr uint8_t MFR_SPECIAL_ID = 0xE7;

    static constexpr uint8_t kAllPages = 0xFF;
    static constexpr uint8_t kOperationOn = 0x80;

    // STATUS_WORD bits the model reports.
    static constexpr uint16_t kStatusPowerNotGood = 0x0800;
    static constexpr uint16_t kStatusOff = 0x0040;
    static constexpr uint16_t kStatusHighByte = 0x0001;

    Ltc2977(Board& board, I2cBus& bus);

    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Test side.
    static const char* railName(int page);
    bool railOn(int page) const;
    bool railPowerGood(int page) const;
    uint8_t operation(int page) const;
    uint8_t onOffConfig(int page) const;
    uint8_t page() const;
    // Time from switch-on to power-good; the board's ramp when not set.
    void setRamp(int page, std::chrono::microseconds ramp);
    void setNeverGood(int page, bool never);
    void useBoardRamp(int page);
    // Told (in this program, outside the chip's lock, at the end of the transfer) which
    // page was switched on or off: the camera board follows its rail.
    void setRailListener(std::function<void(int page)> listener) { railListener_ = std::move(listener); }

    void stop() override;

protected:
    int bankOf(int addressIndex, uint8_t command) const override;
    int widthOf(int bank, uint8_t command) const override;
    bool acceptWrite(int bank, uint8_t command, uint16_t value) override;
    void written(int bank, uint8_t command, uint16_t value) override;
    uint16_t readValue(int bank, uint8_t command) override;
    bool autoIncrement() const override { return false; }

private:
    struct Rail {
        int64_t onSinceNs; // CLOCK_MONOTONIC at switch-on; 0: on since board power-on
        int64_t rampUs;
        uint8_t rampSet;
        uint8_t neverGood;
        uint8_t reserved[6];
    };
    struct State {
        Rail rails[kPages];
    };
    static_assert(sizeof(State) == 192, "shared state layout");

    bool commandedOn(int page) const;
    bool powerGood(int page) const;
    static bool validPage(int page) { return page >= 0 && page < kPages; }
    int pageArgument(const std::string& text) const;

    std::chrono::microseconds boardRamp_;
    bool onBefore_[kPages] = {}; // rail states before the write being stored
    uint8_t switchedPages_ = 0;  // pages switched during the current transfer
    std::function<void(int page)> railListener_;
};

} // namespace sim
