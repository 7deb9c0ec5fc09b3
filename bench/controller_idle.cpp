// Idle CPU of the controller: OstrixPi runs on the simulated board, collects its settings
// from a stand-in GUI and is then left alone, polling every 10 ms as it does all day. The
// benchmark reports the CPU time it uses per second of wall time.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/OstrixPiProcess.h"
#include "tests/unit/link/StandInGui.h"

namespace {

constexpr auto kMeasureTime = std::chrono::seconds(5);

std::string programPath() {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "bin" / "OstrixPi").string();
}

// A scratch folder with the board's system root and the program's working folder.
class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrix-bench-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : "";
        std::filesystem::create_directories(root());
        std::filesystem::create_directories(work());
        std::ofstream(work() + "/ostrix.cfg") << "[SYSTEM]\nmajorversion = 1\n";
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    bool ok() const { return !path_.empty(); }
    std::string root() const { return path_ + "/root"; }
    std::string work() const { return path_ + "/work"; }

private:
    std::string path_;
};

void BM_ControllerIdleCpu(benchmark::State& state) {
    Scratch scratch;
    if (!scratch.ok()) {
        state.SkipWithError("no scratch folder");
        return;
    }
    StandInGui gui;
    testing_support::OstrixPiProcess controller(programPath(), scratch.root(), scratch.work());
    if (!controller.waitForLog("MAIN: GUI settings collected\n")) {
        state.SkipWithError("the controller did not finish its start-up");
        return;
    }
    for (auto _ : state) {
        const double cpuBefore = controller.cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kMeasureTime);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double cpu = controller.cpuSeconds() - cpuBefore;
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = 100.0 * cpu / wall;
        state.counters["cpu_ms_per_s"] = 1000.0 * cpu / wall;
    }
    controller.stop();
}

BENCHMARK(BM_ControllerIdleCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
