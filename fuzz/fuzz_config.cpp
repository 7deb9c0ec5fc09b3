// Feeds arbitrary bytes to the configuration reader as a file: the reader with every kind
// of getter, the controller's whole key table and the lens aberration sections must
// neither crash nor hang on them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "controller/core/ConfigFile.h"
#include "controller/core/configuration.h"
#include "fuzz/FuzzHarness.h"

namespace {

// A log folder that does not exist: messages are formatted and printed, never stored.
constexpr const char* kNoLogFolder = "./fuzz-config-no-log-folder";

// The getters on sections and keys a fuzzed file is likely to reach.
void readWithEveryGetter(const std::string& path) {
    const ConfigFile cfg(path);
    for (const char* section : {"", "SYSTEM", "S", "CAMERA"}) {
        for (const char* key : {"", "key", "zoommarkings", "a", "shutterangle"}) {
            cfg.get_string(section, key);
            cfg.get_int(section, key);
            cfg.get_float(section, key);
            cfg.get_filename(section, key);
            cfg.get_float_vector(section, key);
            cfg.get_int_vector(section, key);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Under libFuzzer the log only costs time: nothing is kept of it, and the console of
    // this harness (not of any board) is discarded. libFuzzer reports on standard error.
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("config", ".cfg");
    fuzz::writeInput(path, data, size);
    reset_process_state();
    readWithEveryGetter(path);
    read_config_file(path);
    for (int lens = LENSPOWER_NOLENS; lens <= LENSPOWER_X050; ++lens) {
        lens_aberration_points(path, lens);
    }
    csv_split(std::string(reinterpret_cast<const char*>(data), size), ',');
    std::remove(path.c_str());
    return 0;
}
