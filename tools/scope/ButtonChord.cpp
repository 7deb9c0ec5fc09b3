#include "tools/scope/ButtonChord.h"

namespace scope {

const PanelButton kPanelButtonTable[kPanelButtons] = {
    {"BTN1", "SELECT"}, {"BTN2", "UP"},    {"BTN3", "DOWN"},
    {"BTN4", "LEFT"},   {"BTN5", "RIGHT"}, {"POWER", "POWER"},
};

namespace {

uint8_t bit(int button) {
    return button >= 0 && button < kPanelButtons ? static_cast<uint8_t>(1u << button) : 0;
}

std::string names(uint8_t mask) {
    std::string text;
    for (int b = 0; b < kPanelButtons; ++b) {
        if (mask & bit(b)) {
            if (!text.empty()) {
                text += '+';
            }
            text += kPanelButtonTable[b].boardName;
        }
    }
    return text;
}

} // namespace

ButtonChord::Change ButtonChord::press(int button, bool latch) {
    const uint8_t b = bit(button);
    Change change;
    if (latch && (latched_ & b)) {
        latched_ &= ~b;
        held_ &= ~b;
        change.up = b;
        return change;
    }
    if (latch) {
        latched_ |= b;
    }
    change.down = b & ~held_;
    held_ |= b;
    return change;
}

ButtonChord::Change ButtonChord::release(int button, bool latch) {
    const uint8_t b = bit(button);
    Change change;
    if (latch || (latched_ & b)) {
        return change; // a latched button stays down
    }
    change.up = b & held_;
    held_ &= ~b;
    return change;
}

ButtonChord::Change ButtonChord::letGoAll() {
    Change change;
    change.up = held_;
    held_ = 0;
    latched_ = 0;
    return change;
}

std::vector<std::vector<std::string>> buttonCommands(const ButtonChord::Change& change) {
    std::vector<std::vector<std::string>> commands;
    if (change.up) {
        commands.push_back({"button", names(change.up), "release"});
    }
    if (change.down) {
        commands.push_back({"button", names(change.down), "press"});
    }
    return commands;
}

} // namespace scope
