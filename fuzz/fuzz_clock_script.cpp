// Feeds arbitrary bytes to the clock generator's script reader: it must neither crash
// nor hang, and a script it takes holds between one entry and the table's size, all for
// the generator's address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "common/logfile.h"
#include "controller/devices/clocks.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Under libFuzzer the log only costs time: nothing of it is kept.
    setLogFolder("./fuzz-clock-script-no-log-folder");
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
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
