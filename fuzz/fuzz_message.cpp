// Feeds arbitrary bytes to the controller's handling of the GUI's messages, eight bytes
// (command word, data word) to a message, as the link hands them to the main loop: the
// filters, the dispatch, the setting handlers and the keys must neither crash nor loop,
// whatever the GUI sends. A setting message stores its value in range and nothing
// outside the table; every input starts from a freshly started controller.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "common/timeout.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "fuzz/FuzzHarness.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-message-no-log-folder";
constexpr size_t kMessageBytes = 8;
// A burst longer than this is cut: more messages only repeat what a sequence explores.
constexpr size_t kMaxMessages = 16;

uint32_t word(const uint8_t* bytes) {
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

void freshController() {
    reset_process_state();
    reset_main_loop_state();
    reset_setting_state();
    reset_controller_keys();
    // Messages are acted on: the start-up guard has run out.
    delete_timeout(&loop_timers.standbyGuard);
}

bool isSetting(uint32_t kind) {
    return kind == tEV_ACTION || kind == tEV_ACTION_BEEP || kind == tEV_UPDATE;
}

// What a message may do to the stored settings: a setting message that passed the
// filters stores its value at its own index and nowhere else; any other message stores
// nothing (a preset or a key only asks the GUI again).
void checkSettings(const message_s& msg, const int32_t (&before)[SETT_MAX_SETTING], bool acted) {
    const uint32_t kind = eventCode(msg.command);
    const uint32_t index = eventParameter(msg.command);
    for (uint32_t i = 0; i < SETT_MAX_SETTING; ++i) {
        if (shadow_settings[i] == before[i]) {
            continue;
        }
        const bool stored = acted && isSetting(kind) && i == index && index <= uint32_t(LAST_SETTING_INDEX) &&
                            shadow_settings[i] == int32_t(msg.data);
        if (!stored && kind != tEV_KEY) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The handlers reach the platform (pins, shell): a simulated board of the run's own.
    fuzz::simulatedBoard("message");
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    freshController();
    const size_t messages = std::min(size / kMessageBytes, kMaxMessages);
    for (size_t m = 0; m < messages; ++m) {
        const uint8_t* bytes = data + m * kMessageBytes;
        const message_s msg{word(bytes), word(bytes + sizeof(uint32_t))};
        int32_t before[SETT_MAX_SETTING];
        std::copy(std::begin(shadow_settings), std::end(shadow_settings), before);
        const bool acted = !execute_mode.standby && !execute_mode.screenoff;
        handle_message(msg);
        settings_collection_step();
        checkSettings(msg, before, acted);
        if (loop_state.settings_collection_index < 0 ||
            loop_state.settings_collection_index > LAST_SETTING_INDEX + 1) {
            abort();
        }
    }
    freshController();
    return 0;
}
