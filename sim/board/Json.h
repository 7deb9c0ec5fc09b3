// Just enough JSON writing for the board's status reports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

std::string jsonString(std::string_view s);

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value) { return addRaw(key, jsonString(value)); }
    JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, bool value) { return addRaw(key, value ? "true" : "false"); }
    JsonObject& add(std::string_view key, int value) { return addRaw(key, std::to_string(value)); }
    JsonObject& add(std::string_view key, unsigned value) { return addRaw(key, std::to_string(value)); }
    JsonObject& add(std::string_view key, int64_t value) { return addRaw(key, std::to_string(value)); }
    JsonObject& add(std::string_view key, uint64_t value) { return addRaw(key, std::to_string(value)); }
    JsonObject& add(std::string_view key, double value);
    JsonObject& addRaw(std::string_view key, std::string_view json);
    std::string str() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

class JsonArray {
public:
    JsonArray& addRaw(std::string_view json);
    JsonArray& add(int value) { return addRaw(std::to_string(value)); }
    std::string str() const { return "[" + body_ + "]"; }

private:
    std::string body_;
};

} // namespace sim
