// PMBus transfers with the LTC2977, bit-banged on SDA (GPIO 2) and SCL (GPIO 3): lines
// pulled low by making the pin an output at level 0 and released by making it an input,
// half-bit timing by a busy wait on the monotonic clock, no clock stretching. The caller owns the
// lines (i2c_handler::PMBusModeOn). Addresses are 7-bit; each transfer returns nonzero
// when every byte was acknowledged and the transfer completed.
#pragma once

#include <cstdint>

namespace PMBus {

uint8_t PMBUS_sendByte(uint8_t addr, uint8_t command);
uint8_t PMBUS_writeByte(uint8_t addr, uint8_t command, uint8_t data);
uint8_t PMBUS_readByte(uint8_t addr, uint8_t command, uint8_t* data);
// The word as PMBus sends it, low byte first.
uint8_t PMBUS_readWord(uint8_t addr, uint8_t command, uint16_t* data);

// While one is alive on a thread, that thread's word reads log nothing: a wait that
// polls a status word for a second would otherwise log every read and its failure.
class QuietReads {
public:
    QuietReads();
    ~QuietReads();
    QuietReads(const QuietReads&) = delete;
    QuietReads& operator=(const QuietReads&) = delete;
};

// The conditions and bytes the transfers are made of.
uint8_t PMBUS_start();
uint8_t PMBUS_restart();
void PMBUS_stop();
uint8_t PMBUS_txbyte(uint8_t c);
uint8_t PMBUS_rxbyte(uint8_t* c, uint8_t ack);
void PMBUS_Delay();

} // namespace PMBus
