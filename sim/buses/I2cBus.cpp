#include "sim/buses/I2cBus.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/wiringPi.h"
#include "sim/board/CommandArgs.h"
#include "sim/board/Json.h"
#include "sim/buses/BitBangI2cTarget.h"
#include "sim/buses/I2cSwitch.h"
#include "sim/buses/RegisterFileDevice.h"

namespace sim {

namespace {

constexpr double kControllerBitRateHz = 100000; // the Pi's I2C controller at its default rate
constexpr double kBitBangedBitRateHz = 50000;   // busy-loop bit-banging on the Pi, roughly
constexpr int kBitsPerByte = 9;                 // eight data bits and the acknowledge
constexpr int kStopBits = 1;

const char* kHelp = "i2c fail (switch | BUS ADDR) nack|read|write|open [REG|all] [once|always|COUNT]\n"
                    "                           makes a chip (or the bus switch) fail its transfers\n"
                    "i2c clear [switch | BUS ADDR]\n"
                    "                           removes the faults (of one chip)\n"
                    "i2c get (switch | BUS ADDR REG)\n"
                    "                           shows the switch's control byte or a register as stored\n"
                    "i2c set BUS ADDR REG VALUE sets a register as stored (no side effects)\n"
                    "i2c hold sda|scl           a stuck chip holds the line low\n"
                    "i2c release [sda|scl]      lets the line(s) go\n"
                    "i2c clock HIGH_NS LOW_NS   shortest SCL high and low times the chips accept when the\n"
                    "                           Pi bit-bangs the lines (standard mode: 4000 4700)\n";

const char* faultKindName(uint8_t kind) {
    switch (static_cast<I2cFaultKind>(kind)) {
    case I2cFaultKind::Nack:
        return "nack";
    case I2cFaultKind::Read:
        return "read";
    case I2cFaultKind::Write:
        return "write";
    case I2cFaultKind::Open:
        return "open";
    }
    return "?";
}

bool parseFaultKind(const std::string& text, I2cFaultKind& kind) {
    static const std::pair<const char*, I2cFaultKind> kKinds[] = {{"nack", I2cFaultKind::Nack},
                                                                  {"read", I2cFaultKind::Read},
                                                                  {"write", I2cFaultKind::Write},
                                                                  {"open", I2cFaultKind::Open}};
    for (const auto& [name, k] : kKinds) {
        if (text == name) {
            kind = k;
            return true;
        }
    }
    return false;
}

int linePin(const std::string& name) {
    if (name == "sda") {
        return I2cBus::kSdaPin;
    }
    if (name == "scl") {
        return I2cBus::kSclPin;
    }
    return -1;
}

uint8_t lineBit(int pin) {
    return pin == I2cBus::kSdaPin ? 1 : 2;
}

std::string hex(long value) {
    char text[16];
    snprintf(text, sizeof text, "0x%02lx", value);
    return text;
}

} // namespace

void I2cTransfer::clear() {
    device = nullptr;
    address = -1;
    current = -1;
    addressed = false;
    touched = false;
    starts = 0;
    addressNack = false;
    dataNack = false;
    out.clear();
    in.clear();
}

I2cBus::I2cBus(Board& board) : board_(board), state_(board.volatilePath("i2c-bus.state")) {
    switch_ = std::make_unique<I2cSwitch>(board, *this);
    bitBang_ = std::make_unique<BitBangI2cTarget>(board.pins(), *this);
}

I2cBus::~I2cBus() = default;

void I2cBus::attach(I2cDevice& device) {
    devices_.push_back(&device);
}

void I2cBus::powerOn() {
    state_.reset();
    switch_->powerOn();
    bitBang_->reset();
}

I2cDevice* I2cBus::deviceAt(int channel, uint8_t address) const {
    for (I2cDevice* d : devices_) {
        if (d->channel() == channel && d->answers(address)) {
            return d;
        }
    }
    return nullptr;
}

I2cDevice* I2cBus::route(uint8_t address) const {
    if (switch_->answers(address)) {
        return switch_.get();
    }
    const uint8_t connected = switch_->connected();
    for (I2cDevice* d : devices_) {
        if (d->channel() >= 0 && (connected & (1u << d->channel())) && d->answers(address)) {
            return d;
        }
    }
    return nullptr;
}

bool I2cBus::fail(const I2cFault& fault) {
    auto held = state_.lock();
    for (auto& slot : state_->faults) {
        if (!slot.used) {
            slot.used = 1;
            slot.kind = static_cast<uint8_t>(fault.kind);
            slot.channel = static_cast<int8_t>(fault.channel);
            slot.address = fault.address;
            slot.reg = static_cast<int16_t>(fault.reg);
            slot.remaining = fault.count;
            return true;
        }
    }
    return false;
}

void I2cBus::clearFaults() {
    auto held = state_.lock();
    for (auto& slot : state_->faults) {
        slot = {};
    }
}

void I2cBus::clearFaults(int channel, uint8_t address) {
    auto held = state_.lock();
    for (auto& slot : state_->faults) {
        if (slot.used && slot.channel == channel && slot.address == address) {
            slot = {};
        }
    }
}

bool I2cBus::takeFault(I2cFaultKind kind, const I2cDevice* device, uint8_t address, int reg) {
    const int channel = device ? device->channel() : kI2cRootChannel;
    auto held = state_.lock();
    for (auto& slot : state_->faults) {
        if (!slot.used || slot.kind != static_cast<uint8_t>(kind) || slot.address != address) {
            continue;
        }
        // Descriptors are opened for an address, whatever channel the chip is on.
        if (kind != I2cFaultKind::Open && slot.channel != channel) {
            continue;
        }
        if (slot.reg != I2cFault::kAllRegisters && slot.reg != reg) {
            continue;
        }
        if (slot.remaining > 0 && --slot.remaining == 0) {
            slot = {};
        }
        return true;
    }
    return false;
}

void I2cBus::holdLine(int pin, bool held) {
    if (pin != kSdaPin && pin != kSclPin) {
        return;
    }
    if (held) {
        state_->heldLines.fetch_or(lineBit(pin));
    } else {
        state_->heldLines.fetch_and(static_cast<uint8_t>(~lineBit(pin)));
    }
    bitBang_->applyDrive();
}

bool I2cBus::lineHeld(int pin) const {
    return state_->heldLines.load() & lineBit(pin);
}

bool I2cBus::start(I2cTransfer& t, uint8_t address, bool read) {
    if (!t.active()) {
        t.address = address;
    }
    t.current = address;
    t.starts++;
    t.device = route(address);
    t.addressed = acknowledges(t.device, address, read);
    t.addressNack |= !t.addressed;
    t.touched |= t.addressed;
    return t.addressed;
}

bool I2cBus::acknowledges(I2cDevice* device, uint8_t address, bool read) {
    if (!device || takeFault(I2cFaultKind::Nack, device, address, I2cDevice::kNoRegister)) {
        return false;
    }
    if (read && takeFault(I2cFaultKind::Read, device, address, device->nextReadRegister(address))) {
        return false;
    }
    return device->start(address, read);
}

bool I2cBus::send(I2cTransfer& t, uint8_t byte) {
    t.out.push_back(byte);
    if (!t.addressed) {
        return false;
    }
    const int reg = t.device->nextWriteRegister();
    if ((reg != I2cDevice::kPointerByte &&
         takeFault(I2cFaultKind::Write, t.device, static_cast<uint8_t>(t.current), reg)) ||
        !t.device->send(byte)) {
        t.dataNack = true;
        return false;
    }
    return true;
}

uint8_t I2cBus::receive(I2cTransfer& t) {
    constexpr uint8_t kReleasedLine = 0xFF;
    const uint8_t byte = t.addressed ? t.device->receive() : kReleasedLine;
    t.in.push_back(byte);
    return byte;
}

void I2cBus::stop(I2cTransfer& t, const char* what, bool bitBanged, bool stopSeen) {
    if (!t.active()) {
        return;
    }
    if (t.touched && t.device) {
        t.device->stop();
    }
    Trace& trace = board_.trace();
    if (trace.enabled(TraceKind::I2c)) {
        TraceEntry e;
        e.kind = TraceKind::I2c;
        e.channel = t.device ? t.device->channel() : kI2cRootChannel;
        e.address = t.address;
        e.out = t.out;
        e.in = t.in;
        e.text = what;
        if (t.addressNack) {
            e.text += ", address NACK";
        }
        if (t.dataNack) {
            e.text += ", data NACK";
        }
        if (!stopSeen) {
            e.text += ", no stop";
        }
        const double bits =
            kBitsPerByte * static_cast<double>(t.starts + t.out.size() + t.in.size()) + kStopBits;
        e.busSeconds = bits / (bitBanged ? kBitBangedBitRateHz : kControllerBitRateHz);
        trace.record(std::move(e));
    }
    t.clear();
}

void I2cBus::note(const std::string& text) {
    TraceEntry e;
    e.kind = TraceKind::I2c;
    e.text = text;
    board_.trace().record(std::move(e));
}

int I2cBus::controllerReady(uint8_t address, const char* what) {
    PinBank& pins = board_.pins();
    const bool connected = pins.function(kSdaPin) == FSEL_ALT0 && pins.function(kSclPin) == FSEL_ALT0;
    const bool free = pins.read(kSdaPin) == HIGH && pins.read(kSclPin) == HIGH;
    if (connected && free) {
        return 0;
    }
    TraceEntry e;
    e.kind = TraceKind::I2c;
    e.address = address;
    e.text = std::string(what) + (connected ? ": a line is held low" : ": SDA/SCL not in ALT0");
    board_.trace().record(std::move(e));
    errno = connected ? ETIMEDOUT : EREMOTEIO;
    return -1;
}

int I2cBus::writeBytes(uint8_t address, const uint8_t* bytes, int count, const char* what) {
    std::lock_guard<std::mutex> serial(controllerMutex_);
    if (controllerReady(address, what) != 0) {
        return -1;
    }
    I2cTransfer& t = controllerTransfer_;
    bool ok = start(t, address, false);
    for (int i = 0; ok && i < count; ++i) {
        ok = send(t, bytes[i]);
    }
    stop(t, what, false);
    if (!ok) {
        errno = EREMOTEIO;
        return -1;
    }
    return 0;
}

int I2cBus::readBytes(uint8_t address, int reg, uint8_t* data, int count, const char* what) {
    std::lock_guard<std::mutex> serial(controllerMutex_);
    if (controllerReady(address, what) != 0) {
        return -1;
    }
    I2cTransfer& t = controllerTransfer_;
    bool ok = true;
    if (reg >= 0) {
        ok = start(t, address, false) && send(t, static_cast<uint8_t>(reg));
    }
    ok = ok && start(t, address, true);
    for (int i = 0; ok && i < count; ++i) {
        data[i] = receive(t);
    }
    stop(t, what, false);
    if (!ok) {
        errno = EREMOTEIO;
        return -1;
    }
    return count;
}

bool I2cBus::openAllowed(uint8_t address) {
    return !takeFault(I2cFaultKind::Open, nullptr, address, I2cDevice::kNoRegister);
}

void I2cBus::pinFunctionChanged(int pin) {
    PinBank& pins = board_.pins();
    if ((pin == kSdaPin || pin == kSclPin) && pins.function(kSdaPin) == FSEL_ALT0 &&
        pins.function(kSclPin) == FSEL_ALT0) {
        bitBang_->linesHandedBack();
    }
}

void I2cBus::addStatus(JsonObject& status) const {
    JsonObject bus;
    JsonObject sw;
    sw.add("control", static_cast<int>(switch_->control()));
    JsonArray channels;
    for (int c = 0; c < kI2cChannels; ++c) {
        if (switch_->connected() & (1u << c)) {
            channels.add(c);
        }
    }
    sw.addRaw("connected", channels.str());
    sw.add("reset", switch_->inReset());
    bus.addRaw("switch", sw.str());
    JsonArray faults;
    JsonArray held;
    {
        auto lock = state_.lock();
        for (const auto& slot : state_->faults) {
            if (!slot.used) {
                continue;
            }
            JsonObject f;
            f.add("bus", slot.channel == kI2cRootChannel ? "switch" : std::to_string(slot.channel));
            f.add("address", hex(slot.address));
            f.add("kind", faultKindName(slot.kind));
            f.add("register", slot.reg == I2cFault::kAllRegisters ? std::string("all") : hex(slot.reg));
            f.add("remaining", slot.remaining == I2cFault::kAlways ? std::string("always")
                                                                   : std::to_string(slot.remaining));
            faults.addRaw(f.str());
        }
        if (state_->heldLines & lineBit(kSdaPin)) {
            held.addRaw(jsonString("sda"));
        }
        if (state_->heldLines & lineBit(kSclPin)) {
            held.addRaw(jsonString("scl"));
        }
    }
    bus.addRaw("faults", faults.str());
    bus.addRaw("held_lines", held.str());
    JsonObject bitBanged;
    bitBanged.add("min_high_ns", static_cast<int>(bitBang_->minHigh().count()));
    bitBanged.add("min_low_ns", static_cast<int>(bitBang_->minLow().count()));
    bitBanged.add("refused", bitBang_->refusedTransfers());
    bitBanged.add("last_refusal", bitBang_->lastRefusal());
    bus.addRaw("bit_banged", bitBanged.str());
    JsonArray chips;
    for (const I2cDevice* d : devices_) {
        JsonObject c;
        c.add("name", d->name());
        c.add("bus", d->channel());
        JsonArray addresses;
        for (uint8_t a : d->addresses()) {
            addresses.addRaw(jsonString(hex(a)));
        }
        c.addRaw("addresses", addresses.str());
        chips.addRaw(c.str());
    }
    bus.addRaw("devices", chips.str());
    status.addRaw("i2c", bus.str());
}

std::string I2cBus::help() const {
    return kHelp;
}

std::optional<CommandResult> I2cBus::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "i2c") {
        return std::nullopt;
    }
    const std::string sub = args.size() > 1 ? args[1] : "";
    if (sub == "fail" || sub == "clear") {
        return failCommand(args);
    }
    if (sub == "get" || sub == "set") {
        return registerCommand(args);
    }
    if (sub == "hold" || sub == "release") {
        return lineCommand(args);
    }
    if (sub == "clock") {
        return clockCommand(args);
    }
    return CommandResult{false, std::string("usage:\n") + kHelp};
}

