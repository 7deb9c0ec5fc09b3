// The cost of one 800 x 480 overlay frame: every controller message and timer tick
// re-renders it. Each frame benchmark reports frames per second and how many plain
// copies of the frame's 800 x 480 x 4 bytes it costs ("x_plain_copy").
#include <QColor>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchRoot.h"
#include "QuietConsole.h"
#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/image/image.h"
#include "gui/render/vfb.h"
#include "gui/settings/OstrixControlSettings.h"

namespace {

constexpr uint32_t kWidth = 800;
constexpr uint32_t kHeight = 480;
constexpr size_t kFramePixels = size_t(kWidth) * kHeight;
constexpr int kBaselineRuns = 2000;

// CPU time of this thread: the machine is shared, so wall time says little.
struct Clock {
    using duration = std::chrono::nanoseconds;
    static duration now() {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    }
};

// The CPU time of one plain copy of a frame, in seconds (mean of many runs).
double plainCopySeconds() {
    static const double seconds = [] {
        std::vector<uint32_t> from(kFramePixels, 0x80123456u), to(kFramePixels);
        std::memcpy(to.data(), from.data(), kFramePixels * sizeof(uint32_t)); // pages in
        const auto start = Clock::now();
        for (int i = 0; i < kBaselineRuns; ++i) {
            std::memcpy(to.data(), from.data(), kFramePixels * sizeof(uint32_t));
            benchmark::DoNotOptimize(to.data());
            benchmark::ClobberMemory();
        }
        return std::chrono::duration<double>(Clock::now() - start).count() / kBaselineRuns;
    }();
    return seconds;
}

// Frames per second and cost relative to a plain copy, from the timed loop.
void reportFrames(benchmark::State& state, Clock::duration elapsed) {
    const double perFrame = std::chrono::duration<double>(elapsed).count() / double(state.iterations());
    state.counters["fps"] = 1.0 / perFrame;
    state.counters["x_plain_copy"] = perFrame / plainCopySeconds();
}

// A menu-like overlay: a translucent menu box with item boxes, icons blended in, text
// glyphs, a status bar, a dashed grid that does not cross the menu and a cross.
struct OverlayContent {
    Ostrix::ImageFile icons{64, 64};
    Ostrix::ImageFile glyphs{16, 24};
    Ostrix::ImageFile background{300, 360, 0x80202020u};

    OverlayContent() {
        for (uint32_t y = 0; y < icons.height(); ++y) {
            for (uint32_t x = 0; x < icons.width(); ++x) {
                icons.setPixel(x, y, ((x + y) % 3 == 0) ? 0x00000000u : (0x80u + x) << 24 | 0x00FFAA00u);
            }
        }
        for (uint32_t y = 0; y < glyphs.height(); ++y) {
            for (uint32_t x = 0; x < glyphs.width(); ++x) {
                glyphs.setPixel(x, y, (x * y) % 5 == 0 ? 0xFFFFFFFFu : 0x00000000u);
            }
        }
    }

    void draw(Ostrix::VFB& vfb) const {
        constexpr uint32_t menuX = 40, menuY = 40, itemHeight = 40, items = 8;
        vfb.DrawRect(menuX, menuY, 300, 20, 0xFF0000FFu);
        for (uint32_t i = 0; i < items; ++i) {
            const uint32_t y = menuY + 30 + i * itemHeight;
            vfb.CopyImage(menuX + 10, y, icons.getRef(0, 0, 32, 32), false);
            for (uint32_t c = 0; c < 12; ++c) {
                vfb.CopyImage(menuX + 50 + c * 18, y + 4, glyphs.getRef(0, 0, 16, 24), false);
            }
        }
        vfb.CopyImage(menuX, menuY, background.getRef(0, 0, 300, 360), true);
        vfb.DrawRect(0, kHeight - 30, kWidth, 30, 0xC0000000u);
        for (uint32_t x = 0; x < kWidth; x += 40) {
            vfb.DrawVLine(x, 0, kHeight, 0xFFFFFF00u, false, true);
        }
        for (uint32_t y = 0; y < kHeight; y += 40) {
            vfb.DrawHLine(0, y, kWidth, 0xFFFFFF00u, false, true);
        }
        vfb.DrawHLine(kWidth / 2 - 50, kHeight / 2, 100, 0xFFFF0000u, true, false);
        vfb.DrawVLine(kWidth / 2, kHeight / 2 - 50, 100, 0xFFFF0000u, true, false);
    }
};

void BM_PlainCopy(benchmark::State& state) {
    std::vector<uint32_t> from(kFramePixels, 0x80123456u), to(kFramePixels);
    const auto start = Clock::now();
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFramePixels * sizeof(uint32_t));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    reportFrames(state, Clock::now() - start);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFramePixels * sizeof(uint32_t)));
}
BENCHMARK(BM_PlainCopy);

