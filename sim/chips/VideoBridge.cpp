#include "sim/chips/VideoBridge.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>

#include "sim/board/GuiFrame.h"
#include "sim/board/Json.h"

namespace sim {

namespace {

constexpr uint8_t kSplashStateBit = 0x80;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kRowBytes = VideoBridge::kSplashWidth / 8;

constexpr const char* kHelp =
    "  bridge left|right save FILE.png       the splash picture the bridge received\n"
    "  bridge left|right fault configure|none make its programming tool fail\n";

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

VideoBridge::VideoBridge(Board& board, I2cBus& bus, bool left)
    : RegisterFileDevice(
          board, bus,
          RegisterFileLayout{
              left ? "bridge-left" : "bridge-right", left ? 2 : 1, {kAddress}, 1, sizeof(State), {}}),
      left_(left) {}

std::string VideoBridge::configuredMarker() const {
    return board().volatilePath("bridge-bus" + std::to_string(busNumber()) + ".configured");
}

std::string VideoBridge::failMarker() const {
    return board().volatilePath("bridge-bus" + std::to_string(busNumber()) + ".fail");
}

void VideoBridge::powerOn() {
    RegisterFileDevice::powerOn();
    // The configuration is volatile: a power cycle leaves the bridge unconfigured.
    std::remove(configuredMarker().c_str());
}

bool VideoBridge::configured() const {
    return fileExists(configuredMarker());
}

bool VideoBridge::start(uint8_t address, bool read) {
    const bool ack = RegisterFileDevice::start(address, read);
    return ack && configured();
}

bool VideoBridge::send(uint8_t byte) {
    return configured() && RegisterFileDevice::send(byte);
}

void VideoBridge::written(int, uint8_t reg, uint16_t value) {
    State& s = extra<State>();
    switch (reg) {
    case kRegSplash:
        s.splashOn = value & 1;
        break;
    case kRegImageWrite:
        if (value != 0) {
            s.received = 0;
            s.overflow = 0;
        }
        break;
    case kRegImageData:
        if (s.received < kSplashBytes) {
            s.image[s.received++] = static_cast<uint8_t>(value);
        } else {
            s.overflow++;
        }
        break;
    default:
        break;
    }
}

uint16_t VideoBridge::readValue(int bank, uint8_t reg) {
    if (reg == kRegSplash) {
        return kRevision | (extra<State>().splashOn ? kSplashStateBit : 0);
    }
    return cell(bank, reg);
}

bool VideoBridge::splashOn() const {
    auto held = lock();
    return extra<State>().splashOn != 0;
}

uint32_t VideoBridge::bytesReceived() const {
    auto held = lock();
    return extra<State>().received;
}

std::vector<uint32_t> VideoBridge::picture(uint32_t& rows) const {
    auto held = lock();
    const State& s = extra<State>();
    rows = s.received / kRowBytes;
    std::vector<uint32_t> argb(size_t(rows) * kSplashWidth);
    for (size_t i = 0; i < argb.size(); ++i) {
        const uint8_t byte = s.image[i / 8];
        argb[i] = (byte & (0x80u >> (i % 8))) ? kBlack : kWhite;
    }
    return argb;
}

void VideoBridge::addStatus(JsonObject& status) const {
    uint32_t overflow = 0;
    {
        auto held = lock();
        overflow = extra<State>().overflow;
    }
    JsonObject o;
    o.add("configured", configured())
        .add("revision", unsigned(kRevision))
        .add("splash_on", splashOn())
        .add("picture_bytes", unsigned(bytesReceived()))
        .add("picture_rows", unsigned(bytesReceived() / kRowBytes))
        .add("bytes_dropped", unsigned(overflow))
        .add("configure_fault", fileExists(failMarker()));
    status.addRaw(name(), o.str());
}

std::string VideoBridge::help() const {
    return left_ ? kHelp : "";
}

std::optional<CommandResult> VideoBridge::command(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[0] != "bridge" || args[1] != (left_ ? "left" : "right")) {
        return std::nullopt;
    }
    if (args.size() == 4 && args[2] == "save") {
        uint32_t rows = 0;
        const std::vector<uint32_t> argb = picture(rows);
        if (rows == 0) {
            return CommandResult{false, name() + ": no splash picture received\n"};
        }
        const std::string error = writePng(args[3], kSplashWidth, rows, argb);
        return error.empty() ? CommandResult{true, "saved " + args[3] + "\n"}
                             : CommandResult{false, error + "\n"};
    }
    if (args.size() == 4 && args[2] == "fault" && args[3] == "configure") {
        std::ofstream(failMarker()) << "fail\n";
        return CommandResult{true, name() + ": programming tool fails\n"};
    }
    if (args.size() == 4 && args[2] == "fault" && args[3] == "none") {
        std::remove(failMarker().c_str());
        return CommandResult{true, name() + ": fault cleared\n"};
    }
    return CommandResult{false, std::string("usage:\n") + kHelp};
}

} // namespace sim
