// Raw I2C writes with SDA (GPIO 2) and SCL (GPIO 3) toggled in software, for transfers
// the Pi's I2C controller cannot make in one go (long writes without register address).
// A line is pulled low by making its pin an output at level 0 and released (pulled up by
// the board) by making it an input. No lock is taken here: callers hold the bus lock.
#pragma once

#include <cstdint>

// Takes both lines from the I2C controller, released, with output levels 0.
void SetBitBlitMode();
// Hands both lines back to the I2C controller (SDA first, then SCL).
void ClrBitBlitMode();
// Ends with SCL low for a half period, ready for the first bit.
void SetI2CStartCondition();
// Sends whole bytes (the bit length rounded up), checking each byte's acknowledge;
// 0 when all were acknowledged, -1 at the first byte that was not (the rest unsent).
int SendBytesAndCheckACK(int lengthInBits, uint8_t* bytes);
// Busy wait of n half clock periods of the raw writes (MYSLEEP_UNIT_US each).
void mysleep(int n);

// Bit-banged clock timing is measured on the monotonic clock, not counted in loop
// iterations, so the bus rate does not follow the processor's speed: a fast core must not
// clock the chips past what they accept (standard-mode I2C: SCL high at least 4.0 us,
// low at least 4.7 us). A sleep would be far too coarse, hence a busy wait.
constexpr unsigned MYSLEEP_UNIT_US = 5;
void busy_wait_us(unsigned microseconds);
