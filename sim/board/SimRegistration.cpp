// Makes the simulated board known to the platform layer as OSTRIX_PLATFORM=sim. This file
// is linked whole into every program built with the simulator, so its static initialiser
// runs even though nothing refers to it.
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/select.h"
#include "sim/board/Board.h"
#include "sim/board/SimBackend.h"

namespace sim {

namespace {

std::unique_ptr<platform::Backend> makeSimFromEnvironment(std::string& problem) {
    std::string root = platform::sysroot();
    if (root.empty() || root == "/") {
        // The simulated board must never write into the host's /dev, /run or /sys.
        problem = "OSTRIX_PLATFORM=sim needs OSTRIX_SYSROOT, the folder of the simulated system root.";
        return nullptr;
    }
    if (std::string error = initRoot(root); !error.empty()) {
        problem = "OSTRIX_PLATFORM=sim: " + error;
        return nullptr;
    }
    auto board = std::make_unique<Board>(root, BoardConfig::load(Board::configPath(root)));
    // A program runs for days: its trace keeps what a failure report shows, not every
    // byte a capture moves.
    board->trace().setLimits(Trace::kProgramByteBudget, Trace::kProgramPayload);
    board->startControlServer();
    return std::make_unique<SimBackend>(std::move(board));
}

[[maybe_unused]] const bool registered = platform::registerBackend("sim", makeSimFromEnvironment);

} // namespace

} // namespace sim
