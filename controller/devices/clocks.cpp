#include "controller/devices/clocks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/logfile.h"
#include "controller/core/devices.h"

std::unique_ptr<clocks> clock_generator;

const i2c_register_entry SI5351_REGISTERS[] = {
    {0x60, 0x02, 0x53}, {0x60, 0x03, 0x00}, {0x60, 0x07, 0x01}, {0x60, 0x0F, 0x00}, {0x60, 0x10, 0x8C},
    {0x60, 0x11, 0x8C}, {0x60, 0x12, 0x0F}, {0x60, 0x13, 0x8C}, {0x60, 0x14, 0x0F}, {0x60, 0x15, 0x8C},
    {0x60, 0x16, 0x0F}, {0x60, 0x17, 0x0F}, {0x60, 0x1A, 0x00}, {0x60, 0x1B, 0x01}, {0x60, 0x1C, 0x00},
    {0x60, 0x1D, 0x10}, {0x60, 0x1E, 0x00}, {0x60, 0x1F, 0x00}, {0x60, 0x20, 0x00}, {0x60, 0x21, 0x00},
    {0x60, 0x3A, 0x00}, {0x60, 0x3B, 0x4D}, {0x60, 0x3C, 0x00}, {0x60, 0x3D, 0x09}, {0x60, 0x3E, 0xB0},
    {0x60, 0x3F, 0x00}, {0x60, 0x40, 0x00}, {0x60, 0x41, 0x10}, {0x60, 0x4A, 0x00}, {0x60, 0x4B, 0x4D},
    {0x60, 0x4C, 0x00}, {0x60, 0x4D, 0x09}, {0x60, 0x4E, 0xB0}, {0x60, 0x4F, 0x00}, {0x60, 0x50, 0x00},
    {0x60, 0x51, 0x10}, {0x60, 0x5A, 0x12}, {0x60, 0x5B, 0x12}, {0x60, 0x95, 0x00}, {0x60, 0x96, 0x00},
    {0x60, 0x97, 0x00}, {0x60, 0x98, 0x00}, {0x60, 0x99, 0x00}, {0x60, 0x9A, 0x00}, {0x60, 0x9B, 0x00},
    {0x60, 0xA2, 0x00}, {0x60, 0xA3, 0x00}, {0x60, 0xA4, 0x00}, {0x60, 0xB7, 0x92},
};
const int SI5351_REGISTER_COUNT = static_cast<int>(sizeof SI5351_REGISTERS / sizeof SI5351_REGISTERS[0]);

namespace {

constexpr int kRegisterDigits = 4;
constexpr int kValueDigits = 2;
constexpr unsigned kMaxRegister = 0xFF;
// A script of 100 entries is a few kilobytes; a file far larger is not one.
constexpr long kMaxScriptBytes = 1 << 20;

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// "0x" and one to `digits` hexadecimal digits, as the script's number fields are read.
bool hexField(std::string_view& s, int digits, unsigned* value) {
    if (s.size() < 2 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
        return false;
    }
    s.remove_prefix(2);
    int n = 0;
    unsigned v = 0;
    while (n < digits && !s.empty() && hexDigit(s.front()) >= 0) {
        v = v << 4 | static_cast<unsigned>(hexDigit(s.front()));
        s.remove_prefix(1);
        ++n;
    }
    *value = v;
    return n > 0;
}

// One entry line: register, comma, value, and nothing after it but blanks.
bool entryLine(std::string_view line, unsigned* reg, unsigned* value) {
    if (!hexField(line, kRegisterDigits, reg) || line.empty() || line.front() != ',') {
        return false;
    }
    line.remove_prefix(1);
    if (!hexField(line, kValueDigits, value)) {
        return false;
    }
    for (char c : line) {
        if (c != ' ' && c != '\t' && c != '\r') {
            return false;
        }
    }
    return *reg <= kMaxRegister;
}

} // namespace

int read_clock_script(std::string_view text, const std::string& name,
                      std::vector<i2c_register_entry>& entries) {
    entries.clear();
    int line = 0;
    int entry = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view current = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line++ < CLOCK_SCRIPT_HEADER_LINES) {
            continue;
        }
        unsigned reg = 0, value = 0;
        if (entry >= MAX_ENTRIES || !entryLine(current, &reg, &value)) {
            logprintf("\033[38;5;196mERROR: Failed to read Clock Script %s at line %d\033[38;5;248m\n",
                      name.c_str(), entry);
            return -1;
        }
        entries.push_back({I2C_BASE_SI5351, static_cast<uint8_t>(reg), static_cast<uint8_t>(value)});
        ++entry;
    }
    // A script that ends in its header would leave the clocks without any setting.
    if (entries.empty()) {
        logprintf("\033[38;5;196mERROR: Failed to read Clock Script %s at line %d\033[38;5;248m\n",
                  name.c_str(), entry);
        return -1;
    }
    return 0;
}

clocks::clocks(i2c_handler* i2c_, uint8_t bus) : i2c(i2c_), my_i2c_bus(bus) {
    std::memcpy(SI5351_REGISTERS_SET, SI5351_REGISTERS, sizeof SI5351_REGISTERS);
    SI5351_ENTRIES = SI5351_REGISTER_COUNT;
}

int clocks::parse_clock_script(const std::string& scriptName) {
    logprintf("CK: Parsing Clock Script '%s'\n", scriptName.c_str());
    std::unique_ptr<FILE, FileCloser> file(fopen(scriptName.c_str(), "rb"));
    if (!file) {
        const int error = errno != 0 ? errno : ENOENT;
        logprintf("\033[38;5;196mERROR: file not found\033[38;5;248m\n");
        return error;
    }
    std::string text;
    for (int c = fgetc(file.get()); c != EOF; c = fgetc(file.get())) {
        if (static_cast<long>(text.size()) >= kMaxScriptBytes) {
            logprintf("\033[38;5;196mERROR: Failed to read Clock Script %s at line %d\033[38;5;248m\n",
                      scriptName.c_str(), MAX_ENTRIES);
            return -1;
        }
        text.push_back(static_cast<char>(c));
    }
    file.reset();
    std::vector<i2c_register_entry> entries;
    if (read_clock_script(text, scriptName, entries) != 0) {
        return -1;
    }
    std::memcpy(SI5351_REGISTERS_SET, entries.data(), entries.size() * sizeof(i2c_register_entry));
    SI5351_ENTRIES = static_cast<int>(entries.size());
    logprintf("CK: %d config entries\n", SI5351_ENTRIES);
    logprintf("CK: Parsing Clock Script completed.\n");
    return configure_clocks();
}

int clocks::configure_clocks() {
    logprintf("CK: Config Clocks\n");
    if (!i2c || i2c->register_device(my_i2c_bus, I2C_BASE_SI5351, "clocks", "configure_clocks") < 0) {
        logprintf("\033[38;5;196mCLK: ERROR failed to register I2C device\033[38;5;248m\n");
        return -1;
    }
    return i2c->configure_i2c_device(my_i2c_bus, SI5351_REGISTERS_SET, static_cast<uint16_t>(SI5351_ENTRIES));
}
