// Feeds arbitrary bytes to the reader of the status icons, as a replaced file in
// resources/ would reach it: decoding, the size check before the bitmap is allocated and
// the failure paths must neither crash nor leak, and a slot is full only when whole.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "controller/fpga/fpga.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-icon-no-log-folder";

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("icon", ".png");
    fuzz::writeInput(path, data, size);
    ICON_STRUCT icon;
    int result = readIconImage(path, icon);
    bool whole = icon.bitmap && icon.width > 0 && icon.height > 0 && icon.width <= uint32_t(OVERLAY_WIDTH) &&
                 icon.height <= uint32_t(OVERLAY_HEIGHT);
    bool empty = !icon.bitmap && icon.width == 0 && icon.height == 0;
    if ((result == 0 && !whole) || (result != 0 && !empty)) {
        __builtin_trap(); // a slot left half filled
    }
    std::remove(path.c_str());
    return 0;
}
