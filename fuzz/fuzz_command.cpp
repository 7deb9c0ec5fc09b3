// Feeds arbitrary bytes to the command file's reader and acts on what it made of them:
// neither may crash, read without bound or queue anything but a known message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/SettingsIndex.h"
#include "controller/core/CommandFile.h"
#include "controller/core/MainLoop.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-command-no-log-folder";

bool knownMessage(const message_s& msg) {
    switch (msg.command) {
    case tEV_POWER_OFF:
    case tEV_POWER_ON:
    case tEV_SYSUPDATE:
    case tEV_KEY | UKEY_P_IMAGECAPTURE:
        return msg.data == 0;
    case tEV_ACTION | SETT_IMAGE_SOURCE:
        return msg.data <= INT32_MAX;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    const CommandFileEntry entry = read_command(in);
    if (entry.word.size() > COMMAND_WORD_MAX + 1) {
        std::abort();
    }
    loop_state.typed_command = false;
    act_on_command(entry);
    if (loop_state.typed_command && !knownMessage(loop_state.typed_message)) {
        std::abort();
    }
    loop_state.typed_command = false;
    return 0;
}
