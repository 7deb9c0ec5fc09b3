#include "sim/board/BoardBuilder.h"

#include <cstdlib>

#include "platform/platform.h"
#include "sim/board/SimBackend.h"

namespace sim {

BoardBuilder::BoardBuilder(std::string sysroot) : sysroot_(std::move(sysroot)) {}

BoardBuilder& BoardBuilder::with(const std::string& key, const std::string& value) {
    config_.set(key, value);
    return *this;
}

BoardBuilder& BoardBuilder::withControlServer() {
    controlServer_ = true;
    return *this;
}

BoardBuilder& BoardBuilder::withFpgaVersion(unsigned version) {
    return with("fpga.version", std::to_string(version));
}
BoardBuilder& BoardBuilder::withFpgaStatusStuck(unsigned status) {
    return with("fpga.status_stuck", std::to_string(status));
}
BoardBuilder& BoardBuilder::withFpgaDdrNeverReady() {
    return with("fpga.ddr_never_ready", "1");
}
BoardBuilder& BoardBuilder::withFpgaMemTestFailing(const std::string& channels) {
    return with("fpga.memtest_fail", channels);
}
BoardBuilder& BoardBuilder::withFpgaConfigurationFailing() {
    return with("fpga.config_fails", "1");
}

Board& BoardBuilder::build() {
    setenv("OSTRIX_SYSROOT", sysroot_.c_str(), 1);
    setenv("OSTRIX_PLATFORM", "sim", 1);
    initRoot(sysroot_);
    config_.save(Board::configPath(sysroot_));
    auto board = std::make_unique<Board>(sysroot_, config_);
    board->powerCycle();
    board->trace().clear();
    if (controlServer_) {
        board->startControlServer();
    }
    Board& ref = *board;
    platform::setBackend(std::make_unique<SimBackend>(std::move(board)));
    return ref;
}

} // namespace sim
