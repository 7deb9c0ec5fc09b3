#include "sim/board/Board.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "sim/board/ControlServer.h"
#include "sim/board/EyepieceSnapshot.h"
#include "sim/board/GuiFrame.h"
#include "sim/board/Json.h"

namespace sim {

namespace {

std::atomic<Board*> currentBoard{nullptr};

constexpr const char* kVolatileFolder = "/run/ostrix-sim/";
constexpr const char* kPersistentFolder = "/var/lib/ostrix-sim/";
constexpr const char* kThermalZone = "/sys/class/thermal/thermal_zone0/temp";

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

const char* kBoardHelp = "status                     pins and device models as JSON\n"
                         "temp MILLIDEGREES          sets the core temperature\n"
                         "power-cycle                clears the board's volatile state\n"
                         "gui-snapshot FILE.png      writes the GUI's latest frame as a PNG\n";

} // namespace

BoardConfig BoardConfig::load(const std::string& path) {
    BoardConfig config;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            config.values_[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
        }
    }
    return config;
}

bool BoardConfig::save(const std::string& path) const {
    std::ofstream out(path, std::ios::trunc);
    out << "# Options of the simulated board (ostrix-sim)\n";
    for (const auto& [k, v] : values_) {
        out << k << "=" << v << "\n";
    }
    return static_cast<bool>(out);
}

std::string BoardConfig::get(const std::string& key, const std::string& fallback) const {
    auto it = values_.find(key);
    return it == values_.end() ? fallback : it->second;
}

long BoardConfig::getInt(const std::string& key, long fallback) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return fallback;
    }
    char* end = nullptr;
    long v = strtol(it->second.c_str(), &end, 0);
    return end && *end == '\0' && end != it->second.c_str() ? v : fallback;
}

bool BoardConfig::getBool(const std::string& key, bool fallback) const {
    auto it = values_.find(key);
    if (it == values_.end()) {
        return fallback;
    }
    return it->second == "1" || it->second == "true" || it->second == "yes" || it->second == "on";
}

Board::Board(std::string sysroot, BoardConfig config)
    : sysroot_(std::move(sysroot)), config_(std::move(config)) {
    pins_ = std::make_unique<PinBank>(volatilePath("pins.state"), trace_);
    createDevices(*this);
    currentBoard = this;
}

Board::~Board() {
    server_.reset();
    // Later models may use earlier ones (the camera board its power manager) until they
    // are gone, so they go first.
    while (!devices_.empty()) {
        devices_.pop_back();
    }
    Board* self = this;
    currentBoard.compare_exchange_strong(self, nullptr);
}

Board* Board::current() {
    return currentBoard.load();
}

std::string Board::path(std::string_view absolutePath) const {
    return sysroot_ + std::string(absolutePath);
}
std::string Board::volatilePath(std::string_view name) const {
    return path(kVolatileFolder) + std::string(name);
}
std::string Board::persistentPath(std::string_view name) const {
    return path(kPersistentFolder) + std::string(name);
}
std::string Board::configPath(const std::string& sysroot) {
    return sysroot + kPersistentFolder + "board.cfg";
}
std::string Board::controlSocketPath(const std::string& sysroot) {
    return sysroot + kVolatileFolder + "control.sock";
}

Device* Board::add(std::unique_ptr<Device> device) {
    devices_.push_back(std::move(device));
    return devices_.back().get();
}

std::string Board::statusJson() const {
    JsonObject status;
    status.add("sysroot", sysroot_);
    addTemperature(status);
    status.addRaw("pins", pins_->statusJson());
    for (const auto& d : devices_) {
        d->addStatus(status);
    }
    return status.str();
}

std::string Board::statusJson(const std::vector<std::string>& models) const {
    JsonObject status;
    addTemperature(status);
    for (const auto& d : devices_) {
        if (std::find(models.begin(), models.end(), d->name()) != models.end()) {
            d->addStatus(status);
        }
    }
    return status.str();
}

void Board::addTemperature(JsonObject& status) const {
    std::ifstream thermal(path(kThermalZone));
    long milli = 0;
    if (thermal >> milli) {
        status.add("temperature_mC", static_cast<int64_t>(milli));
    }
}

CommandResult Board::execute(const std::vector<std::string>& args) {
    if (args.empty() || args[0] == "help") {
        std::string help = kBoardHelp;
        help += kSnapshotHelp;
        for (const auto& d : devices_) {
            help += d->help();
        }
        return {true, help};
    }
    const std::string& cmd = args[0];
    if (cmd == "status") {
        return {true, statusJson() + "\n"};
    }
    if (cmd == "temp") {
        char* end = nullptr;
        long milli = args.size() == 2 ? strtol(args[1].c_str(), &end, 10) : 0;
        if (args.size() != 2 || !end || *end != '\0') {
            return {false, "usage: temp MILLIDEGREES\n"};
        }
        std::ofstream out(path(kThermalZone), std::ios::trunc);
        out << milli << "\n";
        return {static_cast<bool>(out), out ? "" : "cannot write the thermal zone\n"};
    }
    if (cmd == "power-cycle") {
        powerCycle();
        return {true, "board power-cycled\n"};
    }
    if (cmd == "gui-snapshot") {
        if (args.size() != 2) {
            return {false, "usage: gui-snapshot FILE.png\n"};
        }
        std::string error = writeGuiSnapshot(volatilePath(kGuiFrameFile), args[1]);
        return {error.empty(), error.empty() ? "" : error + "\n"};
    }
    if (cmd == "snapshot") {
        return snapshotCommand(*this, args);
    }
    for (const auto& d : devices_) {
        if (auto result = d->command(args)) {
            return *result;
        }
    }
    return {false, "unknown command '" + cmd + "' (try: help)\n"};
}

void Board::startServices() {
    for (const auto& d : devices_) {
        d->startServices();
    }
}

void Board::powerCycle() {
    pins_->powerOn();
    for (const auto& d : devices_) {
        d->powerOn();
    }
    trace_.note(TraceKind::Note, -1, "power cycle");
}

bool Board::servingControl() const {
    return server_ && server_->serving();
}

void Board::stopControlServer() {
    server_.reset();
}

bool Board::startControlServer() {
    if (server_) {
        return true;
    }
    server_ = ControlServer::start(controlSocketPath(sysroot_), *this);
    return server_ && server_->serving();
}

} // namespace sim
