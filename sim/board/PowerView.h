// The power state the board shows, gathered from the chips that carry it: the supply
// rails of the power manager, the two display backlights of the FPGA, the lights of the
// lighting board, the camera board's supply and the front-panel LED, with a one-word
// summary ("operating", "standby" or "off") under "power" in the board status.
//
// Test side: state() gives the summary; "power" prints the same report.
#pragma once

#include <string>

#include "sim/board/Board.h"

namespace sim {

class PowerView : public Device {
public:
    explicit PowerView(Board& board) : board_(board) {}

    std::string name() const override { return "power"; }
    void addStatus(JsonObject& status) const override;
    std::optional<CommandResult> command(const std::vector<std::string>& args) override;
    std::string help() const override;

    // Front-panel LED codes as the controller drives them.
    static constexpr int kLedStandby = 1;
    static constexpr int kLedOperating = 2;
    static constexpr int kLedBusy = 3;

    // "operating": something the user sees or uses is powered, or the panel says so;
    // "standby": the panel shows standby, or the board is powered with its displays,
    // lights and camera dark; "off": no switched rail is on and no standby is shown.
    std::string state() const;
    // The report under "power".
    std::string report() const;

private:
    struct Snapshot {
        bool anyRailOn = false;
        bool cameraPowered = false;
        bool anyLightLit = false;
        bool anyBacklightLit = false;
        int led = -1;
    };
    Snapshot snapshot() const;
    static std::string summary(const Snapshot& s);

    Board& board_;
};

} // namespace sim
