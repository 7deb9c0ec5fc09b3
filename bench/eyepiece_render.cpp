// The cost of drawing what an eyepiece panel shows: the snapshot's full panel, the reduced
// pictures a live view draws at every 2nd or 3rd pixel, the rows it draws again while only
// the live picture's marker moves, and the key a live view compares to learn whether to
// draw at all. Each reports the CPU time one refresh of both eyes costs ("refresh_s") and
// the share of one core ten refreshes a second take ("core_at_10Hz", printed in seconds:
// CPU seconds per second).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <fstream>
#include <vector>

#include "BenchRoot.h"
#include "sim/board/EyepieceSnapshot.h"
#include "sim/board/GuiFrame.h"
#include "sim/chips/DisplayFpga.h"

namespace {

using namespace sim::fpga_regs;

// The output stage as the controller leaves it in operation: LCD output, overlay, the Pi's
// picture and digital zoom on, the live input shown through buffer 0, full backlight.
constexpr uint32_t kOperatingControl = (1u << 4) | (1u << 6) | (1u << 7) | (1u << 8);
constexpr uint32_t kLiveShownBuffer = (1u << 16) | 1u;
constexpr uint32_t kFullBacklight = 255;
constexpr uint32_t kKeyColour = 0x008080;
constexpr uint32_t kGuiWidth = 800;
constexpr uint32_t kGuiHeight = 480;
constexpr int kEyes = 2;
constexpr double kRefreshesPerSecond = 10;
constexpr int kLiveStep = 2; // a live view on a 1920-pixel-wide screen

void operate(sim::Board& board) {
    auto* fpga = board.find<sim::DisplayFpga>();
    for (int channel = 0; channel < kEyes; ++channel) {
        fpga->setRegister(channel, kControl, kOperatingControl);
        fpga->setRegister(channel, kFrameStoreEnable, kLiveShownBuffer);
        fpga->setRegister(channel, kBacklight, kFullBacklight);
        fpga->setRegister(channel, kOverlayTransparent, kKeyColour);
    }
    std::ofstream out(board.volatilePath(sim::kGuiFrameFile), std::ios::binary | std::ios::trunc);
    out.write(sim::kGuiFrameMagic, sizeof sim::kGuiFrameMagic);
    const uint32_t size[2] = {kGuiWidth, kGuiHeight};
    out.write(reinterpret_cast<const char*>(size), sizeof size);
    const std::vector<uint32_t> pixels(size_t(kGuiWidth) * kGuiHeight, 0xFF000000u | kKeyColour);
    out.write(reinterpret_cast<const char*>(pixels.data()),
              std::streamsize(pixels.size() * sizeof(uint32_t)));
}

void reportRefresh(benchmark::State& state) {
    state.counters["refresh_s"] = benchmark::Counter(
        double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["core_at_10Hz"] =
        benchmark::Counter(double(state.iterations()) / kRefreshesPerSecond,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BothEyesRendered(benchmark::State& state) {
    BenchRoot root;
    operate(root.board());
    const int step = static_cast<int>(state.range(0));
    sim::PanelPicture picture;
    for (auto _ : state) {
        for (int channel = 0; channel < kEyes; ++channel) {
            if (!sim::renderEyepiece(root.board(), channel, picture, step).empty()) {
                state.SkipWithError("the panel could not be drawn");
                return;
            }
            benchmark::DoNotOptimize(picture.argb.data());
        }
    }
    reportRefresh(state);
}
BENCHMARK(BM_BothEyesRendered)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// Digital zoom off: the live picture's marker moves, and only its rows are drawn again.
void BM_BothEyesMovingRowsRedrawn(benchmark::State& state) {
    BenchRoot root;
    operate(root.board());
    constexpr uint32_t kDigitalZoom = 1u << 8;
    auto* fpga = root.board().find<sim::DisplayFpga>();
    sim::PanelPicture pictures[kEyes];
    for (int channel = 0; channel < kEyes; ++channel) {
        fpga->setRegister(channel, kControl, kOperatingControl & ~kDigitalZoom);
        sim::renderEyepiece(root.board(), channel, pictures[channel], kLiveStep);
    }
    for (auto _ : state) {
        for (int channel = 0; channel < kEyes; ++channel) {
            const sim::RowSpan rows = sim::movingRows(root.board(), channel, kLiveStep);
            sim::renderEyepiece(root.board(), channel, pictures[channel], kLiveStep, rows);
            benchmark::DoNotOptimize(pictures[channel].argb.data());
        }
    }
    reportRefresh(state);
}
BENCHMARK(BM_BothEyesMovingRowsRedrawn)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_BothEyesKeyed(benchmark::State& state) {
    BenchRoot root;
    operate(root.board());
    for (auto _ : state) {
        for (int channel = 0; channel < kEyes; ++channel) {
            benchmark::DoNotOptimize(sim::eyepieceKey(root.board(), channel, kLiveStep));
        }
    }
    reportRefresh(state);
}
BENCHMARK(BM_BothEyesKeyed)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);

} // namespace
