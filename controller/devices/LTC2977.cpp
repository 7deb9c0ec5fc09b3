#include "controller/devices/LTC2977.h"

#include "common/logfile.h"
#include "common/timeout.h"
#include "controller/core/devices.h"
#include "controller/devices/PMBus.h"
#include "controller/devices/i2c.h"

std::unique_ptr<ltc2977_handler> power_manager;

namespace {

constexpr uint16_t kSpecialId = 0x0131;
constexpr uint8_t kOperationOn = 0x80;
constexpr uint8_t kOperationOff = 0x00;
// Every rail obeys OPERATION alone (not the CONTROL pin).
constexpr uint8_t kOnOffConfigByOperation = 0x19;
constexpr int kPowerGoodTimeoutMs = 1000;
constexpr uint16_t kNotRead = 0xFFFF;
constexpr uint8_t kNotDetected = 255;
constexpr uint8_t kUnreadByte = 0xFF;
constexpr int kPages = 8;

const char* const kRailNames[kPages] = {"VCC1V5", "VCC5V0CAM", "VCC5V0", "VCC2V5",
                                        "VCC3V3", "VCC3V3PI",  "VCC1V1", "VCC1V1b"};

// Rails the power-good wait skips: the camera's (switched by the camera board) and the
// controller's own supply (never switched by the sequence).
bool waits_for_power_good(int page) {
    return page != psuVCC5V0CAM && page != psuVCC3V3PI;
}

} // namespace

const char* PSU_NAME(uint8_t page) {
    if (page == psuALL) {
        return "ALL";
    }
    return page < kPages ? kRailNames[page] : "?";
}

ltc2977_handler::ltc2977_handler(i2c_handler* i2c, uint8_t bus, uint8_t addr)
    : i2c(i2c), mybus(bus), myaddr(addr), timerid(no_timeout()) {
    logprintf("PSU: Constructor\n");
    i2c->register_device(bus, addr, "LTC2977", "ltc2977_handler");

    uint16_t id = 0;
    const uint8_t res = i2c->PMBUS_readWord(mybus, myaddr, MFR_SPECIAL_ID, &id);
    detected = res && id == kSpecialId;
    if (!detected) {
        logprintf("\033[38;5;196mPSU: ERROR: Failed to detect Power Control circuit\033[38;5;248m\n");
        logprintf("PMBus: res=%d, reg=%04x\n", res, id);
    }

    uint8_t operation = kUnreadByte, config = kUnreadByte;
    i2c->PMBUS_writeByte(mybus, myaddr, PAGE, psuVCC5V0CAM);
    i2c->PMBUS_readByte(mybus, myaddr, OPERATION, &operation);
    i2c->PMBUS_readByte(mybus, myaddr, ON_OFF_CONFIG, &config);
    logprintf("PSU: CAM OPERATION = %02x\n", operation);
    logprintf("PSU: CAM ON_OFF_CONFIG = %02x\n", config);

    if (detected) {
        i2c->PMBUS_writeByte(mybus, myaddr, PAGE, psuALL);
        i2c->PMBUS_writeByte(mybus, myaddr, OPERATION, kOperationOn);
        i2c->PMBUS_writeByte(mybus, myaddr, ON_OFF_CONFIG, kOnOffConfigByOperation);
    }

    logprintf("PSU: create_timeout()\n");
    create_timeout(&timerid);
    logprintf("PSU: Constructor complete\n");
}

ltc2977_handler::~ltc2977_handler() {
    delete_timeout(&timerid);
}

uint8_t ltc2977_handler::switch_rail(uint8_t page, bool on, bool logged) {
    if (!detected) {
        return kNotDetected;
    }
    i2c->PMBUS_writeByte(mybus, myaddr, PAGE, page);
    i2c->PMBUS_writeByte(mybus, myaddr, OPERATION, on ? kOperationOn : kOperationOff);
    if (logged) {
        uint8_t operation = kUnreadByte;
        i2c->PMBUS_readByte(mybus, myaddr, OPERATION, &operation);
        logprintf("PSU: %s %02X\n", PSU_NAME(page), operation);
    }
    return 0;
}

