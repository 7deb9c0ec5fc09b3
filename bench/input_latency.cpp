// Latency of user input on the simulated board: OstrixPi runs with a stand-in GUI that
// answers the gain hotkey as the GUI does (a new camera gain). The benchmark presses the
// front-panel "up" button and times it to the key at the GUI, and types the keypad's gain
// key and times it to the gain command at the camera board; 100 presses each, median and
// worst reported. A last pass unplugs the keypad and reports the controller's CPU use
// afterwards beside its idle use before it was plugged in.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/chips/FrontPanel.h"
#include "sim/chips/UsbInput.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/unit/link/UdpPeer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPresses = 100;
constexpr auto kWaitLimit = std::chrono::seconds(5);
constexpr auto kCpuWindow = std::chrono::seconds(3);
constexpr int kUpButton = 1;

std::string programPath() {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "bin" / "OstrixPi").string();
}

// The GUI's side of the link: answers setting requests with 0 and a gain-up key with the
// next gain, and notes when each key arrives.
class GainGui {
public:
    GainGui() : thread_([this] { serve(); }) {}
    ~GainGui() {
        stop_.store(true);
        thread_.join();
    }
    size_t keys(uint32_t key) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<size_t>(std::count(keys_.begin(), keys_.end(), key));
    }

private:
    void serve() {
        while (!stop_.load()) {
            std::optional<Datagram> d = peer_.receive(1);
            if (!d || d->bytes.size() != MESSAGE_WIRE_SIZE) {
                continue;
            }
            const message_s msg = decodeMessage(d->bytes.data());
            if (eventCode(msg.command) == tEV_REQUEST) {
                peer_.sendMessage(d->sourcePort, tEV_UPDATE | eventParameter(msg.command), 0);
            } else if (eventCode(msg.command) == tEV_KEY) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    keys_.push_back(eventParameter(msg.command));
                }
                if (eventParameter(msg.command) == UKEY_GAIN_UP) {
                    gain_ = (gain_ + 1) % 0x40;
                    peer_.sendMessage(d->sourcePort, tEV_ACTION | SETT_CAMERA_GAIN, gain_);
                }
            }
        }
    }
    UdpPeer peer_{GUI_PORT};
    mutable std::mutex mutex_;
    std::vector<uint32_t> keys_;
    uint32_t gain_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrix-bench-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : "";
        sim::initRoot(root());
        std::ofstream(work() + "/ostrix.cfg") << "[SYSTEM]\nmajorversion = 1\n";
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string root() const { return path_ + "/root"; }
    std::string work() const { return root() + "/home/pi/Ostrix"; }

private:
    std::string path_;
};

template <typename Condition> bool waitFor(Condition condition) {
    const auto limit = Clock::now() + kWaitLimit;
    while (!condition()) {
        if (Clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

void report(benchmark::State& state, const char* name, std::vector<double> ms) {
    if (ms.empty()) {
        return;
    }
    std::sort(ms.begin(), ms.end());
    state.counters[std::string(name) + "_median_ms"] = ms[ms.size() / 2];
    state.counters[std::string(name) + "_worst_ms"] = ms.back();
}

double cpuPercent(testing_support::OstrixPiProcess& controller) {
    const double before = controller.cpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(kCpuWindow);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    return 100.0 * (controller.cpuSeconds() - before) / wall;
}

void BM_InputLatency(benchmark::State& state) {
    Scratch scratch;
    GainGui gui;
    testing_support::OstrixPiProcess controller(programPath(), scratch.root(), scratch.work());
    if (!controller.waitForLog("MAIN: GUI settings collected\n")) {
        state.SkipWithError("the controller did not finish its start-up");
        return;
    }
    // The board's shared state, seen from this process as ostrix-sim sees it.
    sim::Board board(scratch.root(), sim::BoardConfig::load(sim::Board::configPath(scratch.root())));
    auto& panel = *board.find<sim::FrontPanelExpander>();
    auto& input = *board.find<sim::UsbInput>();
    auto& camera = *board.find<sim::CameraBoardModel>();
    for (auto _ : state) {
        const double idle = cpuPercent(controller);
        std::vector<double> toGui, toCamera;
        for (int i = 0; i < kPresses; ++i) {
            const size_t before = gui.keys(UKEY_UP);
            const auto start = Clock::now();
            panel.press(kUpButton);
            if (waitFor([&] { return gui.keys(UKEY_UP) > before; })) {
                toGui.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            panel.release(kUpButton);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        input.plug(sim::UsbInput::kKeypad);
        controller.waitForLog("UC: Keypad/Kbd Connected\n");
        for (int i = 0; i < kPresses; ++i) {
            const uint32_t gain = camera.settings().gain;
            const auto start = Clock::now();
            input.key(sim::UsbInput::kKeypad, KEY_T, 1);
            if (waitFor([&] { return camera.settings().gain != gain; })) {
                toCamera.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            input.key(sim::UsbInput::kKeypad, KEY_T, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        input.unplug(sim::UsbInput::kKeypad);
        controller.waitForLog("UC: Keypad/Kbd Disconnected\n");
        const double afterUnplug = cpuPercent(controller);
        report(state, "button_to_gui", toGui);
        report(state, "key_to_camera_gain", toCamera);
        state.counters["presses_timed"] = static_cast<double>(toGui.size() + toCamera.size());
        state.counters["idle_cpu_percent"] = idle;
        state.counters["cpu_percent_after_unplug"] = afterUnplug;
    }
    controller.stop();
}

BENCHMARK(BM_InputLatency)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
