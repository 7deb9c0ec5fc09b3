#include "controller/devices/PMBus.h"

#include "common/logfile.h"
#include "controller/core/pin_nums.h"
#include "controller/devices/hardware.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"

namespace PMBus {

namespace {

// Half a bit period, and the shorter settling time after SDA changes with SCL low.
constexpr unsigned kDelayUs = 5;
constexpr unsigned kClockLowUs = 4;
constexpr int kStartSettleDelays = 3;
constexpr uint8_t kTopBit = 0x80;
constexpr uint8_t kReadBit = 0x01;
constexpr uint8_t ACK = 1;
constexpr uint8_t NACK = 0;

thread_local int quietDepth = 0;

void note(const char* text) {
    if (quietDepth == 0) {
        logprintf("%s", text);
    }
}

void release(int pin) {
    pinMode(pin, INPUT);
}

void pull_low(int pin) {
    pinMode(pin, OUTPUT);
}

void release_both() {
    release(VB_SDA_Pin);
    release(VB_SCL_Pin);
}

uint8_t write_address(uint8_t addr) {
    return static_cast<uint8_t>(addr << 1);
}

uint8_t read_address(uint8_t addr) {
    return static_cast<uint8_t>(addr << 1 | kReadBit);
}

} // namespace

void PMBUS_Delay() {
    busy_wait_us(kDelayUs);
}

// Fails, with both lines released, when another device holds either line low.
uint8_t PMBUS_start() {
    if (digitalRead(VB_SDA_Pin) == LOW) {
        release_both();
        return 0;
    }
    pull_low(VB_SDA_Pin);
    PMBUS_Delay();
    if (digitalRead(VB_SCL_Pin) == LOW) {
        release_both();
        return 0;
    }
    pull_low(VB_SCL_Pin);
    busy_wait_us(kClockLowUs);
    for (int i = 0; i < kStartSettleDelays; ++i) {
        PMBUS_Delay();
    }
    return 1;
}

uint8_t PMBUS_restart() {
    release(VB_SDA_Pin);
    PMBUS_Delay();
    release(VB_SCL_Pin);
    PMBUS_Delay();
    return PMBUS_start();
}

void PMBUS_stop() {
    pull_low(VB_SDA_Pin);
    busy_wait_us(kClockLowUs);
    PMBUS_Delay();
    release(VB_SCL_Pin);
    PMBUS_Delay();
    release(VB_SDA_Pin);
    PMBUS_Delay();
}

// Most significant bit first; each bit is read back while SCL is high, so a line held
// by someone else is seen at once. Returns the slave's acknowledge.
uint8_t PMBUS_txbyte(uint8_t c) {
    for (uint8_t mask = kTopBit; mask != 0; mask >>= 1) {
        const int bit = (c & mask) ? HIGH : LOW;
        if (bit == HIGH) {
            release(VB_SDA_Pin);
        } else {
            pull_low(VB_SDA_Pin);
        }
        PMBUS_Delay();
        release(VB_SCL_Pin);
        PMBUS_Delay();
        if (digitalRead(VB_SDA_Pin) != bit) {
            release_both();
            note("PMB: PMBus contention\n");
            return 0;
        }
        pull_low(VB_SCL_Pin);
        PMBUS_Delay();
    }
    release(VB_SDA_Pin);
    PMBUS_Delay();
    release(VB_SCL_Pin);
    const bool acknowledged = digitalRead(VB_SDA_Pin) == LOW;
    PMBUS_Delay();
    pull_low(VB_SCL_Pin);
    return acknowledged ? 1 : 0;
}

uint8_t PMBUS_rxbyte(uint8_t* c, uint8_t ack) {
    release(VB_SDA_Pin);
    PMBUS_Delay();
    *c = 0;
    for (int bit = 0; bit < 8; ++bit) {
        release(VB_SCL_Pin);
        PMBUS_Delay();
        *c = static_cast<uint8_t>(*c << 1 | (digitalRead(VB_SDA_Pin) == HIGH ? 1 : 0));
        pull_low(VB_SCL_Pin);
        PMBUS_Delay();
    }
    if (ack) {
        pull_low(VB_SDA_Pin);
    } else {
        release(VB_SDA_Pin);
    }
    PMBUS_Delay();
    release(VB_SCL_Pin);
    PMBUS_Delay();
    pull_low(VB_SCL_Pin);
    return 1;
}

uint8_t PMBUS_sendByte(uint8_t addr, uint8_t command) {
    if (!PMBUS_start()) {
        return 0;
    }
    uint8_t result = PMBUS_txbyte(write_address(addr));
    if (result) {
        result = PMBUS_txbyte(command);
    }
    PMBUS_stop();
    return result;
}

uint8_t PMBUS_writeByte(uint8_t addr, uint8_t command, uint8_t data) {
    if (!PMBUS_start()) {
        return 0;
    }
    uint8_t result = PMBUS_txbyte(write_address(addr)) && PMBUS_txbyte(command) ? PMBUS_txbyte(data) : 0;
    PMBUS_stop();
    return result;
}

uint8_t PMBUS_readByte(uint8_t addr, uint8_t command, uint8_t* data) {
    if (!PMBUS_start()) {
        return 0;
    }
    uint8_t result = 0;
    if (PMBUS_txbyte(write_address(addr)) && PMBUS_txbyte(command) && PMBUS_restart() &&
        PMBUS_txbyte(read_address(addr))) {
        result = PMBUS_rxbyte(data, NACK);
    }
    PMBUS_stop();
    return result;
}

// Reports the step that failed; always ends with a stop.
uint8_t PMBUS_readWord(uint8_t addr, uint8_t command, uint16_t* data) {
    note("PMBus_readWord\n");
    uint8_t low = 0, high = 0, result = 0;
    // A failed repeated start is logged with the same line as a failed start, on purpose.
    // NOLINTNEXTLINE(bugprone-branch-clone)
    if (!PMBUS_start()) {
        note("PMB: PMBus Start failed\n");
    } else if (!PMBUS_txbyte(write_address(addr))) {
        note("PMB: PMBus Send Slave Address + Write failed\n");
    } else if (PMBUS_Delay(), !PMBUS_txbyte(command)) { // a pause before the command byte
        note("PMB: PMBus Send Command failed\n");
    } else if (!PMBUS_restart()) {
        note("PMB: PMBus Start failed\n");
    } else if (!PMBUS_txbyte(read_address(addr))) {
        note("PMB: PMBus Send Slave Address + Read failed\n");
    } else if (!PMBUS_rxbyte(&low, ACK)) {
        note("PMB: PMBus Ack first byte failed\n");
    } else {
        result = PMBUS_rxbyte(&high, NACK);
        if (!result) {
            note("PMB: PMBus NACK failed\n");
        }
        *data = static_cast<uint16_t>(low + 256 * high);
    }
    PMBUS_stop();
    return result;
}

QuietReads::QuietReads() {
    ++quietDepth;
}

QuietReads::~QuietReads() {
    --quietDepth;
}

} // namespace PMBus

