#include "sim/board/CommandArgs.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

bool parseNumber(const std::string& text, long& value) {
    char* end = nullptr;
    value = strtol(text.c_str(), &end, 0);
    return !text.empty() && end && *end == '\0';
}

std::string hexWord(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

} // namespace sim
