#include "sim/chips/ClockGenerator.h"

#include <cstdio>

#include "sim/board/Json.h"
#include "sim/board/PinBank.h"

namespace sim {

namespace {
constexpr int kBitsPerWord = 32;
} // namespace

ClockGenerator::ClockGenerator(Board& board, I2cBus& bus)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{"clock-generator", kChannel, {kAddress}, 1, sizeof(State), {}}) {}

void ClockGenerator::written(int, uint8_t reg, uint16_t) {
    State& s = extra<State>();
    s.writes++;
    s.writtenMask[reg / kBitsPerWord] |= 1u << (reg % kBitsPerWord);
}

std::map<uint8_t, uint8_t> ClockGenerator::loadedTable() const {
    std::map<uint8_t, uint8_t> table;
    auto held = lock();
    const State& s = extra<State>();
    for (int reg = 0; reg < kRegisters; ++reg) {
        if (s.writtenMask[reg / kBitsPerWord] & (1u << (reg % kBitsPerWord))) {
            table[static_cast<uint8_t>(reg)] = static_cast<uint8_t>(cell(0, static_cast<uint8_t>(reg)));
        }
    }
    return table;
}

uint32_t ClockGenerator::writes() const {
    auto held = lock();
    return extra<State>().writes;
}

bool ClockGenerator::outputsEnabled() const {
    return board().pins().read(kOutputEnablePin) == 0;
}

void ClockGenerator::addStatus(JsonObject& status) const {
    JsonObject table;
    for (const auto& [reg, value] : loadedTable()) {
        char key[8], text[8];
        snprintf(key, sizeof key, "0x%02X", reg);
        snprintf(text, sizeof text, "0x%02X", value);
        table.add(key, text);
    }
    JsonObject o;
    o.add("writes", static_cast<unsigned>(writes()))
        .add("entries", static_cast<unsigned>(loadedTable().size()))
        .add("outputs_enabled", outputsEnabled())
        .addRaw("table", table.str());
    status.addRaw("clocks", o.str());
}

} // namespace sim
