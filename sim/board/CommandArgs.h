// Reading the numbers of `ostrix-sim` commands and writing register values in the status,
// shared by the chip models.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// A whole argument as a number, in C notation (decimal, 0x hex or 0 octal); false when any
// of it is not part of the number.
bool parseNumber(const std::string& text, long& value);

// A 32-bit register value as the status shows it, "0x" and eight hex digits.
std::string hexWord(uint32_t value);

} // namespace sim
