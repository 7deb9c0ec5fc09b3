// ostrix-check: what a service engineer asks of a board before the controller runs. It
// lists the device nodes the programs open, probes the I2C bus switch and every chip of the
// board's parts list on its switch channel, reads the display FPGA's version over SPI, the
// configuration flash's identification and looks for the camera board's serial link, and
// prints one table. It reads only; the one write is the bus switch's channel select, without
// which no chip behind the switch can be reached (the switch's previous channel is put back).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace boardcheck {

struct Row {
    std::string kind;  // node, switch, chip, fpga, flash, camera
    std::string part;  // what was looked for
    std::string where; // node path or bus channel and address
    bool ok = false;
    std::string detail; // revision, identification, owner and mode, or why it failed
};

// Runs every check on the board of the platform in use.
std::vector<Row> checkBoard();

// Prints the table; the exit status: 0 when every row is ok, 1 otherwise.
int printTable(const std::vector<Row>& rows, FILE* out);

// checkBoard() then printTable().
int run(FILE* out);

} // namespace boardcheck
