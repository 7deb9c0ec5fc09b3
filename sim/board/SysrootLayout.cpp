#include <filesystem>
#include <fstream>

#include "sim/board/Board.h"

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
    fs::path config = Board::configPath(dir);
    if (!fs::exists(config)) {
        BoardConfig().save(config.string());
    }
    return {};
}

} // namespace sim
