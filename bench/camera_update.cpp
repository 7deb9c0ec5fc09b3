// A camera FPGA update of a realistic image on the simulated board: the bytes the update
// puts on the serial line and the time they take at 115200 baud (8 data bits, even parity,
// start and stop bit), with the run-length encoding the controller uses, and for the same
// blocks sent as plain "!" groups without it. Erased blocks are never sent in either case.
// The image stands in for a 5CEBA4 bitstream: about 3.2 MB of configuration data, long
// zero runs where the fabric is unused, padded with erased bytes to the flash area.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "BenchRoot.h"
#include "QuietConsole.h"
#include "controller/camera/CameraBoard.h"
#include "sim/board/Board.h"
#include "sim/camera/CameraBoardModel.h"

namespace {

constexpr size_t kBitstreamBytes = 3200 * 1024;
constexpr size_t kPaddedBytes = 4 * 1024 * 1024;
constexpr double kBitsPerByte = 11.0;
constexpr double kBaud = 115200.0;
constexpr size_t kBlock = 256;
// "$GW xxxxxx " and "\n" around a block, "!" and its count byte per group.
constexpr size_t kLineOverhead = 12;
constexpr size_t kGroupOverhead = 2;
constexpr size_t kReplyBytes = 4; // "#OK\n"

std::vector<uint8_t> bitstream() {
    std::mt19937 random(5);
    std::vector<uint8_t> image;
    image.reserve(kPaddedBytes);
    while (image.size() < kBitstreamBytes) {
        // Stretches of configuration bits, then an unused region of zeros.
        size_t literal = 64 + random() % 1024;
        for (size_t i = 0; i < literal; ++i) {
            image.push_back(static_cast<uint8_t>(random()));
        }
        image.insert(image.end(), 5 + random() % 600, 0x00);
    }
    image.resize(kPaddedBytes, 0xFF);
    return image;
}

// Line bytes of the same non-erased blocks sent as plain groups, and their replies.
double plainLineBytes(const std::vector<uint8_t>& image) {
    double total = 0;
    for (size_t at = 0; at < image.size(); at += kBlock) {
        auto begin = image.begin() + static_cast<long>(at);
        if (std::any_of(begin, begin + kBlock, [](uint8_t b) { return b != 0xFF; })) {
            total += kLineOverhead + kGroupOverhead + kBlock + kReplyBytes;
        }
    }
    return total;
}

void BM_CameraFpgaUpdate(benchmark::State& state) {
    QuietConsole quiet;
    BenchRoot root([](sim::BoardBuilder& b) { b.withCameraBootMs(0).withManualCameraRail(true); });
    if (!root.board().find<sim::CameraBoardModel>()->waitForLink(true)) {
        std::abort();
    }
    const std::vector<uint8_t> image = bitstream();
    std::ofstream("camera.rpd", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    CameraBoard camera(nullptr, nullptr, nullptr);
    double lineBytes = 0;
    for (auto _ : state) {
        root.board().trace().clear();
        if (camera.update_fpga("camera.rpd") != CMD_OK) {
            state.SkipWithError("the update failed");
            break;
        }
        lineBytes = 0;
        for (const auto& e : root.board().trace().entries(sim::TraceKind::Serial)) {
            lineBytes += static_cast<double>(e.out.size() + e.in.size());
        }
    }
    const double plain = plainLineBytes(image);
    state.counters["line_MB"] = lineBytes / 1e6;
    state.counters["line_s_115200"] = lineBytes * kBitsPerByte / kBaud;
    state.counters["plain_MB"] = plain / 1e6;
    state.counters["plain_s_115200"] = plain * kBitsPerByte / kBaud;
}
BENCHMARK(BM_CameraFpgaUpdate)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

} // namespace
