#include "controller/core/GuiMessages.h"

#include <algorithm>
#include <cstdint>

#include "common/messages.h"
#include "controller/input/UserControls.h"

namespace {
constexpr int64_t MS_PER_SECOND = 1000;

// The message time in milliseconds as the data word carries it: a long time stays long
// instead of wrapping into a short one.
uint32_t messageTimeMs(int seconds) {
    if (seconds <= 0) {
        return 0;
    }
    return static_cast<uint32_t>(std::min<int64_t>(seconds * MS_PER_SECOND, UINT32_MAX));
}
} // namespace

int queue_gui_message(uint32_t command, uint32_t data) {
    if (!user_controls) {
        return GUI_QUEUE_UNAVAILABLE;
    }
    message_s msg{command, data};
    return user_controls->pushMessage(&msg);
}

int display_message(uint32_t index, int seconds) {
    return queue_gui_message(tEV_MESSAGE | index, messageTimeMs(seconds));
}
