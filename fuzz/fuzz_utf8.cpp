// Feeds arbitrary bytes to the overlay text as UTF-8: decoding, measuring, drawing and the
// message box's splitting and clipping must neither crash nor hang, and the laid-out
// message must lie on the screen.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/FuzzHarness.h"
#include "gui/menu/Menu.h"
#include "gui/render/OverlayText.h"
#include "gui/render/vfb.h"
#include "sim/board/Board.h"

namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 480;

Ostrix::Menu& menu() {
    static std::unique_ptr<Ostrix::Menu> m = [] {
        auto made = std::make_unique<Ostrix::Menu>(kScreenWidth, kScreenHeight);
#ifdef OSTRIX_SOURCE_DIR
        Ostrix::OverlayText::LoadFont(OSTRIX_SOURCE_DIR "/resources/font_en.png");
#endif
        return made;
    }();
    return *m;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The menu runs shell commands at start: on a simulated board of the run's own. Only
    // the console goes: libFuzzer reports its runs and any crash on standard error.
    fuzz::simulatedBoard("utf8");
    fuzz::discardConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Ostrix::OverlayText overlay(text, uint32_t(size % 900), uint32_t(size % 500));
    uint32_t w = 0;
    uint32_t h = 0;
    overlay.Rect(w, h);
    Ostrix::VFB vfb(kScreenWidth, kScreenHeight, kScreenWidth);
    overlay.DrawText(vfb);
    menu().SetMessage(text);
    const Ostrix::Menu::Box& box = menu().MessageBox();
    if (!menu().MessageText().mText.empty() &&
        (box.left < 0 || box.top < 0 || box.right >= kScreenWidth || box.bottom >= kScreenHeight)) {
        abort();
    }
    menu().DrawMessage(vfb);
    return 0;
}
