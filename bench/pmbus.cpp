// PMBus transfers per second on the simulated board: every pin edge of a bit-banged
// transfer crosses the platform layer into the board's bit-level I2C target. The
// SMBus word read through the Pi's I2C controller is the reference. "bus_us" is the
// estimated time of the same traffic on the real board's wires, per transfer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "QuietConsole.h"
#include "controller/devices/LTC2977.h"
#include "controller/devices/i2c.h"
#include "platform/platform.h"
#include "sim/Board.h"
#include "sim/BoardBuilder.h"
#include "sim/Ltc2977.h"

namespace {

constexpr uint8_t kPowerBus = 3;
constexpr uint8_t kLtc = 0x5C;
constexpr double kMicroseconds = 1e6;

// A board in a temporary system root, with the I2C handler the controller would have.
class BenchBoard {
public:
    BenchBoard() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrix-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        root_ = pattern;
        board_ = &sim::BoardBuilder(root_).build();
        std::filesystem::create_directories(root_ + "/home/pi/Ostrix/log");
        if (chdir((root_ + "/home/pi/Ostrix").c_str()) != 0) {
            std::abort();
        }
        i2c_ = std::make_unique<i2c_handler>(true);
        i2c_->register_device(kPowerBus, kLtc, "LTC2977", "bench");
    }
    ~BenchBoard() {
        i2c_.reset();
        platform::setBackend(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    i2c_handler& i2c() { return *i2c_; }
    sim::Trace& trace() { return board_->trace(); }

private:
    std::string root_;
    sim::Board* board_ = nullptr;
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
