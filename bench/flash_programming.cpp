// The configuration-flash programmer on the simulated board: a read-back of all 16 MiB
// and a full program of a 16 MiB image, every bit clocked through the GPIO lines into
// the bit-level flash model. "real_board_s" is the simulator's estimate of the same work
// on the real board (the Pi's GPIO accesses per bit plus the chip's erase and page
// program times); the wall time is what the simulator needs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "BenchRoot.h"
#include "QuietConsole.h"
#include "sim/chips/ConfigFlash.h"
#include "tools/qflashprog/qflashprog.h"

namespace {

constexpr uint32_t kFlashBytes = sim::ConfigFlash::kSize;
constexpr uint32_t kPatternMultiplier = 2654435761u;
constexpr int kPatternShift = 24;
constexpr uint8_t kErased = 0xFF;

// Bytes that are never 0xFF, so no page is skipped as erased.
std::vector<uint8_t> pattern() {
    std::vector<uint8_t> bytes(kFlashBytes);
    for (uint32_t i = 0; i < kFlashBytes; ++i) {
        const auto b = static_cast<uint8_t>((i * kPatternMultiplier) >> kPatternShift);
        bytes[i] = b == kErased ? 0 : b;
    }
    return bytes;
}

// The board's flash model does not need a fast clock: the flash's erase and program times
// are left out of the simulation here so that only the bit-banged traffic is measured.
void fastFlash(sim::BoardBuilder& b) {
    b.with("flash.erase_ms", "0").with("flash.program_us", "0");
}

void report(benchmark::State& state, sim::Board& board) {
    state.counters["real_board_s"] = board.trace().busSeconds(sim::TraceKind::Spi);
    state.SetBytesProcessed(int64_t(state.iterations()) * kFlashBytes);
}

void BM_FlashReadBack(benchmark::State& state) {
    BenchRoot root(fastFlash);
    root.board().find<sim::ConfigFlash>()->setBytes(0, pattern());
    QuietConsole quiet;
    root.board().trace().clear();
    for (auto _ : state) {
        QFlashProg prog;
        prog.initialise();
        benchmark::DoNotOptimize(prog.readEEPROM("readback.bin"));
        prog.releaseGPIO(false);
    }
    report(state, root.board());
}
BENCHMARK(BM_FlashReadBack)->Iterations(1)->Unit(benchmark::kSecond);

void BM_FlashProgram(benchmark::State& state) {
    BenchRoot root(fastFlash);
    {
        const std::vector<uint8_t> image = pattern();
        FILE* f = fopen("image.rpd", "wb");
        fwrite(image.data(), 1, image.size(), f);
        fclose(f);
    }
    QuietConsole quiet;
    root.board().trace().clear();
    for (auto _ : state) {
        QFlashProg prog;
        prog.initialise();
        benchmark::DoNotOptimize(prog.programEEPROM("image.rpd"));
        prog.releaseGPIO(false);
    }
    report(state, root.board());
}
BENCHMARK(BM_FlashProgram)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