uint8_t ltc2977_handler::VCC1V5(bool on) {
    return switch_rail(psuVCC1V5, on, true);
}
uint8_t ltc2977_handler::VCC5V0CAM(bool on) {
    return switch_rail(psuVCC5V0CAM, on, true);
}
uint8_t ltc2977_handler::VCC5V0(bool on) {
    return switch_rail(psuVCC5V0, on, true);
}
uint8_t ltc2977_handler::VCC2V5(bool on) {
    return switch_rail(psuVCC2V5, on, true);
}
uint8_t ltc2977_handler::VCC3V3(bool on) {
    return switch_rail(psuVCC3V3, on, true);
}
uint8_t ltc2977_handler::VCC1V1(bool on) {
    return switch_rail(psuVCC1V1, on, true);
}
uint8_t ltc2977_handler::VCC3V3PI(bool on) {
    return switch_rail(psuVCC3V3PI, on, false);
}
uint8_t ltc2977_handler::PSU_OnOff(uint8_t page, bool on) {
    return switch_rail(page, on, true);
}

uint16_t ltc2977_handler::ReadStatus(uint8_t page) {
    if (!detected) {
        return kNotRead;
    }
    uint16_t status = kNotRead;
    i2c->PMBUS_writeByte(mybus, myaddr, PAGE, page);
    i2c->PMBUS_readWord(mybus, myaddr, STATUS_WORD, &status);
    return status;
}

void ltc2977_handler::wait_power_good(uint8_t page) {
    start_timeout("PSU: ", &timerid, kPowerGoodTimeoutMs, 0);
    // The first read is logged as any other; the polls that follow are not, so a rail
    // that never comes good costs two lines, not one per poll for a second.
    uint16_t status = ReadStatus(page);
    PMBus::QuietReads quiet;
    while ((status & STATUS_WORD_PWR_NOT_GOOD) && !timeout_expired(&timerid, 0, 0)) {
        status = ReadStatus(page);
    }
    if (timeout_expired(&timerid, 0, 0)) {
        logprintf("\033[38;5;196mPSU: ERROR: timeout turning on PSU %s\n", PSU_NAME(page));
    }
}

// No settling wait between the switches: the chip's own turn-on settings shape the ramps.
// Switching off does not wait for the rails to fall.
uint8_t ltc2977_handler::VCC(bool on_off, bool usbaliveinstandby) {
    logprintf("PSU: VCC %d\n", on_off ? 1 : 0);
    if (!detected) {
        logprintf("PSU: Not Detected\n");
        return kNotDetected;
    }
    if (VCC1V1(on_off)) {
        logprintf("\033[38;5;196mPSU: ERROR: Failed to switch VCC1V1\033[38;5;248m\n");
    }
    if (VCC1V5(on_off)) {
        logprintf("\033[38;5;196mPSU: ERROR: Failed to switch VCC1V5\033[38;5;248m\n");
    }
    if (VCC2V5(on_off)) {
        logprintf("\033[38;5;196mPSU: ERROR: Failed to switch VCC2V5\033[38;5;248m\n");
    }
    if (VCC3V3(on_off)) {
        logprintf("\033[38;5;196mPSU: ERROR: Failed to switch VCC3V3\033[38;5;248m\n");
    }
    // The 5 V rail feeds USB, which may stay powered in standby.
    if (VCC5V0(on_off || usbaliveinstandby)) {
        logprintf("\033[38;5;196mPSU: ERROR: Failed to switch VCC5V0\033[38;5;248m\n");
    }
    if (on_off) {
        for (int page = 0; page < kPages; ++page) {
            if (waits_for_power_good(page)) {
                wait_power_good(static_cast<uint8_t>(page));
            }
        }
    }
    return kNotDetected;
}
