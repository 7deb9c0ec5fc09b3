// Reader of fixed-width upper-case hexadecimal fields in replies and scripts. Each call
// works on a text pointer and the count of characters left, advances both, and returns
// CMD_OK or the reason it stopped (CMD_LENGTH: text ran out, CMD_HEX: not a digit).
// Every byte pair may be preceded by blanks, so "12 34" reads as the 16-bit 0x1234.
#pragma once

#include <cstdint>

#include "common/cmd_results.h"

cmd_results_t get_next(const char** text, int* length, char* c);
cmd_results_t skip_whitespace(const char** text, int* length);
cmd_results_t get_hex4(const char** text, int* length, uint8_t* value);
cmd_results_t get_hex8(const char** text, int* length, uint8_t* value);
cmd_results_t get_hex16(const char** text, int* length, uint16_t* value);
cmd_results_t get_hex24(const char** text, int* length, uint32_t* value);
cmd_results_t get_hex32(const char** text, int* length, uint32_t* value);
