// Feeds arbitrary bytes to the GUI's PNG reader, as a stored picture on a stick or the
// user's overlay picture reaches it: decoding must neither crash nor read outside the
// file, grey pictures are refused, a picture it takes holds exactly its width times
// height pixels, and drawing it as the chooser's preview and as the overlay stays inside
// the screen.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzHarness.h"
#include "gui/image/image.h"
#include "gui/render/vfb.h"

namespace {

constexpr uint32_t kScreenWidth = 800;
constexpr uint32_t kScreenHeight = 480;
// Where the chooser shows a stored picture.
constexpr uint32_t kPreviewX = 160;
constexpr uint32_t kPreviewY = 0;

void drawAsTheGuiDoes(const Ostrix::ImageFilePNG& image) {
    Ostrix::VFB vfb(kScreenWidth, kScreenHeight, kScreenWidth);
    vfb.DisplayImage(kPreviewX, kPreviewY, image.getRef(0, 0, image.width(), image.height()));
    const uint32_t w = std::min(image.width(), kScreenWidth);
    const uint32_t h = std::min(image.height(), kScreenHeight);
    vfb.CopyImage(0, 0, image.getRef(0, 0, w, h), false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::discardConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("guipng", ".png");
    fuzz::writeInput(path, data, size);
    Ostrix::ImageFilePNG image;
    if (image.load(path.c_str())) {
        const uint64_t pixels = uint64_t(image.width()) * image.height();
        if (pixels == 0) {
            abort();
        }
        // Touches the last pixel, so a buffer shorter than the picture is caught.
        volatile uint32_t last = image.data()[pixels - 1];
        (void)last;
        drawAsTheGuiDoes(image);
    } else if (image.width() != 0 || image.height() != 0) {
        abort(); // a refused picture leaves nothing behind
    }
    std::remove(path.c_str());
    return 0;
}
