#include "common/get_hex.h"

namespace {

constexpr int BITS_PER_DIGIT = 4;
constexpr int BITS_PER_BYTE = 8;
constexpr uint8_t DECIMAL_DIGITS = 10;

} // namespace

cmd_results_t get_next(const char** text, int* length, char* c) {
    if (*length <= 0) {
        return CMD_LENGTH;
    }
    *c = **text;
    ++*text;
    --*length;
    return CMD_OK;
}

// Only the space character counts as a blank.
cmd_results_t skip_whitespace(const char** text, int* length) {
    while (*length > 0 && **text == ' ') {
        ++*text;
        --*length;
    }
    return CMD_OK;
}

cmd_results_t get_hex4(const char** text, int* length, uint8_t* value) {
    char c = 0;
    cmd_results_t res = get_next(text, length, &c);
    if (res != CMD_OK) {
        return res;
    }
    if (c >= '0' && c <= '9') {
        *value = static_cast<uint8_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
        *value = static_cast<uint8_t>(c - 'A' + DECIMAL_DIGITS);
    } else {
        return CMD_HEX;
    }
    return CMD_OK;
}

cmd_results_t get_hex8(const char** text, int* length, uint8_t* value) {
    skip_whitespace(text, length);
    uint8_t high = 0;
    uint8_t low = 0;
    cmd_results_t res = get_hex4(text, length, &high);
    if (res == CMD_OK) {
        res = get_hex4(text, length, &low);
    }
    if (res == CMD_OK) {
        *value = static_cast<uint8_t>(high << BITS_PER_DIGIT | low);
    }
    return res;
}

namespace {

// Reads `bytes` byte pairs, most significant first, each after optional blanks.
template <class T> cmd_results_t get_hex_bytes(const char** text, int* length, int bytes, T* value) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) {
        uint8_t byte = 0;
        cmd_results_t res = get_hex8(text, length, &byte);
        if (res != CMD_OK) {
            return res;
        }
        v = v << BITS_PER_BYTE | byte;
    }
    *value = static_cast<T>(v);
    return CMD_OK;
}

} // namespace

cmd_results_t get_hex16(const char** text, int* length, uint16_t* value) {
    return get_hex_bytes(text, length, 2, value);
}

cmd_results_t get_hex24(const char** text, int* length, uint32_t* value) {
    return get_hex_bytes(text, length, 3, value);
}

cmd_results_t get_hex32(const char** text, int* length, uint32_t* value) {
    return get_hex_bytes(text, length, 4, value);
}