// An empty overlay (nothing shown, the menu closed): built and copied.
void BM_VfbEmptyFrame(benchmark::State& state) {
    std::vector<uint32_t> destination(kFramePixels);
    const auto start = Clock::now();
    for (auto _ : state) {
        Ostrix::VFB vfb(kWidth, kHeight, kWidth);
        vfb.Update(destination.data());
        benchmark::DoNotOptimize(destination.data());
    }
    reportFrames(state, Clock::now() - start);
}
BENCHMARK(BM_VfbEmptyFrame);

// A full menu screen: build, draw, copy.
void BM_VfbMenuFrame(benchmark::State& state) {
    const OverlayContent content;
    std::vector<uint32_t> destination(kFramePixels);
    const auto start = Clock::now();
    for (auto _ : state) {
        Ostrix::VFB vfb(kWidth, kHeight, kWidth);
        content.draw(vfb);
        vfb.Update(destination.data());
        benchmark::DoNotOptimize(destination.data());
    }
    reportFrames(state, Clock::now() - start);
}
BENCHMARK(BM_VfbMenuFrame);

// What the window does per message: the keyed background, the overlay image, the frame
// buffer drawn and copied in, and the overlay painted over the background.
void BM_WindowFrame(benchmark::State& state) {
    const OverlayContent content;
    const QColor key(0, 128, 128, 255);
    const auto start = Clock::now();
    for (auto _ : state) {
        QImage background(kWidth, kHeight, QImage::Format_ARGB32);
        background.fill(key);
        QImage overlay(kWidth, kHeight, QImage::Format_ARGB32);
        Ostrix::VFB vfb(kWidth, kHeight, overlay.bytesPerLine() / 4);
        content.draw(vfb);
        vfb.Update(overlay.bits());
        QPainter painter(&background);
        painter.drawImage(0, 0, overlay);
        painter.end();
        benchmark::DoNotOptimize(background.constBits());
    }
    reportFrames(state, Clock::now() - start);
}
BENCHMARK(BM_WindowFrame);

// The real menu fully open: status bar, information bar, three menu levels with their
// pictures and texts, and the measurement crosses, drawn by the GUI's own code and copied
// out. "ms_per_frame" is the CPU time of one frame.
// The program's pictures: beside the sources when the compiler named them absolutely,
// else in the checkout that holds the build folder (build-bench/bench/gui_render).
std::filesystem::path pictureFolder() {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path candidates[] = {
        fs::absolute(fs::path(__FILE__), ignored).parent_path().parent_path() / "resources",
        fs::read_symlink("/proc/self/exe", ignored).parent_path().parent_path().parent_path() / "resources",
        fs::current_path(ignored) / "resources",
    };
    for (const fs::path& c : candidates) {
        if (fs::exists(c / "Ostrix GUI Icons.png", ignored)) {
            return c;
        }
    }
    return candidates[0];
}

void BM_MenuFullyOpenFrame(benchmark::State& state) {
    const std::filesystem::path resources = pictureFolder();
    const BenchRoot root;
    std::filesystem::create_directories("resources");
    for (const char* f : {"font_en.png", "slider.png", "Ostrix GUI Icons.png"}) {
        std::filesystem::copy_file(resources / f, std::filesystem::path("resources") / f,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    const QuietConsole quiet;
    ostrixControlSettings = OstrixControlSettings();
    ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, 1);
    ostrixControlSettings.SetValue(SETT_UI_INFORMATIONTEXT, 1);
    ostrixControlSettings.SetValue(SETT_UI_CROSSHAIRSIZE, 2);
    ostrixControlSettings.SetValue(SETT_MEAS_TYPE, 0);
    ostrixControlSettings.SetValue(SETT_OVERVIEW_MODE, 0);
    ostrixControlSettings.SetValue(SETT_ZOOM_VALUE, 200);
    auto display = std::make_unique<Ostrix::Display>(int(kWidth), int(kHeight));
    // Camera -> H Mirror -> On/Off: three levels open.
    for (uint32_t key : {UKEY_SELECT, UKEY_DOWN, UKEY_RIGHT, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN,
                         UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_RIGHT}) {
        uint32_t reply0 = 0;
        uint32_t reply1 = 0;
        bool show = false;
        int time = 0;
        display->ProcessCommand(tEV_KEY + key, 0, reply0, reply1, show, time);
    }
    constexpr size_t kLevels = 3;
    if (display->menu().Path().size() != kLevels) {
        state.SkipWithError("the menu is not open three levels deep");
    }
    std::vector<uint32_t> destination(kFramePixels);
    const auto start = Clock::now();
    for (auto _ : state) {
        Ostrix::VFB vfb(kWidth, kHeight, kWidth);
        display->Update(vfb);
        vfb.Update(destination.data());
        benchmark::DoNotOptimize(destination.data());
    }
    const auto elapsed = Clock::now() - start;
    reportFrames(state, elapsed);
    state.counters["ms_per_frame"] =
        std::chrono::duration<double, std::milli>(elapsed).count() / double(state.iterations());
    display.reset();
    ostrixControlSettings = OstrixControlSettings();
}
BENCHMARK(BM_MenuFullyOpenFrame);

} // namespace
