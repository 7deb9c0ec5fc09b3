// Feeds arbitrary bytes to the GUI's handling of the controller's messages, eight bytes
// (command word, data word) to a message, as the link delivers them: settings, keys,
// messages and versions must neither crash nor hang, a reply must be one the controller
// understands, and the overlay drawn after each message must lie on the screen.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "fuzz/FuzzHarness.h"
#include "gui/app/Display.h"
#include "gui/render/vfb.h"

namespace {

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 480;
constexpr size_t kMessageBytes = 8;
constexpr size_t kMaxMessages = 16;
constexpr uint32_t kIndexMask = 0xFFFF;

// The GUI's display for the whole run (building its menu runs shell commands); each
// input starts with the menu closed and no message shown.
Ostrix::Display& display() {
    static const auto d = std::make_unique<Ostrix::Display>(kScreenWidth, kScreenHeight);
    return *d;
}

uint32_t word(const uint8_t* bytes) {
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The messages the controller acts on from the GUI.
bool replyUnderstood(uint32_t reply0) {
    switch (eventCode(reply0)) {
    case tEV_ACTION:
    case tEV_ACTION_BEEP:
    case tEV_UPDATE:
        return eventParameter(reply0) < SETT_MAX_SETTING;
    case tEV_KEY:
    case tEV_PRESETLOADED:
    case tEV_OVERLAY:
    case tEV_POWER_ON:
    case tEV_POWER_OFF:
    case tEV_SYSUPDATE:
    case tEV_SAVELOG:
        return true;
    default:
        return false;
    }
}

void checkReply(uint32_t word0, bool send, uint32_t reply0, uint32_t reply1) {
    switch (eventCode(word0)) {
    case tEV_REQUEST:
        // The answer names the setting asked for, even one the GUI does not hold.
        if (!send || reply0 != tEV_UPDATE + (word0 & kIndexMask)) {
            abort();
        }
        return;
    case tEV_OVERLAY:
        if (!send || reply0 != tEV_OVERLAY || reply1 > 1) {
            abort();
        }
        return;
    default:
        break;
    }
    if (send && reply0 != 0 && !replyUnderstood(reply0)) {
        abort();
    }
}

void checkMessageBox() {
    const Ostrix::Menu& menu = display().menu();
    const Ostrix::Menu::Box& box = menu.MessageBox();
    if (display().currentMessage() != MESS_NONE && !menu.MessageText().mText.empty() &&
        (box.left < 0 || box.top < 0 || box.right >= kScreenWidth || box.bottom >= kScreenHeight)) {
        abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The menu runs shell commands (USB memory): on a simulated board of the run's own.
    fuzz::simulatedBoard("guicommand");
    fuzz::discardConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Ostrix::Display& d = display();
    d.menu().CloseMenu(false);
    d.clearMessageDisplay();
    Ostrix::VFB vfb(kScreenWidth, kScreenHeight, kScreenWidth);
    const size_t messages = std::min(size / kMessageBytes, kMaxMessages);
    for (size_t m = 0; m < messages; ++m) {
        const uint8_t* bytes = data + m * kMessageBytes;
        const uint32_t word0 = word(bytes);
        const uint32_t word1 = word(bytes + sizeof(uint32_t));
        uint32_t reply0 = 0;
        uint32_t reply1 = 0;
        bool showMessage = false;
        int messageTime = 0;
        const bool send = d.ProcessCommand(word0, word1, reply0, reply1, showMessage, messageTime);
        checkReply(word0, send, reply0, reply1);
        checkMessageBox();
        d.Update(vfb);
    }
    return 0;
}
