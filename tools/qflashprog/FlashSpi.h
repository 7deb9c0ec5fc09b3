// Single-bit SPI (mode 0, most significant bit first) to the configuration flash, bit-banged
// on the GPIO lines while the FPGA is held in configuration reset.
#pragma once

#include <cstddef>
#include <cstdint>

class FlashSpi {
public:
    // A lone instruction.
    void command(uint8_t instruction);
    // An instruction followed by bytes to write.
    void commandWrite(uint8_t instruction, const uint8_t* data, size_t length);
    // An instruction followed by bytes read (0xFF is sent meanwhile).
    void commandRead(uint8_t instruction, uint8_t* data, size_t length);
    // An instruction, a 3-byte address, bytes to write, then bytes to read.
    void commandAddress(uint8_t instruction, uint32_t address, const uint8_t* out, size_t outLength,
                        uint8_t* in, size_t inLength);

private:
    void commandAddressless(uint8_t instruction, const uint8_t* out, size_t outLength, uint8_t* in,
                            size_t inLength);
    void payload(const uint8_t* out, size_t outLength, uint8_t* in, size_t inLength);
    void select();
    void deselect();
    uint8_t transfer(uint8_t byte);
};
