// Feeds arbitrary bytes to the reader of pictures the frame store shows, as a PNG on a
// stick would reach it: decoding, the size check before the picture is allocated and the
// failure paths must neither crash nor leak.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "controller/fpga/FramePng.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-storepng-no-log-folder";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("storepng", ".png");
    fuzz::writeInput(path, data, size);
    StoreImage image;
    if (readStoreImagePNG(path, image) == 0 && image.rgb.size() != size_t(image.width) * image.height * 3) {
        __builtin_trap(); // a picture accepted with fewer bytes than its rows need
    }
    std::remove(path.c_str());
    return 0;
}
