// Builds a simulated board and installs it as the platform backend of this program:
//   sim::BoardBuilder(root).with("fpga.version", "31").build();
// Each device model adds its named options here (withFpgaVersion, withoutCameraBoard, ...).
#pragma once

#include <string>

#include "sim/board/Board.h"

namespace sim {

class BoardBuilder {
public:
    // `sysroot` must exist; it is laid out as a complete system root if needed, and
    // OSTRIX_SYSROOT is set to it so that every system path of the program maps there.
    explicit BoardBuilder(std::string sysroot);

    BoardBuilder& with(const std::string& key, const std::string& value);
    BoardBuilder& withControlServer();
    // The camera board: not fitted at all, or booting in `ms` after power-up.
    BoardBuilder& withoutCameraBoard() { return with("camera.fitted", "0"); }
    BoardBuilder& withCameraBootMs(int ms) { return with("camera.boot_ms", std::to_string(ms)); }
    // The camera supply switched by the test (CameraBoardModel::setRail) instead of the
    // power manager's page 1.
    BoardBuilder& withManualCameraRail(bool on) { return with("camera.rail", on ? "on" : "off"); }

    // Display FPGA options and faults.
    BoardBuilder& withFpgaVersion(unsigned version);
    BoardBuilder& withFpgaStatusStuck(unsigned status);
    BoardBuilder& withFpgaDdrNeverReady();
    BoardBuilder& withFpgaMemTestFailing(const std::string& channels); // "left", "right", "both"
    BoardBuilder& withFpgaConfigurationFailing();

    // Writes the options for every program on this board, powers the board on (fresh
    // volatile state) and installs it; returns the installed board.
    Board& build();

private:
    std::string sysroot_;
    BoardConfig config_;
    bool controlServer_ = false;
};

} // namespace sim
