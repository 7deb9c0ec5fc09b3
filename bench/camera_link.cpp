// Camera board commands per second on the simulated board. Each command opens the port,
// sets the line up, exchanges one line with the board and closes the port again, as on
// the real board; "link_ms" is the estimated time of the same bytes on the real 115200
// baud link, per command. The wake-up benchmark re-sends every setting, as after a replug
// (without the board's 15 s boot wait). Times are wall-clock: the 1 ms pause after each line
// the controller sends is part of a command's cost.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "BenchRoot.h"
#include "QuietConsole.h"
#include "controller/camera/CameraBoard.h"
#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"

namespace {

constexpr double kMilliseconds = 1e3;
constexpr int kWakeOpenMs = 2000;
constexpr uint32_t kGainMask = 0xFF;

// A board in a temporary system root whose camera board is up, and the controller's
// camera board object talking to it.
class CameraBench {
public:
    CameraBench() : root_([](sim::BoardBuilder& b) { b.withCameraBootMs(0).withManualCameraRail(true); }) {
        if (!root_.board().find<sim::CameraBoardModel>()->waitForLink(true)) {
            std::abort();
        }
        camera_ = std::make_unique<CameraBoard>(nullptr, nullptr, nullptr);
        camera_->setWaits(CameraBoard::Waits{0, kWakeOpenMs, 0});
        root_.board().trace().clear();
    }
    CameraBoard& camera() { return *camera_; }
    sim::Trace& trace() { return root_.board().trace(); }

private:
    BenchRoot root_;
    std::unique_ptr<CameraBoard> camera_;
};

void BM_CameraSettingCommand(benchmark::State& state) {
    QuietConsole quiet;
    CameraBench bench;
    uint32_t gain = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(bench.camera().setGain(++gain & kGainMask));
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["link_ms"] = bench.trace().busSeconds(sim::TraceKind::Serial) * kMilliseconds /
                                static_cast<double>(state.iterations());
}
BENCHMARK(BM_CameraSettingCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CameraWakeUpResendsEverySetting(benchmark::State& state) {
    QuietConsole quiet;
    CameraBench bench;
    bench.camera().setShutterAngles("100,200,300,400,500,600,700,800,900,1000,1100,1200,1300,1400,1500,"
                                    "1600,1700,1800,1900,2000,2100,2200,2300,2400,2500,2600,2700,2800,"
                                    "2900,3000");
    for (auto _ : state) {
        bench.camera().wake_up(false);
    }
    state.counters["link_ms"] = bench.trace().busSeconds(sim::TraceKind::Serial) * kMilliseconds /
                                static_cast<double>(state.iterations());
}
BENCHMARK(BM_CameraWakeUpResendsEverySetting)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
