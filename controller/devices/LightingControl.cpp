#include "controller/devices/LightingControl.h"

#include "common/logfile.h"
#include "controller/core/devices.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"

std::unique_ptr<LightingControl> lighting;

namespace {

constexpr int LIGHT_PWR_EN_Pin = 32;
constexpr uint16_t MAX_USER_LEVEL = 25;
constexpr uint16_t LEVEL_STEPS = MAX_USER_LEVEL - 1;
constexpr int DAC_DATA_SHIFT = 4; // 12-bit codes are left-justified in the 16-bit word
constexpr int COMMAND_SHIFT = 4;
constexpr int OPEN_LED_INPUT_SHIFT = 6;
constexpr int OPEN_LED_STATUS_SHIFT = 4;
constexpr int QUADRANTS = 4;
constexpr int EXPANDER_WRITE_FAILED = 254;
constexpr int EXPANDER_READ_FAILED = 253;

uint16_t swapBytes(uint16_t v) {
    return static_cast<uint16_t>(v << 8 | v >> 8);
}

} // namespace

LightingControl::LightingControl(i2c_handler* i2c_, uint16_t minlevel) : i2c(i2c_) {
    logprintf("LC: Constructing Lighting Control\n");
    pinMode(LIGHT_PWR_EN_Pin, OUTPUT);
    if (i2c) {
        i2c->register_device(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_CONTROLS, "Lighting Control",
                             "LightingControl");
        i2c->register_device(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_LEVELS, "Lighting Levels",
                             "LightingControl");
    }
    power(true);
    substage_level = auxiliary_level = 0;
    for (uint16_t& level : ring_level) {
        level = 0;
    }
    min_dac_level = minlevel > MIN_LEVEL && minlevel < MAX_SUBSTAGE_LEVEL ? minlevel : MIN_LEVEL;
}

LightingControl::~LightingControl() {
    power(false);
}

// One SMBus word write: the command byte, then the code most significant byte first
// (the handler sends a word low byte first, hence the swap).
int LightingControl::writeDacCode(uint8_t command, uint8_t channel, uint16_t code) {
    if (!i2c) {
        return -1;
    }
    const auto commandByte = static_cast<uint8_t>(command << COMMAND_SHIFT | channel);
    return i2c->write_word(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_LEVELS, commandByte,
                           swapBytes(static_cast<uint16_t>(code << DAC_DATA_SHIFT)));
}

uint16_t LightingControl::dac_code(uint8_t channel, uint16_t level) const {
    if (level > MAX_USER_LEVEL) {
        level = MAX_USER_LEVEL;
    }
    if (level == 0 || channel >= NUM_CHANNELS) {
        return 0;
    }
    return static_cast<uint16_t>((level - 1) * (MAX_CHAN_LEVEL[channel] - min_dac_level) / LEVEL_STEPS +
                                 min_dac_level);
}

int LightingControl::write_dac(uint8_t command, uint8_t channel, uint16_t level) {
    // Only the six lighting channels have an enable bit and a maximum.
    if (channel >= NUM_CHANNELS) {
        return -1;
    }
    const uint16_t code = dac_code(channel, level);
    if (writeDacCode(command, channel, code) != 0) {
        local_status |= LC_STATUS_DAC_FAILED;
        return -1;
    }
    if (code != 0) {
        enable_shadow |= static_cast<uint8_t>(1u << channel);
    } else {
        enable_shadow &= static_cast<uint8_t>(~(1u << channel));
    }
    logprintf("LC: Light Enable %02x\n", enable_shadow);
    if (i2c->write_byte(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_CONTROLS,
                        I2C_REG_LIGHTING_CONTROLS_OUTPUT, enable_shadow, true) != 0) {
        logprintf("\033[38;5;196mLC: ERROR configuring Lighting Control Board\033[38;5;248m\n");
        local_status |= LC_STATUS_EXPANDER_FAILED;
        return EXPANDER_WRITE_FAILED;
    }
    uint8_t input = 0;
    if (i2c->read_byte(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_CONTROLS, I2C_REG_LIGHTING_CONTROLS_INPUT,
                       &input) != 0) {
        logprintf("\033[38;5;196mLC: ERROR reading Lighting Control Board\033[38;5;248m\n");
        local_status |= LC_STATUS_EXPANDER_FAILED;
        return EXPANDER_READ_FAILED;
    }
    local_status |= (input >> OPEN_LED_INPUT_SHIFT) << OPEN_LED_STATUS_SHIFT;
    return 0;
}

int LightingControl::channel_level(uint8_t channel, uint16_t level) {
    logprintf("LC: Set Lighting Channel %d to %d\n", channel, level);
    if (channel < QUADRANTS) {
        ring_level[channel] = level;
    } else if (channel == AUXILIARY) {
        auxiliary_level = level;
    } else if (channel == SUBSTAGE) {
        substage_level = level;
    } else {
        logprintf("\033[38;5;196mLC: ERROR: undefined lighting channel %d\033[38;5;248m\n", channel);
        return 0;
    }
    if (write_dac(LTC2625_CMD_WRANDUPDATEN, channel, level) != 0) {
        local_status |= LC_STATUS_DAC_FAILED;
        return -1;
    }
    return 0;
}

int LightingControl::RingLight(uint8_t quadrant, uint16_t level) {
    return channel_level(quadrant % QUADRANTS, level);
}

int LightingControl::SubstageLight(uint16_t level) {
    return channel_level(SUBSTAGE, level);
}

int LightingControl::Auxiliary(uint16_t level) {
    return channel_level(AUXILIARY, level);
}

int LightingControl::power(bool on) {
    local_status = 0;
    logprintf("LightingControl::Power\n");
    if (on) {
        digitalWrite(LIGHT_PWR_EN_Pin, HIGH);
        enable_shadow = 0;
        int res = i2c ? i2c->write_byte(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_CONTROLS,
                                        I2C_REG_LIGHTING_CONTROLS_OUTPUT, enable_shadow, true)
                      : -1;
        if (res != 0) {
            logprintf(
                "\033[38;5;196mLC: ERROR %d configuring Lighting Control Board - Output\033[38;5;248m\n",
                res);
            local_status |= LC_STATUS_EXPANDER_FAILED;
        }
        res = i2c ? i2c->write_byte(I2C_BUS_LIGHTING_CONTROLS, I2C_BASE_LIGHTING_CONTROLS,
                                    I2C_REG_LIGHTING_CONTROLS_CONFIG, LIGHTING_CONTROLS_CONFIG, true)
                  : -1;
        if (res != 0) {
            logprintf(
                "\033[38;5;196mLC: ERROR %d configuring Lighting Control Board - Config\033[38;5;248m\n",
                res);
            local_status |= LC_STATUS_CONFIG_FAILED;
        }
        res = writeDacCode(LTC2625_CMD_WRANDUPDATEN, LTC2625_ALL_CHANNELS, 0);
        if (res != 0) {
            logprintf("\033[38;5;196mLC: ERROR %d configuring Lighting Control Board - DAC\033[38;5;248m\n",
                      res);
            local_status |= LC_STATUS_DAC_FAILED;
        }
    } else {
        digitalWrite(LIGHT_PWR_EN_Pin, LOW);
    }
    logprintf("LightingControl::Power done\n");
    return 0;
}

void LightingControl::shut_down() {
    for (uint8_t quadrant = 0; quadrant < QUADRANTS; ++quadrant) {
        RingLight(quadrant, 0);
    }
    SubstageLight(0);
    Auxiliary(0);
    power(false);
}
