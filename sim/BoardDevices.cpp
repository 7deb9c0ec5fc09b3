#include "sim/Board.h"
#include "sim/CameraBoardModel.h"

namespace sim {

// The board's parts list: one line per device model.
void createDevices(Board& board) {
    board.add(std::make_unique<CameraBoardModel>(board));
}

} // namespace sim
