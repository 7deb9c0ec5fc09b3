// PMBus transfers per second on the simulated board: every pin edge of a bit-banged
// transfer crosses the platform layer into the board's bit-level I2C target. The
// SMBus word read through the Pi's I2C controller is the reference. "bus_us" is the
// estimated time of the same traffic on the real board's wires, per transfer.
#include <benchmark/benchmark.h>

#include <memory>

#include "BenchRoot.h"
#include "QuietConsole.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/i2c.h"
#include "sim/board/Board.h"
#include "sim/chips/Ltc2977.h"

namespace {

constexpr uint8_t kPowerBus = 3;
constexpr uint8_t kLtc = 0x5C;
constexpr double kMicroseconds = 1e6;

// A board in a temporary system root, with the I2C handler the controller would have.
class BenchBoard {
public:
    BenchBoard() : i2c_(std::make_unique<i2c_handler>(true)) {
        i2c_->register_device(kPowerBus, kLtc, "LTC2977", "bench");
    }
    i2c_handler& i2c() { return *i2c_; }
    sim::Trace& trace() { return root_.board().trace(); }

private:
    BenchRoot root_;
    std::unique_ptr<i2c_handler> i2c_;
};

void report(benchmark::State& state, BenchBoard& board) {
    state.SetItemsProcessed(state.iterations());
    const double transfers = static_cast<double>(state.iterations());
    state.counters["bus_us"] = board.trace().busSeconds(sim::TraceKind::I2c) * kMicroseconds / transfers;
}

void BM_PMBusWriteByte(benchmark::State& state) {
    QuietConsole quiet;
    BenchBoard board;
    board.trace().clear();
    for (auto _ : state) {
        benchmark::DoNotOptimize(board.i2c().PMBUS_writeByte(kPowerBus, kLtc, ltc2977_handler::PAGE, 0));
    }
    report(state, board);
}
BENCHMARK(BM_PMBusWriteByte);

void BM_PMBusReadWord(benchmark::State& state) {
    QuietConsole quiet;
    BenchBoard board;
    board.trace().clear();
    uint16_t status = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            board.i2c().PMBUS_readWord(kPowerBus, kLtc, ltc2977_handler::STATUS_WORD, &status));
    }
    report(state, board);
}
BENCHMARK(BM_PMBusReadWord);

// Reference: the same word read made by the Pi's I2C controller (one SMBus transfer).
void BM_SmbusReadWord(benchmark::State& state) {
    QuietConsole quiet;
    BenchBoard board;
    uint16_t status = 0;
    board.i2c().read_word(kPowerBus, kLtc, ltc2977_handler::STATUS_WORD, &status); // selects the channel
    board.trace().clear();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            board.i2c().read_word(kPowerBus, kLtc, ltc2977_handler::STATUS_WORD, &status));
    }
    report(state, board);
}
BENCHMARK(BM_SmbusReadWord);

} // namespace
