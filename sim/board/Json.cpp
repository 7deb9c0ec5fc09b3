#include "sim/board/Json.h"

#include <cstdio>

namespace sim {

std::string jsonString(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char b[8];
                snprintf(b, sizeof b, "\\u%04x", c);
                out += b;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::add(std::string_view key, double value) {
    char b[32];
    snprintf(b, sizeof b, "%.6g", value);
    return addRaw(key, b);
}

JsonObject& JsonObject::addRaw(std::string_view key, std::string_view json) {
    if (!body_.empty()) {
        body_ += ",";
    }
    body_ += jsonString(key) + ":" + std::string(json);
    return *this;
}

JsonArray& JsonArray::addRaw(std::string_view json) {
    if (!body_.empty()) {
        body_ += ",";
    }
    body_ += json;
    return *this;
}

} // namespace sim
