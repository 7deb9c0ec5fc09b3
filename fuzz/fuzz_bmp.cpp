// Feeds arbitrary bytes to the BMP reader as a file, as a picture on a stick would reach
// the stored-image display: loading and reading every row the store would take, and the
// corners, must neither crash nor read outside the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "controller/image/bitmap.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-bmp-no-log-folder";
constexpr unsigned kStoreLines = 1080;
constexpr unsigned kStereoWidth = 3840;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("bmp", ".bmp");
    fuzz::writeInput(path, data, size);
    bitmap image;
    if (image.load(path) == BM_OK) {
        const uint32_t width = image.width();
        const uint32_t height = image.height();
        std::vector<pixel> row(kStereoWidth);
        for (unsigned y = 0; y < height && y < kStoreLines; ++y) {
            image.getline(y, row.data(), kStereoWidth);
        }
        if (width <= kStereoWidth) {
            image.getline(0, row.data());
        }
        for (unsigned y : {0u, height - 1, height, height + 1}) {
            for (unsigned x : {0u, width - 1, width}) {
                image.pixelColour(x, y);
            }
        }
    }
    std::remove(path.c_str());
    return 0;
}
