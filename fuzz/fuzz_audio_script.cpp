// Feeds arbitrary bytes to the audio codec's script reader: it must neither crash nor
// hang, and a script it takes never names page select registers, registers beyond the
// codec's pages or more writes than its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "controller/devices/AudioScript.h"
#include "fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Under libFuzzer the log only costs time: nothing of it is kept.
    fuzz::quietLogAndConsole("./fuzz-audio-script-no-log-folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<audio_register_entry> table;
    if (!parse_audio_script(std::string_view(reinterpret_cast<const char*>(data), size), table)) {
        return 0;
    }
    if (table.size() > MAX_AUDIO_SCRIPT_ENTRIES) {
        abort();
    }
    for (const audio_register_entry& e : table) {
        if (e.reg >= AIC31XX_REGISTERS || e.reg % AIC31XX_PAGE_SIZE == 0 || e.value > 0xFF || e.width != 1) {
            abort();
        }
    }
    return 0;
}
