#include <filesystem>
#include <fstream>

#include "sim/board/Board.h"
#include "sim/board/SimBackend.h"

namespace sim {

namespace {

// Folders of a system root as the programs expect them on the real board.
constexpr const char* kFolders[] = {
    "dev/serial/by-id",
    "dev/input/by-path",
    "dev/input/by-id",
    "sys/class/input",
    "sys/class/thermal/thermal_zone0",
    "media/usb",
    "home/pi/Ostrix",
    "run/ostrix-sim",
    "var/lib/ostrix-sim",
    "var/log/ostrix-sim",
    "sim/usb",
    "tmp",
};
constexpr const char* kThermalZone = "sys/class/thermal/thermal_zone0/temp";
constexpr int kRoomTemperatureMilli = 45000;
constexpr const char* kHomeFolder = "home/pi/Ostrix";
// The video bridges' programming tool and the configuration files it loads, as installed
// beside the programs on the real board.
constexpr const char* kBridgeTool = "CrosslinkProgrammer";
constexpr const char* kBridgeFiles[] = {"issue2_pcb_data.iea", "issue2_pcb_data.ied"};

void installBridgeTool(const std::filesystem::path& home) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path tool = home / kBridgeTool;
    if (!fs::exists(fs::symlink_status(tool, ec))) {
        fs::create_symlink(fs::path(standinsFolder()) / kBridgeTool, tool, ec);
    }
    for (const char* name : kBridgeFiles) {
        if (!fs::exists(home / name)) {
            std::ofstream(home / name) << "simulated bridge configuration\n";
        }
    }
}

} // namespace

std::string initRoot(const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const char* folder : kFolders) {
        fs::create_directories(fs::path(dir) / folder, ec);
        if (ec) {
            return "cannot create " + (fs::path(dir) / folder).string() + ": " + ec.message();
        }
    }
    fs::path thermal = fs::path(dir) / kThermalZone;
    if (!fs::exists(thermal)) {
        std::ofstream(thermal) << kRoomTemperatureMilli << "\n";
    }
    installBridgeTool(fs::path(dir) / kHomeFolder);
    fs::path config = Board::configPath(dir);
    if (!fs::exists(config)) {
        BoardConfig().save(config.string());
    }
    return {};
}

} // namespace sim
