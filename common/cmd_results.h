// Result of every camera board operation and of the hexadecimal field reader.
#pragma once

typedef enum cmd_results {
    CMD_OK = 0,
    CMD_OK_QUIET = 1,
    CMD_BAD = 2,
    CMD_FAIL = 3,
    CMD_LENGTH = 4,
    CMD_FLASH_SELECT = 5,
    CMD_FLASH_WRITE = 6,
    CMD_HEX = 7,
    CMD_FAILED = 8,
    CMD_TIMEOUT = 9,
    CMD_INVALID_PARAM = 10,
    CMD_OUTOFMEMORY = 11,
    CMD_MISMATCH = 12,
    CMD_FILEERR = 13,
    CMD_EXCEPTION = 14,
    CMD_UNKNOWN = 15,
} cmd_results_t;
