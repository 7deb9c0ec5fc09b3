#include "platform/select.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "platform/linux/LinuxBackend.h"
#include "platform/platform.h"

namespace platform {

namespace {

constexpr int kNoBoardExitStatus = 2;

// Filled by static initialisers before main; read-only afterwards.
std::map<std::string, BackendFactory, std::less<>>& registry() {
    static std::map<std::string, BackendFactory, std::less<>> factories;
    return factories;
}

bool onRaspberryPi() {
    std::ifstream model("/proc/device-tree/model");
    std::string text;
    std::getline(model, text);
    return text.find("Raspberry Pi") != std::string::npos;
}

[[noreturn]] void explainAndExit(const std::string& problem) {
    fprintf(stderr,
            "%s\n"
            "To run on the simulated board:\n"
            "  build/bin/ostrix-sim init-root DIR\n"
            "  OSTRIX_PLATFORM=sim OSTRIX_SYSROOT=DIR <program>\n"
            "or simply ./ostrix run. On the Raspberry Pi use OSTRIX_PLATFORM=linux.\n",
            problem.c_str());
    exit(kNoBoardExitStatus);
}

std::string backendNameFromEnvironment() {
    const char* chosen = std::getenv("OSTRIX_PLATFORM");
    std::string name = chosen ? chosen : "";
    if (name.empty() && onRaspberryPi()) {
        name = "linux";
    }
    return name;
}

} // namespace

bool registerBackend(std::string_view name, BackendFactory factory) {
    registry().insert_or_assign(std::string(name), factory);
    return true;
}

bool environmentNamesBackend() {
    const std::string name = backendNameFromEnvironment();
    return name == "linux" || registry().count(name) > 0;
}

std::unique_ptr<Backend> makeBackendFromEnvironment() {
    const std::string name = backendNameFromEnvironment();
    if (name == "linux") {
        return makeLinuxBackend();
    }
    if (name.empty()) {
        explainAndExit("No board: OSTRIX_PLATFORM is not set and this is not a Raspberry Pi.");
    }
    auto found = registry().find(name);
    if (found == registry().end()) {
        if (name == "sim") {
            explainAndExit("OSTRIX_PLATFORM=sim: this build has no simulated board (it was built with "
                           "OSTRIX_WITH_SIM=OFF for the real board).");
        }
        explainAndExit("OSTRIX_PLATFORM must be 'sim' or 'linux'.");
    }
    std::string problem;
    auto backend = found->second(problem);
    if (!backend) {
        explainAndExit(problem);
    }
    return backend;
}

} // namespace platform
