// spiload: loads a pair of warp tables into one channel's DDR memory of the display FPGA
// through the data-port registers (one explicit address per 128-bit word), or makes one
// 32-bit register transfer. Service work only: the controller must not be using the bus.
#pragma once

#include <cstdint>
#include <string>

#include "controller/fpga/WarpTable.h"

constexpr int SPILOAD_VERSION_MAJOR = 1;
constexpr int SPILOAD_VERSION_MINOR = 7;

constexpr uint32_t LINE_FILE_START_ADDRESS = 0x03000000;
constexpr uint32_t PIXEL_FILE_START_ADDRESS = 0x02000000;

// One table file read and parsed as the controller does; 0, the errno value when the
// file cannot be read, or 1 when it is malformed (nothing is sent then).
int readSpiloadTable(const std::string& filename, int valuebits, WarpTable& table);

// The program: its command line, its output on standard output, its exit status.
int spiload_main(int argc, char** argv);
