#include "sim/Board.h"
#include "sim/DisplayFpga.h"
#include "sim/I2cBus.h"
#include "sim/Ltc2977.h"

namespace sim {

// The board's parts list: one line per device model.
void createDevices(Board& board) {
    auto& i2c = static_cast<I2cBus&>(*board.add(std::make_unique<I2cBus>(board)));
    board.add(std::make_unique<Ltc2977>(board, i2c));
    board.add(std::make_unique<DisplayFpga>(board));
}

} // namespace sim