// ---- the handler's side: the lines are bit-banged under the bus lock ----

void i2c_handler::PMBusModeOn(uint8_t bus) {
    mylock.lock();
    if (select_bus(bus) != 0) {
        logprintferror("I2C: ERROR: PMBusModeOn failed");
    }
    pinModeAlt(VB_SDA_Pin, FSEL_INPT);
    pinModeAlt(VB_SCL_Pin, FSEL_INPT);
    // A pulled-low line is an output at level 0.
    digitalWrite(VB_SDA_Pin, LOW);
    digitalWrite(VB_SCL_Pin, LOW);
}

void i2c_handler::PMBusModeOff() {
    pinModeAlt(VB_SDA_Pin, FSEL_ALT0);
    pinModeAlt(VB_SCL_Pin, FSEL_ALT0);
    mylock.unlock();
}

uint8_t i2c_handler::PMBUS_sendByte(uint8_t bus, uint8_t addr, uint8_t command) {
    PMBusMode mode(*this, bus);
    return PMBus::PMBUS_sendByte(addr, command);
}

uint8_t i2c_handler::PMBUS_readByte(uint8_t bus, uint8_t addr, uint8_t command, uint8_t* data) {
    PMBusMode mode(*this, bus);
    return PMBus::PMBUS_readByte(addr, command, data);
}

uint8_t i2c_handler::PMBUS_writeByte(uint8_t bus, uint8_t addr, uint8_t command, uint8_t data) {
    PMBusMode mode(*this, bus);
    return PMBus::PMBUS_writeByte(addr, command, data);
}

uint8_t i2c_handler::PMBUS_readWord(uint8_t bus, uint8_t addr, uint8_t command, uint16_t* data) {
    PMBusMode mode(*this, bus);
    return PMBus::PMBUS_readWord(addr, command, data);
}
