// The simulated board: its configuration, shared pin bank, trace and device models.
// Every program on the simulated board builds one in-process; their volatile state is
// shared through files under <root>/run/ostrix-sim/, the persistent state (flashes)
// lives under <root>/var/lib/ostrix-sim/.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/board/PinBank.h"
#include "sim/board/Trace.h"

namespace sim {

class JsonObject;
class ControlServer;

// Board options (FPGA version, camera fitted, ...), kept as key=value lines in
// <root>/var/lib/ostrix-sim/board.cfg so every program on the board sees the same ones.
class BoardConfig {
public:
    static BoardConfig load(const std::string& path);
    bool save(const std::string& path) const;
    void set(const std::string& key, const std::string& value) { values_[key] = value; }
    std::string get(const std::string& key, const std::string& fallback = {}) const;
    long getInt(const std::string& key, long fallback) const;
    bool getBool(const std::string& key, bool fallback) const;
    const std::map<std::string, std::string>& values() const { return values_; }

private:
    std::map<std::string, std::string> values_;
};

struct CommandResult {
    bool ok = true;
    std::string text;
};

// One chip or peripheral model. The bus side is the model's own interface to the
// backend; this is the part the board needs to report, reset and steer it.
class Device {
public:
    virtual ~Device() = default;
    virtual std::string name() const = 0;
    // Adds the model's state to the board status under its own key.
    virtual void addStatus(JsonObject& status) const {}
    // Handles a control command addressed to it; nullopt when it is not its command.
    virtual std::optional<CommandResult> command(const std::vector<std::string>& args) {
        return std::nullopt;
    }
    // Usage lines of its control commands.
    virtual std::string help() const { return {}; }
    // Back to the power-on state (the volatile state is cleared).
    virtual void powerOn() {}
    // Starts what the model serves from the program that uses the board as its platform
    // (the camera board's serial link); not called in ostrix-sim's own short-lived board.
    virtual void startServices() {}
};

class Board {
public:
    Board(std::string sysroot, BoardConfig config);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // The board of the simulated backend in use, or nullptr.
    static Board* current();

    const std::string& sysroot() const { return sysroot_; }
    std::string path(std::string_view absolutePath) const;
    std::string volatilePath(std::string_view name) const;
    std::string persistentPath(std::string_view name) const;
    static std::string configPath(const std::string& sysroot);

    const BoardConfig& config() const { return config_; }
    PinBank& pins() { return *pins_; }
    Trace& trace() { return trace_; }

    Device* add(std::unique_ptr<Device> device);
    template <class T> T* find() const {
        for (const auto& d : devices_) {
            if (auto* t = dynamic_cast<T*>(d.get())) {
                return t;
            }
        }
        return nullptr;
    }
    // Every model of type T, in the order they were added.
    template <class T> std::vector<T*> findAll() const {
        std::vector<T*> found;
        for (const auto& d : devices_) {
            if (auto* t = dynamic_cast<T*>(d.get())) {
                found.push_back(t);
            }
        }
        return found;
    }

    std::string statusJson() const;
    // The status of the models named (Device::name) and the core temperature alone: a live
    // view polls what it shows without reading every model (the flash's whole contents among
    // them).
    std::string statusJson(const std::vector<std::string>& models) const;
    void startServices();
    CommandResult execute(const std::vector<std::string>& args);
    void powerCycle();

    // Offers to serve ostrix-sim on <root>/run/ostrix-sim/control.sock; true when this
    // program serves it now, false when another program does (this one takes over when
    // that one ends).
    bool startControlServer();
    bool servingControl() const;
    void stopControlServer();
    static std::string controlSocketPath(const std::string& sysroot);

private:
    void addTemperature(JsonObject& status) const;

    std::string sysroot_;
    BoardConfig config_;
    Trace trace_;
    std::unique_ptr<PinBank> pins_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::unique_ptr<ControlServer> server_;
};

// Builds every device model of the board (one place, so the board's parts list is plain).
void createDevices(Board& board);

// Lays out a complete system root in `dir`; returns an error text or empty.
std::string initRoot(const std::string& dir);

} // namespace sim
