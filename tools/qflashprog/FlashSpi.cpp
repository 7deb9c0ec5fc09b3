#include "tools/qflashprog/FlashSpi.h"

#include "controller/core/pin_nums.h"
#include "platform/wiringPi.h"

namespace {

constexpr int BYTE_BITS = 8;
constexpr uint8_t TOP_BIT = 0x80;
constexpr uint8_t FILL_BYTE = 0xFF;
constexpr int ADDRESS_BYTES = 3;

// The short delay between line changes: one dummy GPIO read.
inline void shortDelay() {
    (void)digitalRead(CFG_ASD1_Pin);
}

} // namespace

void FlashSpi::select() {
    digitalWrite(CFG_ASD2_Pin, HIGH);
    shortDelay();
    digitalWrite(CFG_nCSO_Pin, LOW);
    shortDelay();
}

void FlashSpi::deselect() {
    shortDelay();
    digitalWrite(CFG_nCSO_Pin, HIGH);
    shortDelay();
    digitalWrite(CFG_ASD2_Pin, LOW);
}

uint8_t FlashSpi::transfer(uint8_t byte) {
    uint8_t received = 0;
    for (int i = 0; i < BYTE_BITS; ++i) {
        digitalWrite(CFG_ASD0_Pin, (byte & (TOP_BIT >> i)) ? HIGH : LOW);
        shortDelay();
        digitalWrite(CFG_DCLK_Pin, HIGH);
        received = static_cast<uint8_t>((received << 1) | (digitalRead(CFG_ASD1_Pin) ? 1 : 0));
        digitalWrite(CFG_DCLK_Pin, LOW);
        shortDelay();
    }
    return received;
}

void FlashSpi::command(uint8_t instruction) {
    commandAddressless(instruction, nullptr, 0, nullptr, 0);
}

void FlashSpi::commandWrite(uint8_t instruction, const uint8_t* data, size_t length) {
    commandAddressless(instruction, data, length, nullptr, 0);
}

void FlashSpi::commandRead(uint8_t instruction, uint8_t* data, size_t length) {
    commandAddressless(instruction, nullptr, 0, data, length);
}

void FlashSpi::commandAddressless(uint8_t instruction, const uint8_t* out, size_t outLength, uint8_t* in,
                                  size_t inLength) {
    select();
    transfer(instruction);
    payload(out, outLength, in, inLength);
    deselect();
}

void FlashSpi::commandAddress(uint8_t instruction, uint32_t address, const uint8_t* out, size_t outLength,
                              uint8_t* in, size_t inLength) {
    select();
    transfer(instruction);
    for (int i = ADDRESS_BYTES - 1; i >= 0; --i) {
        transfer(static_cast<uint8_t>(address >> (BYTE_BITS * i)));
    }
    payload(out, outLength, in, inLength);
    deselect();
}

void FlashSpi::payload(const uint8_t* out, size_t outLength, uint8_t* in, size_t inLength) {
    for (size_t i = 0; i < outLength; ++i) {
        transfer(out[i]);
    }
    for (size_t i = 0; i < inLength; ++i) {
        in[i] = transfer(FILL_BYTE);
    }
}
