#include "sim/Board.h"
#include "sim/DisplayFpga.h"

namespace sim {

// The board's parts list: one line per device model.
void createDevices(Board& board) {
    board.add(std::make_unique<DisplayFpga>(board));
}

} // namespace sim
