#include "sim/Board.h"

namespace sim {

// The board's parts list: one line per device model.
void createDevices(Board& board) {
    (void)board;
}

} // namespace sim
