#include "sim/chips/HdmiTransmitter.h"

#include <cstring>

#include "sim/board/Json.h"
#include "sim/board/PinBank.h"

namespace sim {

namespace {

constexpr int kSwitchChannel[2] = {2, 1};
const char* const kSide[2] = {"left", "right"};

constexpr uint8_t kPower = 0x41;
constexpr uint8_t kPowerDownBit = 0x40;
constexpr uint8_t kPowerOnValue = 0x50; // powered down until the controller wakes it
constexpr uint8_t kHotPlugState = 0x42;
constexpr uint8_t kHotPlugBit = 0x40;
constexpr uint8_t kMonitorSenseBit = 0x20;
constexpr uint8_t kInterruptMask = 0x94;
constexpr uint8_t kInterruptStatus = 0x96;
constexpr uint8_t kHotPlugInterrupt = 0x80;
constexpr uint8_t kEdidReadyInterrupt = 0x04;
constexpr uint8_t kEdidPort = 0x7E;
constexpr uint8_t kOutputControl = 0x40;
constexpr uint8_t k3DOutputBit = 0x01;

const char* const kHelp = "monitor left|right plug|unplug                a monitor on an HDMI output\n";

// A 1920x1200 panel: base block with its header, version 1.3, one detailed timing (154 MHz,
// 160 pixels and 35 lines blanking) and its checksum; the extension block is empty.
constexpr uint8_t kBaseBlockTemplate[] = {
    0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x3E, 0x78, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x01, 0x22, 0x01, 0x03, 0x80, 0x34, 0x20, 0x78, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x28, 0x3C, 0x80, 0xA0, 0x70, 0xB0, 0x23, 0x40};
constexpr int kBaseBlockBytes = 128;

} // namespace

std::array<uint8_t, HdmiTransmitter::kEdidBytes> HdmiTransmitter::defaultMonitorEdid() {
    std::array<uint8_t, kEdidBytes> edid{};
    std::memcpy(edid.data(), kBaseBlockTemplate, sizeof kBaseBlockTemplate);
    unsigned sum = 0;
    for (int i = 0; i < kBaseBlockBytes - 1; ++i) {
        sum += edid[i];
    }
    edid[kBaseBlockBytes - 1] = static_cast<uint8_t>(-sum);
    return edid;
}

HdmiTransmitter::HdmiTransmitter(Board& board, I2cBus& bus, int channel)
    : RegisterFileDevice(board, bus,
                         RegisterFileLayout{std::string("hdmi-tx-") + kSide[channel],
                                            kSwitchChannel[channel],
                                            {kMainAddress, k3DAddress},
                                            2,
                                            sizeof(State),
                                            {{MAIN, kPower, kPowerOnValue}}}),
      videoChannel_(channel) {}

void HdmiTransmitter::powerOn() {
    RegisterFileDevice::powerOn();
    updateLine();
}

uint8_t HdmiTransmitter::edidByte(int index) const {
    const State& s = extra<State>();
    if (s.edidSet) {
        return s.edid[index % kEdidBytes];
    }
    static const std::array<uint8_t, kEdidBytes> fallback = defaultMonitorEdid();
    return fallback[index % kEdidBytes];
}

bool HdmiTransmitter::pendingLocked() const {
    return (extra<State>().interrupts & cell(MAIN, kInterruptMask)) != 0;
}

bool HdmiTransmitter::interruptPending() const {
    auto held = lock();
    return pendingLocked();
}

void HdmiTransmitter::updateLine() const {
    const bool asserted = interruptPending() || (partner_ && partner_->interruptPending());
    board().pins().drive(kInterruptPin, asserted ? Drive::Low : Drive::High);
}

bool HdmiTransmitter::start(uint8_t address, bool read) {
    const bool ack = RegisterFileDevice::start(address, read);
    auto held = lock();
    extra<State>().mainActive = address == kMainAddress ? 1 : 0;
    return ack;
}

bool HdmiTransmitter::send(uint8_t byte) {
    // Setting the pointer to the EDID port starts the EDID from its first byte.
    if (nextWriteRegister() == kPointerByte) {
        auto held = lock();
        State& s = extra<State>();
        if (s.mainActive && byte == kEdidPort) {
            s.edidIndex = 0;
        }
    }
    return RegisterFileDevice::send(byte);
}

void HdmiTransmitter::stop() {
    RegisterFileDevice::stop();
    updateLine();
}

bool HdmiTransmitter::autoIncrement() const {
    State& s = extra<State>();
    if (s.holdPointer) {
        s.holdPointer = 0;
        return false;
    }
    return true;
}

uint16_t HdmiTransmitter::readValue(int bank, uint8_t reg) {
    State& s = extra<State>();
    if (bank != MAIN) {
        return cell(bank, reg);
    }
    if (reg == kEdidPort) {
        s.holdPointer = 1;
        s.edidBytesRead++;
        return edidByte(s.edidIndex++);
    }
    if (reg == kInterruptStatus) {
        return s.interrupts;
    }
    if (reg == kHotPlugState) {
        return (cell(MAIN, reg) & ~(kHotPlugBit | kMonitorSenseBit)) |
               (s.plugged ? (kHotPlugBit | kMonitorSenseBit) : 0);
    }
    return cell(MAIN, reg);
}

void HdmiTransmitter::written(int bank, uint8_t reg, uint16_t value) {
    if (bank != MAIN) {
        return;
    }
    State& s = extra<State>();
    if (reg == kInterruptStatus) {
        s.interrupts &= static_cast<uint8_t>(~value);
    } else if (reg == kPower && !(value & kPowerDownBit) && s.plugged) {
        s.interrupts |= kEdidReadyInterrupt;
    }
}

void HdmiTransmitter::plug(bool plugged) {
    {
        auto held = lock();
        State& s = extra<State>();
        if ((s.plugged != 0) != plugged) {
            s.plugged = plugged ? 1 : 0;
            s.interrupts |= kHotPlugInterrupt;
        }
    }
    updateLine();
}

bool HdmiTransmitter::plugged() const {
    auto held = lock();
    return extra<State>().plugged != 0;
}

void HdmiTransmitter::setMonitorEdid(const std::array<uint8_t, kEdidBytes>& edid) {
    auto held = lock();
    State& s = extra<State>();
    std::memcpy(s.edid, edid.data(), kEdidBytes);
    s.edidSet = 1;
}

unsigned HdmiTransmitter::edidBytesRead() const {
    auto held = lock();
    return extra<State>().edidBytesRead;
}

void HdmiTransmitter::addStatus(JsonObject& status) const {
    JsonObject o;
    bool powered = false, output3D = false;
    unsigned connectedBits = 0;
    {
        auto held = lock();
        powered = !(cell(MAIN, kPower) & kPowerDownBit);
        output3D = cell(MAIN, kOutputControl) & k3DOutputBit;
        connectedBits = extra<State>().plugged ? 1 : 0;
    }
    o.add("monitor", connectedBits ? "plugged" : "unplugged")
        .add("powered", powered)
        .add("output", output3D ? "3D" : "2D")
        .add("interrupt", interruptPending())
        .add("edid_bytes_read", edidBytesRead());
    status.addRaw(std::string("hdmi_tx_") + kSide[videoChannel_], o.str());
}

std::string HdmiTransmitter::help() const {
    return videoChannel_ == 0 ? kHelp : "";
}

std::optional<CommandResult> HdmiTransmitter::command(const std::vector<std::string>& args) {
    if (args.empty() || args[0] != "monitor") {
        return std::nullopt;
    }
    if (args.size() != 3 || (args[1] != "left" && args[1] != "right") ||
        (args[2] != "plug" && args[2] != "unplug")) {
        return CommandResult{false, std::string("usage: ") + kHelp};
    }
    if (args[1] != kSide[videoChannel_]) {
        return std::nullopt;
    }
    plug(args[2] == "plug");
    return CommandResult{true, "monitor " + args[1] + (args[2] == "plug" ? " plugged\n" : " unplugged\n")};
}

} // namespace sim
