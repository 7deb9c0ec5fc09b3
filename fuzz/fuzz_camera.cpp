// Feeds arbitrary bytes to the simulated camera board as if they came over its serial
// link: the line framing, the payload decoding and every command handler must neither
// crash nor hang, whatever a program on the board writes to the port.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/camera/CameraProtocol.h"

namespace {

constexpr const char* kLineSettings = "115200 even";

// A system root of the run's own, removed when the run ends.
struct FuzzRoot {
    FuzzRoot()
        : dir((std::filesystem::temp_directory_path() / ("ostrix-fuzz-camera-" + std::to_string(getpid())))
                  .string()) {
        std::filesystem::create_directories(dir);
        if (!sim::initRoot(dir).empty()) {
            abort();
        }
    }
    ~FuzzRoot() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    FuzzRoot(const FuzzRoot&) = delete;
    FuzzRoot& operator=(const FuzzRoot&) = delete;
    const std::string dir;
};

// One board for the whole run: its state carries over from input to input as it would
// between commands on a real link.
sim::CameraBoardModel& camera() {
    static const FuzzRoot root;
    static const auto board =
        std::make_unique<sim::Board>(root.dir, sim::BoardConfig::load(sim::Board::configPath(root.dir)));
    static sim::CameraBoardModel* const model = board->find<sim::CameraBoardModel>();
    if (!model) {
        abort();
    }
    return *model;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sim::CameraLineParser parser;
    std::vector<sim::CameraCommand> commands;
    parser.feed(data, size, commands);
    for (const sim::CameraCommand& command : commands) {
        int64_t babbleUntilNs = 0;
        camera().handle(command, kLineSettings, babbleUntilNs);
    }
    return 0;
}
