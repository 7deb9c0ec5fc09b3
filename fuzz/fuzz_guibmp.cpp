// Feeds arbitrary bytes to the GUI's BMP reader, as a picture on a stick reaches the
// stored-picture chooser: decoding must neither crash nor read outside the input, and a
// picture it takes must hold exactly its width times height pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzHarness.h"
#include "gui/image/image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::discardConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Ostrix::ImageFileBMP image;
    if (image.decode(data, size)) {
        const uint64_t pixels = uint64_t(image.width()) * image.height();
        if (pixels == 0 || image.width() > Ostrix::ImageFileBMP::kMaxDimension ||
            image.height() > Ostrix::ImageFileBMP::kMaxDimension) {
            abort();
        }
        // Touches the last pixel, so a buffer shorter than the picture is caught.
        volatile uint32_t last = image.data()[pixels - 1];
        (void)last;
    }
    return 0;
}