// "i2c fail (switch | BUS ADDR) KIND [REG|all] [once|always|COUNT]", "i2c clear [...]".
CommandResult I2cBus::failCommand(const std::vector<std::string>& args) {
    const CommandResult usage{false, std::string("usage:\n") + kHelp};
    size_t i = 2;
    I2cFault fault;
    bool targeted = false;
    if (i < args.size() && args[i] == "switch") {
        fault.channel = kI2cRootChannel;
        fault.address = I2cSwitch::kAddress;
        targeted = true;
        ++i;
    } else if (i + 1 < args.size()) {
        long bus = 0, address = 0;
        if (!parseNumber(args[i], bus) || bus < 0 || bus >= kI2cChannels ||
            !parseNumber(args[i + 1], address) || address < 0 || address > 0x7F) {
            return usage;
        }
        fault.channel = static_cast<int>(bus);
        fault.address = static_cast<uint8_t>(address);
        targeted = true;
        i += 2;
    }
    if (args[1] == "clear") {
        if (targeted) {
            clearFaults(fault.channel, fault.address);
        } else {
            clearFaults();
        }
        return {i == args.size(), i == args.size() ? "" : usage.text};
    }
    if (!targeted || i >= args.size() || !parseFaultKind(args[i++], fault.kind)) {
        return usage;
    }
    long number = 0;
    if (i < args.size() && args[i] == "all") {
        ++i;
    } else if (i < args.size() && parseNumber(args[i], number) && number >= 0 && number <= 0xFF) {
        fault.reg = static_cast<int>(number);
        ++i;
    }
    if (i < args.size()) {
        if (args[i] == "once") {
            fault.count = 1;
        } else if (args[i] == "always") {
            fault.count = I2cFault::kAlways;
        } else if (parseNumber(args[i], number) && number > 0) {
            fault.count = static_cast<int>(number);
        } else {
            return usage;
        }
        ++i;
    }
    if (i != args.size()) {
        return usage;
    }
    if (!fail(fault)) {
        return {false, "too many faults set; clear some first\n"};
    }
    return {true, ""};
}

