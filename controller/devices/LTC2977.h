// The LTC2977 power-system manager (log prefix "PSU: "): detects the chip, puts every
// rail under OPERATION control, switches single rails and runs the main-rail sequence
// for power-up, standby and shut-down. Spoken to with PMBus through the I2C handler.
// Every operation is a no-op returning 255 (status reads 0xFFFF) when the chip was not
// detected.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>

class i2c_handler;

constexpr uint8_t I2C_BASE_LTC2977FC = 0x5C;

// Rails, numbered as the LTC2977's pages.
enum psus : uint8_t {
    psuVCC1V5 = 0,
    psuVCC5V0CAM = 1,
    psuVCC5V0 = 2,
    psuVCC2V5 = 3,
    psuVCC3V3 = 4,
    psuVCC3V3PI = 5,
    psuVCC1V1 = 6,
    psuVCC1V1b = 7,
    psuALL = 255,
};

// The rail's name as logged.
const char* PSU_NAME(uint8_t page);

enum STATUS_WORD_BITS : uint16_t {
    STATUS_WORD_VOUT = 0x8000,
    STATUS_WORD_INPUT = 0x2000,
    STATUS_WORD_MFR = 0x1000,
    STATUS_WORD_PWR_NOT_GOOD = 0x0800,
    STATUS_WORD_BUSY = 0x0080,
    STATUS_WORD_OFF = 0x0040,
    STATUS_WORD_VOUT_OV = 0x0020,
    STATUS_WORD_VIN_UV = 0x0008,
    STATUS_WORD_TEMP = 0x0004,
    STATUS_WORD_CML = 0x0002,
    STATUS_WORD_HIGH_BYTE = 0x0001,
};

class ltc2977_handler {
public:
    // PMBus commands used.
    enum pmbus_commands : uint8_t {
        PAGE = 0x00,
        OPERATION = 0x01,
        ON_OFF_CONFIG = 0x02,
        STATUS_WORD = 0x79,
        MFR_SPECIAL_ID = 0xE7,
    };

    // `i2c` is the controller's I2C handler; the chip sits at `addr` on switch channel `bus`.
    ltc2977_handler(i2c_handler* i2c, uint8_t bus, uint8_t addr);
    ~ltc2977_handler();
    ltc2977_handler(const ltc2977_handler&) = delete;
    ltc2977_handler& operator=(const ltc2977_handler&) = delete;

    bool is_detected() const { return detected; }

    // One rail on or off: 0 when sent, 255 when the chip is not detected.
    uint8_t VCC1V5(bool on);
    uint8_t VCC5V0CAM(bool on);
    uint8_t VCC5V0(bool on);
    uint8_t VCC2V5(bool on);
    uint8_t VCC3V3(bool on);
    uint8_t VCC1V1(bool on);
    uint8_t VCC3V3PI(bool on);
    uint8_t PSU_OnOff(uint8_t page, bool on);
    uint16_t ReadStatus(uint8_t page);

    // The main rails in sequence; when switching on, waits up to 1 s per rail for
    // power-good. Returns 255.
    uint8_t VCC(bool on_off, bool usbaliveinstandby);

private:
    // PAGE, OPERATION and, unless `logged` is false, the read-back of OPERATION logged.
    uint8_t switch_rail(uint8_t page, bool on, bool logged);
    void wait_power_good(uint8_t page);

    i2c_handler* i2c;
    std::mutex mylock;
    uint8_t mybus;
    uint8_t myaddr;
    bool detected = false;
    timer_t timerid;
};
