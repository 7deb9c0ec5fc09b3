#include "controller/core/GuiMessages.h"

#include "common/messages.h"
#include "controller/input/UserControls.h"

namespace {
constexpr int MS_PER_SECOND = 1000;
} // namespace

int queue_gui_message(uint32_t command, uint32_t data) {
    if (!user_controls) {
        return GUI_QUEUE_UNAVAILABLE;
    }
    message_s msg{command, data};
    return user_controls->pushMessage(&msg);
}

int display_message(uint32_t index, int seconds) {
    return queue_gui_message(tEV_MESSAGE | index, static_cast<uint32_t>(seconds * MS_PER_SECOND));
}
