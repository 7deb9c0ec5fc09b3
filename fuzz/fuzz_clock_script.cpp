// Feeds arbitrary bytes to the clock generator's script reader: it must neither crash
// nor hang, and a script it takes holds between one entry and the table's size, all for
// the generator's address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "controller/devices/clocks.h"
#include "fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Under libFuzzer the log only costs time: nothing of it is kept.
    fuzz::quietLogAndConsole("./fuzz-clock-script-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<i2c_register_entry> entries;
    if (read_clock_script(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz", entries) !=
        0) {
        return 0;
    }
    if (entries.empty() || entries.size() > static_cast<size_t>(MAX_ENTRIES)) {
        abort();
    }
    for (const i2c_register_entry& e : entries) {
        if (e.slave_address != I2C_BASE_SI5351) {
            abort();
        }
    }
    return 0;
}
