// Capturing the frame store to PNG on the simulated board: one eye and the side-by-side
// picture at compression levels 0, 1, 6 and 9, beside the bus time the same SPI traffic
// takes on the real board (8 640 transfers of 961 bytes per eye at 32 MHz), and the PNG
// encoding alone. On the board the wire must be the limit: up to level 6 a capture's CPU
// time has to stay under a fifth of its bus time. The CPU time measured here includes the
// simulated FPGA answering every transfer, so the controller's own share is smaller still.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "BenchRoot.h"
#include "QuietConsole.h"
#include "controller/fpga/FramePng.h"
#include "controller/fpga/fpga.h"
#include "sim/board/Board.h"

namespace {

constexpr const char* kCaptureFile = "capture.png";

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One board with a frozen frame store, shared by the benchmarks.
class Bench {
public:
    static Bench& get() {
        static Bench bench;
        return bench;
    }
    ostrixFpga& fpga() { return *fpga_; }
    sim::Board& board() { return root_.board(); }

    // The real board's SPI time for one capture, from the trace of one traced capture.
    double busSeconds(int channel) {
        board().trace().setEnabled(sim::TraceKind::Spi, true);
        board().trace().clear();
        fpga_->frameStoreToPNG(channel, kCaptureFile);
        double seconds = board().trace().busSeconds(sim::TraceKind::Spi);
        board().trace().clear();
        board().trace().setEnabled(sim::TraceKind::Spi, false);
        return seconds;
    }

    ~Bench() { fpga_.reset(); }

private:
    Bench() {
        QuietConsole quiet;
        board().pins().write(FPGA_RESET_N_Pin, 1); // out of reset, as a running board
        fpga_ = std::make_unique<ostrixFpga>("vp.jic", false);
        fpga_->freezeFrame(1);
        board().trace().setEnabled(sim::TraceKind::Spi, false);
    }
    BenchRoot root_;
    std::unique_ptr<ostrixFpga> fpga_;
};

void BM_CapturePng(benchmark::State& state) {
    Bench& b = Bench::get();
    const int channel = static_cast<int>(state.range(0));
    QuietConsole quiet;
    b.fpga().setPngCompression(static_cast<int>(state.range(1)));
    const double bus = b.busSeconds(channel);
    double cpu = 0;
    for (auto _ : state) {
        const double start = processCpuSeconds();
        b.fpga().frameStoreToPNG(channel, kCaptureFile);
        cpu += processCpuSeconds() - start;
    }
    const double perCapture = cpu / static_cast<double>(state.iterations());
    state.counters["bus_s_32MHz"] = bus;
    state.counters["cpu_s"] = perCapture;
    state.counters["cpu_per_bus"] = perCapture / bus;
}
BENCHMARK(BM_CapturePng)
    ->ArgNames({"lr", "level"})
    ->ArgsProduct({{LEFT, LEFTandRIGHT}, {0, 1, 6, 9}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

// The encoder alone, on a captured picture.
void BM_EncodePng(benchmark::State& state) {
    Bench& b = Bench::get();
    QuietConsole quiet;
    b.fpga().setPngCompression(0);
    b.fpga().frameStoreToPNG(LEFT, kCaptureFile);
    StoreImage image;
    readStoreImagePNG(kCaptureFile, image);
    const int level = static_cast<int>(state.range(0));
    size_t bytes = 0;
    for (auto _ : state) {
        FILE* out = fopen("encoded.png", "wb");
        PngRowWriter writer(out, image.width, image.height, level, {});
        writer.begin();
        for (uint32_t y = 0; y < image.height; ++y) {
            writer.writeRow(image.rgb.data() + size_t(y) * image.width * 3);
        }
        writer.finish();
        bytes = static_cast<size_t>(ftell(out));
        fclose(out);
    }
    state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_EncodePng)->ArgName("level")->Arg(0)->Arg(1)->Arg(6)->Arg(9)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
