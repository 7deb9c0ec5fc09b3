// Feeds arbitrary bytes to the EDID file reader: it must never crash, and it takes a file
// only when it holds exactly one EDID, leaving the table untouched otherwise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "controller/devices/hdmi_rx.h"
#include "fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole("./fuzz-edid-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("edid", ".bin");
    fuzz::writeInput(path, data, size);
    uint8_t table[EDID_SIZE];
    std::memset(table, 0xA5, sizeof table);
    const EdidFileResult result = read_edid_file(path.c_str(), table);
    if (size == EDID_SIZE) {
        if (result != EdidFileResult::Loaded || std::memcmp(table, data, EDID_SIZE) != 0) {
            abort();
        }
        return 0;
    }
    if (result != EdidFileResult::WrongSize) {
        abort();
    }
    for (uint8_t byte : table) {
        if (byte != 0xA5) {
            abort();
        }
    }
    return 0;
}
