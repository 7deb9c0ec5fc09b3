// The main loop's period as the hardware sees it: the controller runs on the simulated
// board with a stand-in GUI, and every idle pass reads the left HDMI receiver's revision
// register once (the receivers are polled on every pass without a message). The times of
// those reads on the board's trace give the pass period: median, 99th percentile and worst,
// idle and under a stream of setting messages from the GUI, with the machine kept busy by
// another process ("busy") and then by one spinning process per core ("saturated").
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/BenchRoot.h"
#include "bench/QuietConsole.h"
#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "controller/core/OstrixPi.h"
#include "controller/devices/hdmi_rx.h"
#include "controller/devices/i2c.h"
#include "sim/board/Trace.h"
#include "tests/unit/link/StandInGui.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kRevisionHighRegister = 0xEA; // read first by every pass's input check
constexpr auto kMeasureTime = std::chrono::seconds(5);
constexpr auto kStartLimit = std::chrono::seconds(60);
constexpr auto kMessageInterval = std::chrono::milliseconds(20); // 50 messages a second
constexpr double kMilliseconds = 1000.0;
constexpr double kTopPercentile = 0.99;

long cores() {
    return std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
}

// Spinning processes for the life of the object: a machine busy with other work.
class BusyMachine {
public:
    explicit BusyMachine(long spinners) {
        for (long i = 0; i < spinners; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) {
                    spin = spin + 1;
                }
            }
            if (pid > 0) {
                children_.push_back(pid);
            }
        }
    }
    ~BusyMachine() {
        for (pid_t pid : children_) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }

private:
    std::vector<pid_t> children_;
};

bool logHas(const std::string& text) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("log", ec)) {
        std::stringstream content;
        content << std::ifstream(entry.path()).rdbuf();
        if (content.str().find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The controller, in this process, on the bench's board, with the installed configuration.
class Controller {
public:
    Controller() {
        std::error_code ec;
        fs::copy(OSTRIX_SOURCE_DIR "/resources", "resources", fs::copy_options::recursive, ec);
        for (const char* file : {"ostrix.cfg", "standard.cc", "slitlamp.cc", "Si5351A-Registers.txt",
                                 "QLM_FACTORY.settings", "audio_init.txt"}) {
            fs::copy_file(fs::path(OSTRIX_SOURCE_DIR "/resources") / file, file,
                          fs::copy_options::overwrite_existing, ec);
        }
        thread_ = std::thread([] {
            const char* const argv[] = {"OstrixPi", nullptr};
            OstrixPi_main(1, argv);
        });
    }
    ~Controller() {
        // The program's own handler ends its loop, as a service stop does.
        raise(SIGTERM);
        thread_.join();
    }
    bool started() const {
        const auto limit = Clock::now() + kStartLimit;
        while (Clock::now() < limit) {
            if (logHas("MAIN: GUI settings collected\n")) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

private:
    std::thread thread_;
};

// Milliseconds between successive idle passes in the trace's I2C entries.
std::vector<double> passPeriods(const sim::Trace& trace) {
    std::vector<double> times;
    for (const sim::TraceEntry& e : trace.entries(sim::TraceKind::I2c)) {
        if (e.channel == I2C_BUS_HDMI_LEFT && e.address == ADV7619_IO && !e.out.empty() &&
            e.out[0] == kRevisionHighRegister && e.inLength > 0) {
            times.push_back(e.time);
        }
    }
    std::vector<double> periods;
    for (size_t i = 1; i < times.size(); ++i) {
        periods.push_back((times[i] - times[i - 1]) * kMilliseconds);
    }
    return periods;
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

// Median, 99th percentile and worst pass period over one measuring window, as counters
// named after the window.
void measureWindow(benchmark::State& state, sim::Trace& trace, const std::string& window) {
    trace.clear();
    std::this_thread::sleep_for(kMeasureTime);
    const std::vector<double> periods = passPeriods(trace);
    state.counters[window + "_passes"] = static_cast<double>(periods.size());
    state.counters[window + "_median_ms"] = percentile(periods, 0.5);
    state.counters[window + "_p99_ms"] = percentile(periods, kTopPercentile);
    state.counters[window + "_max_ms"] = percentile(periods, 1.0);
}

// One controller for both windows: the program's state is made once per process.
void BM_LoopPeriod(benchmark::State& state) {
    BenchRoot root;
    QuietConsole quiet;
    StandInGui gui;
    Controller controller;
    if (!controller.started()) {
        state.SkipWithError("the controller did not finish its start-up");
        return;
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        for (const auto& [load, spinners] :
             {std::pair<std::string, long>{"busy", 1}, {"saturated", cores()}}) {
            BusyMachine busy(spinners);
            measureWindow(state, root.board().trace(), load + "_idle");
            // Setting updates the controller only stores: each takes a pass of its own.
            std::atomic<bool> streaming{true};
            int sent = 0;
            std::thread stream([&] {
                while (streaming.load()) {
                    gui.send(tEV_UPDATE | SETT_DATEFORMAT, static_cast<uint32_t>(sent++ % 2));
                    std::this_thread::sleep_for(kMessageInterval);
                }
            });
            measureWindow(state, root.board().trace(), load + "_messages");
            streaming.store(false);
            stream.join();
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

BENCHMARK(BM_LoopPeriod)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
