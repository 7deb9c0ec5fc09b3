// Idle CPU of the whole system as the demo runs it: OstrixPi and the real Ostrix_Gui on
// the simulated board with the installed configuration, left alone after the settings
// collection for 30 s. Reports each program's CPU time per second of wall time.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "sim/board/Board.h"
#include "tests/support/OstrixPiProcess.h"

namespace {

namespace fs = std::filesystem;

constexpr auto kSettleTime = std::chrono::seconds(5);
constexpr auto kMeasureTime = std::chrono::seconds(30);

fs::path binFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin";
}

// The home folder laid out as the package installs it.
bool install(const fs::path& root, const fs::path& home) {
    if (!sim::initRoot(root.string()).empty()) {
        return false;
    }
    const fs::path resources = OSTRIX_SOURCE_DIR "/resources";
    std::error_code ec;
    fs::copy(resources, home / "resources", fs::copy_options::recursive, ec);
    for (const char* file : {"ostrix.cfg", "standard.cc", "slitlamp.cc", "Si5351A-Registers.txt",
                             "QLM_FACTORY.settings", "audio_init.txt"}) {
        fs::copy_file(resources / file, home / file, fs::copy_options::overwrite_existing, ec);
    }
    return true;
}

void BM_SystemIdleCpu(benchmark::State& state) {
    char pattern[] = "/tmp/ostrix-idle-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const fs::path scratch = pattern, root = scratch / "root", home = root / "home/pi/Ostrix";
    if (!install(root, home)) {
        state.SkipWithError("the system root could not be laid out");
        return;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testing_support::OstrixPiProcess gui((binFolder() / "Ostrix_Gui").string(), root.string(), home.string());
    testing_support::OstrixPiProcess controller((binFolder() / "OstrixPi").string(), root.string(),
                                                home.string());
    if (!controller.waitForLog("MAIN: GUI settings collected\n")) {
        state.SkipWithError("the controller did not finish its start-up");
        return;
    }
    std::this_thread::sleep_for(kSettleTime);
    for (auto _ : state) {
        const double controllerBefore = controller.cpuSeconds(), guiBefore = gui.cpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kMeasureTime);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["controller_cpu_percent"] =
            100.0 * (controller.cpuSeconds() - controllerBefore) / wall;
        state.counters["gui_cpu_percent"] = 100.0 * (gui.cpuSeconds() - guiBefore) / wall;
    }
    controller.stop();
    gui.stop();
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
}

BENCHMARK(BM_SystemIdleCpu)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
