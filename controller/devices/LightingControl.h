// The microscope's LED illumination: a ring light in four quadrants, an auxiliary and a
// substage light. An LTC2625 DAC sets each channel's LED current and an 8-bit I/O
// expander enables the channels (outputs 0..5) and reports open LED strings (inputs 6,
// 7); both sit on I2C bus 5. GPIO 32 switches the lighting supply. Log prefix "LC: ".
#pragma once

#include <cstdint>
#include <memory>

class i2c_handler;

enum lighting_channels_t : uint8_t {
    RING_TOP = 0,
    RING_RIGHT = 1,
    RING_BOTTOM = 2,
    RING_LEFT = 3,
    AUXILIARY = 4,
    SUBSTAGE = 5,
    NUM_CHANNELS = 6,
};

constexpr uint8_t I2C_BASE_LIGHTING_LEVELS = 0x10;   // LTC2625 DAC
constexpr uint8_t I2C_BASE_LIGHTING_CONTROLS = 0x20; // I/O expander

// I/O expander registers.
constexpr uint8_t I2C_REG_LIGHTING_CONTROLS_INPUT = 0;
constexpr uint8_t I2C_REG_LIGHTING_CONTROLS_OUTPUT = 1;
constexpr uint8_t I2C_REG_LIGHTING_CONTROLS_POLARITY = 2;
constexpr uint8_t I2C_REG_LIGHTING_CONTROLS_CONFIG = 3;
constexpr uint8_t LIGHTING_CONTROLS_CONFIG = 0xC0; // bits 6, 7 inputs; 0..5 outputs
constexpr uint8_t SUBSTAGE_OPENLED = 0x40;
constexpr uint8_t RING_OPENLED = 0x80;

// LTC2625 commands (high nibble of the command byte; the low nibble is the channel).
constexpr uint8_t LTC2625_CMD_WRINPREGN = 0x0;
constexpr uint8_t LTC2625_CMD_UPDATEDACREGN = 0x1;
constexpr uint8_t LTC2625_CMD_WRINPREGNUPDATEALL = 0x2;
constexpr uint8_t LTC2625_CMD_WRANDUPDATEN = 0x3;
constexpr uint8_t LTC2625_CMD_PWR_DN = 0x4;
constexpr uint8_t LTC2625_CMD_NOP = 0xF;
constexpr uint8_t LTC2625_ALL_CHANNELS = 0xF;

constexpr uint16_t MAX_LEVEL = 3630;
constexpr uint16_t MAX_SUBSTAGE_LEVEL = 2020;
constexpr uint16_t MIN_LEVEL = 440;
constexpr uint16_t MAX_CHAN_LEVEL[NUM_CHANNELS] = {MAX_LEVEL, MAX_LEVEL, MAX_LEVEL,
                                                   MAX_LEVEL, MAX_LEVEL, MAX_SUBSTAGE_LEVEL};

// Bits of local_status.
constexpr int LC_STATUS_CONFIG_FAILED = 0x01;
constexpr int LC_STATUS_EXPANDER_FAILED = 0x02;
constexpr int LC_STATUS_DAC_FAILED = 0x04;
constexpr int LC_STATUS_SUBSTAGE_OPEN = 0x10;
constexpr int LC_STATUS_RING_OPEN = 0x20;

class LightingControl {
public:
    // `i2c` is the controller's I2C handler.
    LightingControl(i2c_handler* i2c, uint16_t minlevel);
    ~LightingControl();
    LightingControl(const LightingControl&) = delete;
    LightingControl& operator=(const LightingControl&) = delete;

    int power(bool on);
    void shut_down();
    void wake_up() { power(true); }
    int status() const { return local_status; }

    int RingLight(uint8_t quadrant, uint16_t level);
    int SubstageLight(uint16_t level);
    int Auxiliary(uint16_t level);
    int channel_level(uint8_t channel, uint16_t level);
    // 0, -1 (DAC write failed), 254 (expander write failed) or 253 (expander read failed).
    int write_dac(uint8_t command, uint8_t channel, uint16_t level);

    // The DAC code a level gives on a channel (0 for level 0).
    uint16_t dac_code(uint8_t channel, uint16_t level) const;
    uint16_t minimum_dac_level() const { return min_dac_level; }
    uint8_t enables() const { return enable_shadow; }

private:
    int writeDacCode(uint8_t command, uint8_t channel, uint16_t code);

    i2c_handler* i2c;
    int local_status = 0;
    uint8_t enable_shadow = 0;
    uint16_t substage_level = 0;
    uint16_t auxiliary_level = 0;
    uint16_t ring_level[4] = {};
    uint16_t min_dac_level = MIN_LEVEL;
};
