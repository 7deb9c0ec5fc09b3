// The clock generator at 0x60 on I2C bus 0, source of the board's video and system
// clocks. It holds a register table (built in, or loaded from a register script exported
// by the chip's configuration tool) and writes it with the I2C handler's table writer.
// GPIO 15 (`CLK_OEB_Pin`) enables its outputs, low active; the controller core drives it.
// Log prefix "CK: ".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controller/devices/i2c.h"

constexpr uint8_t I2C_BASE_SI5351 = 0x60;
constexpr int MAX_ENTRIES = 100;
// Lines before the first entry of a script.
constexpr int CLOCK_SCRIPT_HEADER_LINES = 9;

extern const i2c_register_entry SI5351_REGISTERS[];
extern const int SI5351_REGISTER_COUNT;

// Reads the entries of a clock script ("0x%04X,0x%02X" per line after the header) into
// `entries`. 0, or -1 after logging the line that is not an entry (a blank one, a
// register above 0xFF, one entry too many) or an empty script; `name` is for the log.
int read_clock_script(std::string_view text, const std::string& name,
                      std::vector<i2c_register_entry>& entries);

class clocks {
public:
    // `i2c` is the controller's I2C handler; the built-in table is loaded.
    clocks(i2c_handler* i2c, uint8_t bus);

    // Loads a script and writes it: the result of configure_clocks(), the errno of a
    // file that cannot be opened, or -1 for a malformed script. A script that is not
    // taken leaves the previous table loaded, and the chip untouched.
    int parse_clock_script(const std::string& scriptName);
    // Writes the loaded table; 0 on success.
    int configure_clocks();

    int entries() const { return SI5351_ENTRIES; }
    const i2c_register_entry* table() const { return SI5351_REGISTERS_SET; }

private:
    i2c_handler* i2c;
    uint8_t my_i2c_bus;
    i2c_register_entry SI5351_REGISTERS_SET[MAX_ENTRIES];
    int SI5351_ENTRIES = 0;
};
