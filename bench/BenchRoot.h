// A temporary system root for one benchmark, with the simulated board installed as the
// platform backend and its home folder (with a log folder) as the working directory, as
// the programs run on the board. Everything goes again at destruction.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <unistd.h>

#include "platform/platform.h"
#include "sim/board/Board.h"
#include "sim/board/BoardBuilder.h"

class BenchRoot {
public:
    // `options` adds board options before the board is built.
    explicit BenchRoot(const std::function<void(sim::BoardBuilder&)>& options = {}) {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrix-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        root_ = pattern;
        sim::BoardBuilder builder(root_);
        if (options) {
            options(builder);
        }
        board_ = &builder.build();
        std::filesystem::create_directories(root_ + "/home/pi/Ostrix/log");
        if (chdir((root_ + "/home/pi/Ostrix").c_str()) != 0) {
            std::abort();
        }
    }
    ~BenchRoot() {
        platform::setBackend(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    BenchRoot(const BenchRoot&) = delete;
    BenchRoot& operator=(const BenchRoot&) = delete;

    sim::Board& board() { return *board_; }

private:
    std::string root_;
    sim::Board* board_ = nullptr;
};
