#include "sim/chips/Ltc2977.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/board/Json.h"
#include "sim/board/SteadyClock.h"
#include "sim/buses/I2cBus.h"

namespace sim {

namespace {

constexpr int kGlobalBank = Ltc2977::kPages; // commands that are not paged
constexpr int kBanks = Ltc2977::kPages + 1;
constexpr int kControllerSupplyPage = 5;
constexpr long kDefaultRampMs = 5;
constexpr long kLongestRampMs = 3600000;

// ON_OFF_CONFIG: the rail waits for a command at all; it obeys OPERATION; it needs the
// CONTROL pin (tied asserted on this board).
constexpr uint8_t kOnOffPowerUpCommanded = 0x10;
constexpr uint8_t kOnOffUsesOperation = 0x08;
constexpr uint8_t kPowerOnOnOffConfig = 0x1E;

constexpr uint8_t kPagedCommands[] = {Ltc2977::OPERATION,   Ltc2977::ON_OFF_CONFIG, Ltc2977::VOUT_COMMAND,
                                      Ltc2977::STATUS_BYTE, Ltc2977::STATUS_WORD,   Ltc2977::READ_VOUT};
constexpr uint8_t kWordCommands[] = {Ltc2977::VOUT_COMMAND, Ltc2977::STATUS_WORD, Ltc2977::READ_VOUT,
                                     Ltc2977::MFR_SPECIAL_ID};
constexpr uint8_t kReadOnlyCommands[] = {Ltc2977::READ_VOUT, Ltc2977::MFR_SPECIAL_ID};

const char* const kRailNames[Ltc2977::kPages] = {"VCC1V5", "VCC5V0CAM", "VCC5V0", "VCC2V5",
                                                 "VCC3V3", "VCC3V3PI",  "VCC1V1", "VCC1V1b"};

const char* kHelp = "rail (PAGE|NAME) ramp MS   the rail reports power-good MS ms after switch-on\n"
                    "rail (PAGE|NAME) never-good\n"
                    "                           the rail never reports power-good\n"
                    "rail (PAGE|NAME) normal    the board's ramp again\n";

template <size_t N> bool contains(const uint8_t (&list)[N], uint8_t value) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

std::vector<RegisterDefault> powerOnRegisters() {
    std::vector<RegisterDefault> defaults = {
        {kGlobalBank, Ltc2977::MFR_SPECIAL_ID, Ltc2977::kSpecialId},
        {kControllerSupplyPage, Ltc2977::OPERATION, Ltc2977::kOperationOn}};
    for (int page = 0; page < Ltc2977::kPages; ++page) {
        defaults.push_back({page, Ltc2977::ON_OFF_CONFIG, kPowerOnOnOffConfig});
    }
    return defaults;
}

std::string hexByte(unsigned value, int digits = 2) {
    char text[16];
    snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

} // namespace

Ltc2977::Ltc2977(Board& board, I2cBus& bus)
    : RegisterFileDevice(
          board, bus,
          RegisterFileLayout{"ltc2977", kChannel, {kAddress}, kBanks, sizeof(State), powerOnRegisters()}),
      boardRamp_(std::chrono::milliseconds(board.config().getInt("ltc2977.ramp_ms", kDefaultRampMs))) {}

const char* Ltc2977::railName(int page) {
    return validPage(page) ? kRailNames[page] : "?";
}

int Ltc2977::bankOf(int, uint8_t command) const {
    if (!contains(kPagedCommands, command)) {
        return kGlobalBank;
    }
    const int page = cell(kGlobalBank, PAGE);
    return validPage(page) ? page : 0; // reads of "all pages" answer for page 0
}

int Ltc2977::widthOf(int, uint8_t command) const {
    return contains(kWordCommands, command) ? 2 : 1;
}

bool Ltc2977::acceptWrite(int, uint8_t command, uint16_t value) {
    if (contains(kReadOnlyCommands, command)) {
        return false;
    }
    if (command == PAGE) {
        return validPage(value) || value == kAllPages;
    }
    for (int page = 0; page < kPages; ++page) {
        onBefore_[page] = commandedOn(page);
    }
    return true;
}

void Ltc2977::written(int bank, uint8_t command, uint16_t value) {
    if (!contains(kPagedCommands, command)) {
        return;
    }
    const bool allPages = cell(kGlobalBank, PAGE) == kAllPages;
    for (int page = 0; page < kPages; ++page) {
        if (allPages) {
            cell(page, command) = value;
        }
        const bool on = commandedOn(page);
        if (on && !onBefore_[page]) {
            extra<State>().rails[page].onSinceNs = nowNs();
        }
        if (on != onBefore_[page]) {
            switchedPages_ |= static_cast<uint8_t>(1u << page);
        }
    }
}

void Ltc2977::stop() {
    RegisterFileDevice::stop();
    const uint8_t switched = switchedPages_;
    switchedPages_ = 0;
    for (int page = 0; page < kPages && railListener_; ++page) {
        if (switched & (1u << page)) {
            railListener_(page);
        }
    }
}

uint16_t Ltc2977::readValue(int bank, uint8_t command) {
    if (command != STATUS_WORD && command != STATUS_BYTE) {
        return cell(bank, command);
    }
    uint16_t status = 0;
    if (!commandedOn(bank)) {
        status = kStatusOff | kStatusPowerNotGood | kStatusHighByte;
    } else if (!powerGood(bank)) {
        status = kStatusPowerNotGood | kStatusHighByte;
    }
    constexpr uint16_t kLowByte = 0xFF;
    return command == STATUS_BYTE ? status & kLowByte : status;
}

bool Ltc2977::commandedOn(int page) const {
    const uint8_t config = static_cast<uint8_t>(cell(page, ON_OFF_CONFIG));
    if (!(config & kOnOffPowerUpCommanded)) {
        return true;
    }
    return !(config & kOnOffUsesOperation) || (cell(page, OPERATION) & kOperationOn);
}

bool Ltc2977::powerGood(int page) const {
    const Rail& rail = extra<State>().rails[page];
    if (!commandedOn(page) || rail.neverGood) {
        return false;
    }
    if (rail.onSinceNs == 0) {
        return true;
    }
    const auto ramp = rail.rampSet ? std::chrono::microseconds(rail.rampUs) : boardRamp_;
    return nowNs() - rail.onSinceNs >= std::chrono::duration_cast<std::chrono::nanoseconds>(ramp).count();
}

bool Ltc2977::railOn(int page) const {
    auto held = lock();
    return validPage(page) && commandedOn(page);
}

bool Ltc2977::railPowerGood(int page) const {
    auto held = lock();
    return validPage(page) && powerGood(page);
}

uint8_t Ltc2977::operation(int page) const {
    return static_cast<uint8_t>(value(page, OPERATION));
}

uint8_t Ltc2977::onOffConfig(int page) const {
    return static_cast<uint8_t>(value(page, ON_OFF_CONFIG));
}

uint8_t Ltc2977::page() const {
    return static_cast<uint8_t>(value(kGlobalBank, PAGE));
}

void Ltc2977::setRamp(int page, std::chrono::microseconds ramp) {
    if (validPage(page)) {
        auto held = lock();
        Rail& rail = extra<State>().rails[page];
        rail.rampUs = ramp.count();
        rail.rampSet = 1;
        rail.neverGood = 0;
    }
}

void Ltc2977::setNeverGood(int page, bool never) {
    if (validPage(page)) {
        auto held = lock();
        extra<State>().rails[page].neverGood = never ? 1 : 0;
    }
}

void Ltc2977::useBoardRamp(int page) {
    if (validPage(page)) {
        auto held = lock();
        Rail& rail = extra<State>().rails[page];
        rail.rampSet = 0;
        rail.neverGood = 0;
    }
}

void Ltc2977::addStatus(JsonObject& status) const {
    JsonObject chip;
    chip.add("page", hexByte(page()));
    chip.add("special_id", hexByte(value(kGlobalBank, MFR_SPECIAL_ID), 4));
    JsonArray rails;
    for (int p = 0; p < kPages; ++p) {
        JsonObject rail;
        rail.add("page", p);
        rail.add("name", railName(p));
        rail.add("on", railOn(p));
        rail.add("power_good", railPowerGood(p));
        rail.add("operation", hexByte(operation(p)));
        rail.add("on_off_config", hexByte(onOffConfig(p)));
        rails.addRaw(rail.str());
    }
    chip.addRaw("rails", rails.str());
    status.addRaw("ltc2977", chip.str());
}

std::string Ltc2977::help() const {
    return kHelp;
}

int Ltc2977::pageArgument(const std::string& text) const {
    for (int p = 0; p < kPages; ++p) {
        if (strcasecmp(text.c_str(), kRailNames[p]) == 0) {
            return p;
        }
    }
    char* end = nullptr;
    long page = strtol(text.c_str(), &end, 0);
    return !text.empty() && end && *end == '\0' && validPage(static_cast<int>(page)) ? static_cast<int>(page)
                                                                                     : -1;
}

std::optional<CommandResult> Ltc2977::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "rail") {
        return std::nullopt;
    }
    const CommandResult usage{false, std::string("usage:\n") + kHelp};
    const int page = args.size() >= 3 ? pageArgument(args[1]) : -1;
    if (page < 0) {
        return usage;
    }
    const std::string& what = args[2];
    if (what == "ramp" && args.size() == 4) {
        char* end = nullptr;
        long ms = strtol(args[3].c_str(), &end, 10);
        if (args[3].empty() || *end != '\0' || ms < 0 || ms > kLongestRampMs) {
            return usage;
        }
        setRamp(page, std::chrono::milliseconds(ms));
        return CommandResult{true, ""};
    }
    if (what == "never-good" && args.size() == 3) {
        setNeverGood(page, true);
        return CommandResult{true, ""};
    }
    if (what == "normal" && args.size() == 3) {
        useBoardRamp(page);
        return CommandResult{true, ""};
    }
    return usage;
}

} // namespace sim
