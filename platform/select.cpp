#include "platform/select.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/linux/LinuxBackend.h"
#include "platform/platform.h"
#include "sim/board/SimBackend.h"

namespace platform {

namespace {

bool onRaspberryPi() {
    std::ifstream model("/proc/device-tree/model");
    std::string text;
    std::getline(model, text);
    return text.find("Raspberry Pi") != std::string::npos;
}

[[noreturn]] void explainAndExit(const char* problem) {
    fprintf(stderr,
            "%s\n"
            "To run on the simulated board:\n"
            "  build/bin/ostrix-sim init-root DIR\n"
            "  OSTRIX_PLATFORM=sim OSTRIX_SYSROOT=DIR <program>\n"
            "or simply ./ostrix run. On the Raspberry Pi use OSTRIX_PLATFORM=linux.\n",
            problem);
    exit(2);
}

std::unique_ptr<Backend> makeSimFromEnvironment() {
    std::string root = sysroot();
    if (root.empty() || root == "/") {
        // The simulated board must never write into the host's /dev, /run or /sys.
        explainAndExit("OSTRIX_PLATFORM=sim needs OSTRIX_SYSROOT, the folder of the simulated system root.");
    }
    sim::initRoot(root);
    auto board = std::make_unique<sim::Board>(root, sim::BoardConfig::load(sim::Board::configPath(root)));
    board->startControlServer();
    return std::make_unique<sim::SimBackend>(std::move(board));
}

} // namespace

std::unique_ptr<Backend> makeBackendFromEnvironment() {
    const char* chosen = std::getenv("OSTRIX_PLATFORM");
    std::string name = chosen ? chosen : "";
    if (name.empty() && onRaspberryPi()) {
        name = "linux";
    }
    if (name == "sim") {
        return makeSimFromEnvironment();
    }
    if (name == "linux") {
        return makeLinuxBackend();
    }
    explainAndExit(name.empty() ? "No board: OSTRIX_PLATFORM is not set and this is not a Raspberry Pi."
                                : "OSTRIX_PLATFORM must be 'sim' or 'linux'.");
}

} // namespace platform
