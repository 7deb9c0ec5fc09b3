// Uploading a full-frame warp table pair (1920 x 1080 pixel table and its line table) to
// the simulated display FPGA, against reading and parsing the same files. On the real
// board the SPI wire is the limit: the upload must cost far less CPU than the bus time the
// trace estimates for it, and parsing must be a small part of the upload.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "controller/fpga/WarpTable.h"
#include "controller/fpga/fpga.h"
#include "platform/platform.h"
#include "sim/board/Board.h"
#include "sim/board/BoardBuilder.h"
#include "tools/warpgen/WarpGenerator.h"

namespace {

constexpr double kRotationDegrees = 0.6; // non-trivial table values
constexpr double kBytesPerMegabyte = 1e6;

// One simulated board with a constructed ostrixFpga and the two table files.
class Bench {
public:
    static Bench& get() {
        static Bench bench;
        return bench;
    }
    ostrixFpga& fpga() { return *fpga_; }
    sim::Board& board() { return *board_; }
    const std::string& linePath() const { return line_; }
    const std::string& pixelPath() const { return pixel_; }
    size_t tableBytes() const { return bytes_; }

    ~Bench() {
        fpga_.reset();
        platform::setBackend(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

private:
    Bench() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ostrix-bench-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        board_ = &sim::BoardBuilder(root_).build();
        std::string home = root_ + "/home/pi/Ostrix";
        std::filesystem::create_directories(home + "/log");
        (void)!chdir(home.c_str());
        line_ = home + "/warpline.txt";
        pixel_ = home + "/warppixel.txt";
        std::ofstream(line_) << warpgen::lineTable(FRAME_STORE_LINE_LEN, FRAME_STORE_MAX_LINE,
                                                   kRotationDegrees);
        std::ofstream(pixel_) << warpgen::pixelTable(FRAME_STORE_LINE_LEN, FRAME_STORE_MAX_LINE,
                                                     kRotationDegrees);
        bytes_ = std::filesystem::file_size(line_) + std::filesystem::file_size(pixel_);
        board_->pins().write(FPGA_RESET_N_Pin, 1); // out of reset, as a running board
        fpga_ = std::make_unique<ostrixFpga>("vp.jic", false);
    }
    std::string root_, line_, pixel_;
    size_t bytes_ = 0;
    sim::Board* board_ = nullptr;
    std::unique_ptr<ostrixFpga> fpga_;
};

void BM_ReadTableFiles(benchmark::State& state) {
    Bench& b = Bench::get();
    std::string text;
    for (auto _ : state) {
        readWarpFile(b.linePath(), text);
        readWarpFile(b.pixelPath(), text);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.tableBytes()));
}
BENCHMARK(BM_ReadTableFiles)->Unit(benchmark::kMillisecond);

void BM_ReadAndParseTables(benchmark::State& state) {
    Bench& b = Bench::get();
    std::string text;
    size_t words = 0;
    for (auto _ : state) {
        readWarpFile(b.linePath(), text);
        words = parseWarpTable(text.data(), text.size(), WARP_LINE_VALUEBITS).words.size();
        readWarpFile(b.pixelPath(), text);
        words += parseWarpTable(text.data(), text.size(), WARP_PIXEL_VALUEBITS).words.size();
        benchmark::DoNotOptimize(words);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.tableBytes()));
    state.counters["ddr_words"] = static_cast<double>(words);
}
BENCHMARK(BM_ReadAndParseTables)->Unit(benchmark::kMillisecond);

void BM_UploadTablesToFpga(benchmark::State& state) {
    Bench& b = Bench::get();
    double transfers = 0, busSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        b.board().trace().clear();
        state.ResumeTiming();
        b.fpga().copyFileToSPI(b.linePath(), LINE_FILE_START_ADDRESS, WARP_LINE_VALUEBITS, LEFT);
        b.fpga().copyFileToSPI(b.pixelPath(), PIXEL_FILE_START_ADDRESS, WARP_PIXEL_VALUEBITS, LEFT);
        transfers = static_cast<double>(b.board().trace().count(sim::TraceKind::Spi));
        busSeconds = b.board().trace().busSeconds(sim::TraceKind::Spi);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.tableBytes()));
    state.counters["table_MB"] = static_cast<double>(b.tableBytes()) / kBytesPerMegabyte;
    state.counters["spi_transfers"] = transfers;
    state.counters["bus_s_32MHz"] = busSeconds;
}
BENCHMARK(BM_UploadTablesToFpga)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
