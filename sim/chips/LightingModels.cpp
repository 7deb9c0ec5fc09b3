#include "sim/chips/LightingModels.h"

#include "sim/board/Json.h"
#include "sim/board/PinBank.h"

namespace sim {

namespace {

constexpr uint8_t kCommandWriteInput = 0x0;
constexpr uint8_t kCommandUpdate = 0x1;
constexpr uint8_t kCommandWriteInputUpdateAll = 0x2;
constexpr uint8_t kCommandWriteUpdate = 0x3;
constexpr uint8_t kCommandPowerDown = 0x4;
constexpr int kCommandShift = 4;
constexpr uint8_t kNibble = 0x0F;
constexpr int kCodeShift = 4; // 12-bit codes are left-justified
constexpr uint8_t kPowerOnOutput = 0xFF;
constexpr uint8_t kPowerOnConfig = 0xFF; // every pin an input
constexpr uint8_t kLightMask = 0x3F;

const char* const kLightNames[LightingExpander::kLightChannels] = {"ring_top",  "ring_right", "ring_bottom",
                                                                   "ring_left", "auxiliary",  "substage"};

const char* kHelp = "lighting open-led substage|ring on|off  an open LED string on that input\n";

} // namespace

Ltc2625::Ltc2625(Board& board, I2cBus& bus)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{"lighting-dac", kChannel, {kAddress}, 1, sizeof(State), {}}) {}

// The word arrives as the SMBus handler stores it, low byte first; the chip takes the
// first byte as the most significant one.
void Ltc2625::written(int, uint8_t reg, uint16_t value) {
    State& s = extra<State>();
    s.writes++;
    const uint8_t command = reg >> kCommandShift;
    const uint8_t channel = reg & kNibble;
    const auto wire = static_cast<uint16_t>(value << 8 | value >> 8);
    const auto code = static_cast<uint16_t>(wire >> kCodeShift);
    for (int d = 0; d < kDacs; ++d) {
        const bool selected = channel == kAllDacs || channel == d;
        const auto bit = static_cast<uint8_t>(1u << d);
        switch (command) {
        case kCommandWriteInput:
            if (selected) {
                s.input[d] = code;
            }
            break;
        case kCommandUpdate:
            if (selected) {
                s.dac[d] = s.input[d];
                s.poweredDown &= static_cast<uint8_t>(~bit);
            }
            break;
        case kCommandWriteInputUpdateAll:
            if (selected) {
                s.input[d] = code;
            }
            s.dac[d] = s.input[d];
            s.poweredDown &= static_cast<uint8_t>(~bit);
            break;
        case kCommandWriteUpdate:
            if (selected) {
                s.input[d] = s.dac[d] = code;
                s.poweredDown &= static_cast<uint8_t>(~bit);
            }
            break;
        case kCommandPowerDown:
            if (selected) {
                s.poweredDown |= bit;
            }
            break;
        default: // no operation
            break;
        }
    }
}

uint16_t Ltc2625::code(int dac) const {
    auto held = lock();
    return dac >= 0 && dac < kDacs && !(extra<State>().poweredDown & (1u << dac)) ? extra<State>().dac[dac]
                                                                                  : 0;
}

uint16_t Ltc2625::inputCode(int dac) const {
    auto held = lock();
    return dac >= 0 && dac < kDacs ? extra<State>().input[dac] : 0;
}

bool Ltc2625::poweredDown(int dac) const {
    auto held = lock();
    return dac >= 0 && dac < kDacs && (extra<State>().poweredDown & (1u << dac));
}

uint32_t Ltc2625::writes() const {
    auto held = lock();
    return extra<State>().writes;
}

void Ltc2625::addStatus(JsonObject& status) const {
    JsonArray codes;
    for (int d = 0; d < kDacs; ++d) {
        codes.add(code(d));
    }
    JsonObject chip;
    chip.addRaw("codes", codes.str());
    status.addRaw("lighting_dac", chip.str());
}

LightingExpander::LightingExpander(Board& board, I2cBus& bus, const Ltc2625& dac)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{"lighting-expander",
                                            kChannel,
                                            {kAddress},
                                            1,
                                            sizeof(State),
                                            {{0, kOutput, kPowerOnOutput}, {0, kConfig, kPowerOnConfig}}}),
      dac_(dac) {}

// Input pins read their external level (pull-ups, and the open-LED sense lines), output
// pins read back what they drive; the polarity register inverts the result.
uint8_t LightingExpander::pins() const {
    const auto config = static_cast<uint8_t>(cell(0, kConfig));
    const auto output = static_cast<uint8_t>(cell(0, kOutput));
    const uint8_t external = static_cast<uint8_t>(~(kSubstageOpen | kRingOpen)) | extra<State>().openLed;
    return static_cast<uint8_t>((external & config) | (output & ~config));
}

uint16_t LightingExpander::readValue(int bank, uint8_t reg) {
    if (reg == kInput) {
        return static_cast<uint8_t>(pins() ^ cell(bank, kPolarity));
    }
    return cell(bank, reg);
}

void LightingExpander::setOpenLed(bool substage, bool ring) {
    auto held = lock();
    extra<State>().openLed = static_cast<uint8_t>((substage ? kSubstageOpen : 0) | (ring ? kRingOpen : 0));
}

uint8_t LightingExpander::enables() const {
    auto held = lock();
    const auto config = static_cast<uint8_t>(cell(0, kConfig));
    return static_cast<uint8_t>(cell(0, kOutput) & ~config & kLightMask);
}

bool LightingExpander::supplyOn() const {
    return board().pins().read(kSupplyPin) != 0;
}

bool LightingExpander::lit(int channel) const {
    return channel >= 0 && channel < kLightChannels && supplyOn() && (enables() & (1u << channel)) &&
           dac_.code(channel) != 0;
}

void LightingExpander::addStatus(JsonObject& status) const {
    JsonObject o;
    o.add("supply", supplyOn());
    o.add("enables", static_cast<int>(enables()));
    {
        auto held = lock();
        o.add("substage_open", (extra<State>().openLed & kSubstageOpen) != 0);
        o.add("ring_open", (extra<State>().openLed & kRingOpen) != 0);
    }
    JsonArray channels;
    for (int c = 0; c < kLightChannels; ++c) {
        JsonObject ch;
        ch.add("name", kLightNames[c]).add("code", static_cast<int>(dac_.code(c))).add("lit", lit(c));
        channels.addRaw(ch.str());
    }
    o.addRaw("channels", channels.str());
    status.addRaw("lighting", o.str());
}

std::string LightingExpander::help() const {
    return kHelp;
}

std::optional<CommandResult> LightingExpander::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "lighting") {
        return std::nullopt;
    }
    if (args.size() == 4 && args[1] == "open-led" && (args[2] == "substage" || args[2] == "ring") &&
        (args[3] == "on" || args[3] == "off")) {
        bool substage = false, ring = false;
        {
            auto held = lock();
            substage = extra<State>().openLed & kSubstageOpen;
            ring = extra<State>().openLed & kRingOpen;
        }
        (args[2] == "substage" ? substage : ring) = args[3] == "on";
        setOpenLed(substage, ring);
        return CommandResult{true, "lighting " + args[2] + " open LED " + args[3] + "\n"};
    }
    return CommandResult{false, std::string("usage: ") + kHelp};
}

} // namespace sim
