// The GUI's facade over the overlay: every controller message passes through
// ProcessCommand, which updates the settings, the version numbers and the displayed
// message and may produce one reply; Update draws the overlay into a frame buffer.
#pragma once

#include <cstdint>

#include "common/SettingsIndex.h"
#include "gui/menu/Menu.h"
#include "gui/render/vfb.h"

// Versions reported by the controller (shown by the version screen).
namespace Ostrix {

// Shared with the controller by name only: kept in the GUI's namespace so that a test
// linking both programs' code sees two variables.
extern uint32_t app_version_major;
extern uint32_t app_version_minor;
extern uint32_t vp_version_major;
extern uint32_t vpxl_version_major;
extern uint32_t cam_version_major;
extern uint32_t cam_version_minor;
extern uint32_t cp_version_major;
extern uint32_t cxl_version_major;
extern uint32_t system_version_major;
extern uint32_t system_version_minor;

// The controller's image file format: 1 PNG, 0 BMP.
extern int image_format_png;

// The hotkey function of UP/DOWN/LEFT/RIGHT while the menu is closed: 0 none, 1 camera
// gain, 2 camera exposure, 3 ring quadrants, 4 shutter, 5 display brightness, 6 digital
// zoom, 7 white balance.
extern uint16_t programmableFunction;

class Display {
public:
    Display(int width, int height);

    // Handles one controller message. reply0/reply1, showMessage and messageTime are
    // outputs (cleared by the caller); true when the reply is to be sent, or the screen
    // redrawn.
    bool ProcessCommand(uint32_t word0, uint32_t word1, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                        int& messageTime);

    // Draws the overlay: information, message, overlay image, PNG image.
    void Update(VFB& vfb);

    bool MenuOpen() const { return mMenu.MenuOpen(); }

    // The number of the message shown (0 = none).
    uint32_t currentMessage() const { return mMenu.CurrentMessage(); }
    // The display time the current message was last drawn with, in ms.
    int messageTime() const { return mMessageTime; }
    void clearMessageDisplay();
    // Redraws the current message, if any, with `ms` as its remaining time.
    void refreshMessage(int ms);

    Menu& menu() { return mMenu; }

private:
    void processVersionInfo(uint32_t id, uint32_t version);
    bool processKey(uint32_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                    int& messageTime);
    bool presetLongPress(uint32_t key, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                         int& messageTime);
    bool presetShortPress(uint32_t key, bool& showMessage, int& messageTime);
    bool hotkeyUpDown(bool up, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime);
    bool stepSetting(SettingsIndex_t index, bool up, uint32_t& reply0, uint32_t& reply1);
    void SetSettingValue(SettingsIndex_t index, uint16_t value);
    bool SetMessage(uint32_t number, uint32_t value, bool& showMessage, int& messageTime);

    int mWidth;
    int mHeight;
    Menu mMenu;
    int mMessageTime = 0;
};

} // namespace Ostrix
