// Feeds arbitrary bytes to the streaming tool's table reader as a line table and as a
// pixel table: it must neither crash nor hang, and a table it accepts is well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzHarness.h"
#include "tools/spiload/spiload.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole("./fuzz-spiload-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("spiload", ".txt");
    fuzz::writeInput(path, data, size);
    for (int bits : {WARP_LINE_VALUEBITS, WARP_PIXEL_VALUEBITS}) {
        WarpTable table;
        const int result = readSpiloadTable(path, bits, table);
        if ((result != 0 && result != 1) || (result == 0) == table.malformed) {
            abort();
        }
    }
    return 0;
}
