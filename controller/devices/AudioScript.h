// The audio codec's register lists: the built-in initialisation table and the reader of
// register script files. A register is named by its number page x 128 + register.
//
// Script text: "#" comments to the end of the line; "w XX XX XX" (device address,
// register, value; the address is not used) writes the value to the register of the
// script's current page, except that register 0 of any page selects the script's page;
// "> XX" writes the value to the register after the one written last. Blanks, tabs and
// line ends separate commands.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

struct audio_register_entry {
    uint16_t reg;   // page x 128 + register
    uint16_t value; // a register pair's 12-bit value when width is 2
    uint8_t width;  // 1, or 2 for a register pair (see audio::write_reg16)
};

// The most writes a script may hold: far more than the codec has registers worth
// setting, and a bound on what a damaged file can make the controller do.
constexpr size_t MAX_AUDIO_SCRIPT_ENTRIES = 4096;

// The codec's registers reach up to page 255.
constexpr int AIC31XX_PAGE_SIZE = 128;
constexpr int AIC31XX_REGISTERS = 256 * AIC31XX_PAGE_SIZE;

extern const std::vector<audio_register_entry> audio_initialisation;

// Reads a whole script into `table` (emptied first). On a malformed script it logs the
// reason and returns false; `table` then holds nothing the caller should use.
bool parse_audio_script(std::string_view text, std::vector<audio_register_entry>& table);