// "i2c get switch", "i2c get BUS ADDR REG", "i2c set BUS ADDR REG VALUE".
CommandResult I2cBus::registerCommand(const std::vector<std::string>& args) {
    const CommandResult usage{false, std::string("usage:\n") + kHelp};
    if (args[1] == "get" && args.size() == 3 && args[2] == "switch") {
        return {true, hex(switch_->control()) + "\n"};
    }
    const bool set = args[1] == "set";
    long bus = 0, address = 0, reg = 0, value = 0;
    if (args.size() != (set ? 6u : 5u) || !parseNumber(args[2], bus) || !parseNumber(args[3], address) ||
        !parseNumber(args[4], reg) || reg < 0 || reg > 0xFF || (set && !parseNumber(args[5], value))) {
        return usage;
    }
    auto* chip =
        dynamic_cast<RegisterFileDevice*>(deviceAt(static_cast<int>(bus), static_cast<uint8_t>(address)));
    if (!chip) {
        return {false, "no register chip at bus " + args[2] + " address " + args[3] + "\n"};
    }
    const int bank = chip->bankFor(static_cast<uint8_t>(address), static_cast<uint8_t>(reg));
    if (set) {
        chip->setValue(bank, static_cast<uint8_t>(reg), static_cast<uint16_t>(value));
        return {true, ""};
    }
    return {true, hex(chip->value(bank, static_cast<uint8_t>(reg))) + "\n"};
}

// "i2c hold sda|scl", "i2c release [sda|scl]".
CommandResult I2cBus::lineCommand(const std::vector<std::string>& args) {
    const bool hold = args[1] == "hold";
    if (!hold && args.size() == 2) {
        holdLine(kSdaPin, false);
        holdLine(kSclPin, false);
        return {true, ""};
    }
    const int pin = args.size() == 3 ? linePin(args[2]) : -1;
    if (pin < 0) {
        return {false, std::string("usage:\n") + kHelp};
    }
    holdLine(pin, hold);
    return {true, ""};
}

// "i2c clock HIGH_NS LOW_NS".
CommandResult I2cBus::clockCommand(const std::vector<std::string>& args) {
    long high = 0;
    long low = 0;
    if (args.size() != 4 || !parseNumber(args[2], high) || !parseNumber(args[3], low) || high < 0 ||
        low < 0) {
        return {false, std::string("usage:\n") + kHelp};
    }
    bitBang_->setClockLimits(std::chrono::nanoseconds(high), std::chrono::nanoseconds(low));
    return {true, ""};
}

} // namespace sim
