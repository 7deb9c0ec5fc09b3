#include "sim/chips/FrontPanel.h"

#include <algorithm>

#include "sim/board/Json.h"

namespace sim {

namespace {

constexpr uint8_t kPowerOnOutput = 0xFF;
constexpr uint8_t kPowerOnConfig = 0xFF; // every pin an input
// Button b pulls pin (5 - b) low: BTN1 is the top pin, the power button pin 0.
constexpr int kTopButtonPin = 5;

const char* const kButtonNames[FrontPanelExpander::kButtons] = {"BTN1", "BTN2", "BTN3",
                                                                "BTN4", "BTN5", "POWER"};

const char* kHelp = "button BTN1..BTN5|POWER[+...] press|release  front-panel buttons; a chord such as\n"
                    "    BTN4+BTN5+POWER changes together, in one poll of the panel\n";

// The buttons of "BTN1+BTN2+BTN3" as a mask, or 0 when a name is unknown.
uint8_t chordNamed(const std::string& names) {
    uint8_t mask = 0;
    size_t start = 0;
    while (start <= names.size()) {
        const size_t end = std::min(names.find('+', start), names.size());
        const int button = FrontPanelExpander::buttonNamed(names.substr(start, end - start));
        if (button < 0) {
            return 0;
        }
        mask = static_cast<uint8_t>(mask | (1u << button));
        start = end + 1;
    }
    return mask;
}

} // namespace

FrontPanelExpander::FrontPanelExpander(Board& board, I2cBus& bus)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{"front-panel",
                                            kChannel,
                                            {kAddress},
                                            1,
                                            sizeof(State),
                                            {{0, kOutput, kPowerOnOutput}, {0, kConfig, kPowerOnConfig}}}) {}

uint8_t FrontPanelExpander::pinOf(int button) {
    return static_cast<uint8_t>(1u << (kTopButtonPin - button));
}

// Input pins read the pull-ups, low under a pressed button; output pins read back what
// they drive; the polarity register inverts the result.
uint8_t FrontPanelExpander::pins() const {
    uint8_t external = 0xFF;
    for (int b = 0; b < kButtons; ++b) {
        if (extra<State>().pressed & (1u << b)) {
            external &= static_cast<uint8_t>(~pinOf(b));
        }
    }
    const auto config = static_cast<uint8_t>(cell(0, kConfig));
    const auto output = static_cast<uint8_t>(cell(0, kOutput));
    return static_cast<uint8_t>((external & config) | (output & ~config));
}

uint16_t FrontPanelExpander::readValue(int bank, uint8_t reg) {
    if (reg == kInput) {
        return static_cast<uint8_t>(pins() ^ cell(bank, kPolarity));
    }
    return cell(bank, reg);
}

void FrontPanelExpander::press(int button) {
    if (button >= 0 && button < kButtons) {
        auto held = lock();
        extra<State>().pressed |= static_cast<uint8_t>(1u << button);
    }
}

void FrontPanelExpander::release(int button) {
    if (button >= 0 && button < kButtons) {
        auto held = lock();
        extra<State>().pressed &= static_cast<uint8_t>(~(1u << button));
    }
}

void FrontPanelExpander::hold(uint8_t mask) {
    auto held = lock();
    extra<State>().pressed = static_cast<uint8_t>(mask & ((1u << kButtons) - 1));
}

uint8_t FrontPanelExpander::held() const {
    auto held = lock();
    return extra<State>().pressed;
}

int FrontPanelExpander::ledCode() const {
    auto held = lock();
    if (cell(0, kConfig) & kLedPins) {
        return -1;
    }
    return (cell(0, kOutput) & kLedPins) >> kLedShift;
}

int FrontPanelExpander::buttonNamed(const std::string& name) {
    if (name == "BTN6") {
        return kPowerButton;
    }
    for (int b = 0; b < kButtons; ++b) {
        if (name == kButtonNames[b]) {
            return b;
        }
    }
    return -1;
}

void FrontPanelExpander::addStatus(JsonObject& status) const {
    JsonObject o;
    JsonArray pressed;
    const uint8_t mask = held();
    for (int b = 0; b < kButtons; ++b) {
        if (mask & (1u << b)) {
            pressed.addRaw(jsonString(kButtonNames[b]));
        }
    }
    o.addRaw("pressed", pressed.str());
    o.add("led", ledCode());
    status.addRaw("front_panel", o.str());
}

std::string FrontPanelExpander::help() const {
    return kHelp;
}

std::optional<CommandResult> FrontPanelExpander::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "button") {
        return std::nullopt;
    }
    const uint8_t chord = args.size() == 3 ? chordNamed(args[1]) : 0;
    if (chord == 0 || (args[2] != "press" && args[2] != "release")) {
        return CommandResult{false, std::string("usage: ") + kHelp};
    }
    // One change of the held set, so the panel's poll never sees half a chord.
    {
        auto locked = lock();
        uint8_t& pressed = extra<State>().pressed;
        pressed = static_cast<uint8_t>(args[2] == "press" ? pressed | chord : pressed & ~chord);
    }
    return CommandResult{true, args[1] + (args[2] == "press" ? " pressed\n" : " released\n")};
}

} // namespace sim
