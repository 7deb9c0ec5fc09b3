// Feeds arbitrary bytes to the flash programmer's image reader as a ".jic" file: it must
// neither crash nor hang; a marker it finds lies within the header's search window and
// really is the marker, and the pages it reads hold exactly the file from there on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/FuzzHarness.h"
#include "tools/qflashprog/PromFile.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole("./fuzz-qflashprog-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("qflashprog", ".jic");
    fuzz::writeInput(path, data, size);
    PromFile file;
    if (!file.open(path)) {
        abort();
    }
    const long offset = file.skipJicHeader();
    if (offset >= 0 && (offset < long(JIC_FIRST_MARKER_OFFSET) || offset > long(JIC_LAST_MARKER_OFFSET) ||
                        memcmp(data + offset, "\xAF\xA6\xA6\xA6", 4) != 0)) {
        abort();
    }
    size_t at = offset < 0 ? 0 : size_t(offset);
    uint8_t page[PROM_PAGE_SIZE];
    while (size_t got = file.readPage(page)) {
        if (got > PROM_PAGE_SIZE || at + got > size || memcmp(page, data + at, got) != 0) {
            abort();
        }
        for (size_t i = got; i < PROM_PAGE_SIZE; ++i) {
            if (page[i] != PROM_ERASED) {
                abort();
            }
        }
        at += got;
    }
    if (at != size) {
        abort();
    }
    return 0;
}
