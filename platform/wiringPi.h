// The GPIO, SPI and I2C calls of the board, with the wiringPi names and signatures.
// Each call goes to the backend chosen at run time (see platform/platform.h), so device
// code reads the same whether it drives the real board or the simulated one.
#pragma once

#include <cstdint>

// Pin modes, levels and pulls as wiringPi numbers them.
constexpr int INPUT = 0;
constexpr int OUTPUT = 1;
constexpr int LOW = 0;
constexpr int HIGH = 1;
constexpr int PUD_OFF = 0;
constexpr int PUD_DOWN = 1;
constexpr int PUD_UP = 2;

// Function codes of pinModeAlt (the BCM function-select encoding).
constexpr int FSEL_INPT = 0;
constexpr int FSEL_OUTP = 1;
constexpr int FSEL_ALT0 = 4;
constexpr int FSEL_ALT1 = 5;
constexpr int FSEL_ALT2 = 6;
constexpr int FSEL_ALT3 = 7;
constexpr int FSEL_ALT4 = 3;
constexpr int FSEL_ALT5 = 2;

int wiringPiSetupGpio();
void pinMode(int pin, int mode);
void pinModeAlt(int pin, int mode);
void pullUpDnControl(int pin, int pud);
void digitalWrite(int pin, int value);
int digitalRead(int pin);

void delay(unsigned int howLong);
void delayMicroseconds(unsigned int howLong);
unsigned int millis();
unsigned int micros();

int wiringPiSPISetup(int channel, int speed);
int wiringPiSPIDataRW(int channel, unsigned char* data, int len);

// I2C on "/dev/i2c-1": Setup returns a descriptor addressed to the slave, or -1 with errno set.
int wiringPiI2CSetup(int devId);
int wiringPiI2CRead(int fd);
int wiringPiI2CWrite(int fd, int data);
int wiringPiI2CReadReg8(int fd, int reg);
int wiringPiI2CReadReg16(int fd, int reg);
int wiringPiI2CWriteReg8(int fd, int reg, int data);
int wiringPiI2CWriteReg16(int fd, int reg, int data);
