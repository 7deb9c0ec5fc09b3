// The keys the GUI handles itself: P1-P3 long presses (presets) and short presses
// (hotkey functions), the arrow keys while the menu is closed, and the encoder knobs;
// every other key goes to the menu.
#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/app/guiprint.h"
#include "gui/settings/OstrixControlSettings.h"

namespace Ostrix {

namespace {

constexpr uint16_t kFunctionNone = 0;
constexpr uint16_t kFunctionGain = 1;
constexpr uint16_t kFunctionExposure = 2;
constexpr uint16_t kFunctionQuadrants = 3;
constexpr uint16_t kFunctionBrightness = 5;
constexpr uint16_t kFunctionDigitalZoom = 6;
constexpr uint16_t kFunctionWhiteBalance = 7;
constexpr uint16_t kLastFunction = 7;
// The "hotkey active" notices follow the function numbers from 57, the "inactive" ones
// from 64.
constexpr uint32_t kHotkeyOnBase = MESS_CAMERA_GAIN_HOTKEY_ON - 1;
constexpr uint32_t kHotkeyOffBase = MESS_CAMERA_GAIN_HOTKEY_OFF - 1;
// The message shown for a P key without a function: none in the tables, so the screen
// stays clear while its timer runs.
constexpr uint32_t kNoActionMessage = 21;
constexpr int kHotkeyMessageMs = 3000;

uint32_t actionReply(SettingsIndex_t index) {
    return tEV_ACTION + uint32_t(index);
}

} // namespace

bool Display::processKey(uint32_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                         int& messageTime) {
    clearMessageDisplay();
    switch (key) {
    case UKEY_P1:
    case UKEY_P2:
    case UKEY_P3:
        return presetLongPress(key, reply0, reply1, showMessage, messageTime);
    case UKEY_P1_SHORT:
    case UKEY_P2_SHORT:
    case UKEY_P3_SHORT:
        return presetShortPress(key, showMessage, messageTime);
    case UKEY_GAIN_UP:
    case UKEY_GAIN_DOWN:
        guiPrint(key == UKEY_GAIN_UP ? "GUI: Increase Camera Gain (rotary encoder)"
                                     : "GUI: Decrease Camera Gain (rotary encoder)");
        return stepSetting(SETT_CAMERA_GAIN, key == UKEY_GAIN_UP, reply0, reply1);
    case UKEY_EXPOSURE_UP:
    case UKEY_EXPOSURE_DOWN:
        guiPrint(key == UKEY_EXPOSURE_UP ? "GUI: Increase Camera Exposure (rotary encoder)"
                                         : "GUI: Decrease Camera Gain (rotary encoder)");
        return stepSetting(SETT_CAMERA_EXPOSURE_TIME, key == UKEY_EXPOSURE_UP, reply0, reply1);
    default:
        break;
    }
    if (!mMenu.MenuOpen()) {
        switch (key) {
        case UKEY_UP:
        case UKEY_DOWN:
            guiPrint(key == UKEY_UP ? "GUI:Menu Off and UP key" : "GUI: Menu Off and Down key");
            return hotkeyUpDown(key == UKEY_UP, reply0, reply1, showMessage, messageTime);
        case UKEY_LEFT: {
            guiPrint("GUI: Menu Off and Left key");
            bool send = false;
            if (programmableFunction == kFunctionQuadrants) {
                guiPrint("GUI:Left Quadrant On Off");
                reply1 = mMenu.toggleSetting(SETT_LIGHT_QUADRANT_LEFT);
                reply0 = actionReply(SETT_LIGHT_QUADRANT_LEFT);
                send = true;
            } else if (mMenu.menuCloseHoldoffTimeoutExpired()) {
                reply0 = tEV_KEY + UKEY_P_IMAGECAPTURE;
                reply1 = 0;
                send = true;
            }
            mMenu.CloseMenu(true);
            return send;
        }
        case UKEY_RIGHT:
            guiPrint("GUI:Menu Off and Right key");
            if (programmableFunction == kFunctionQuadrants) {
                guiPrint("GUI:Right Quadrant On Off");
                reply1 = mMenu.toggleSetting(SETT_LIGHT_QUADRANT_RIGHT);
                reply0 = actionReply(SETT_LIGHT_QUADRANT_RIGHT);
                mMenu.CloseMenu(true);
                return true;
            }
            guiPrint("GUI: OPEN MENU ON RIGHT KEY");
            return mMenu.ProcessKey(UKEY_SELECT, 0, reply0, reply1, showMessage, messageTime);
        default:
            break;
        }
    }
    return mMenu.ProcessKey(key, step, reply0, reply1, showMessage, messageTime);
}

bool Display::presetLongPress(uint32_t key, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                              int& messageTime) {
    mMenu.CloseMenu(true);
    const uint32_t n = key - UKEY_P1;
    const uint16_t preset = ostrixControlSettings.GetValue(SettingsIndex_t(SETT_PRESET_P1 + n));
    if (preset == 0) {
        guiPrint("GUI:No Action");
        mMenu.SetMessage(kNoActionMessage, n + 1, showMessage, messageTime);
        return false;
    }
    const std::string file = OstrixControlSettings::PresetFileName(preset - 1);
    guiPrint("GUI:P%u LONG loads %s", n + 1, file.c_str());
    if (!mMenu.restoreSettings(file, SETT_MAX_PRESET_SETTING)) {
        mMenu.SetMessage(MESS_NO_PRESET_FILE, preset, showMessage, messageTime);
        return false;
    }
    ostrixControlSettings.SaveCurrentSettings("QLM_GUI.settings", SETT_MAX_SAVED_SETTING);
    mMenu.SetMessage(MESS_APPLYING_PRESET, preset, showMessage, messageTime);
    reply0 = tEV_PRESETLOADED + preset;
    reply1 = 0;
    return true;
}

bool Display::presetShortPress(uint32_t key, bool& showMessage, int& messageTime) {
    const uint32_t n = key - UKEY_P1_SHORT;
    const uint16_t function = ostrixControlSettings.GetValue(SettingsIndex_t(SETT_PRESET_P1_SHORT + n));
    guiPrint("GUI:P%u SHORT %u", n + 1, function);
    mMenu.CloseMenu(true);
    const uint16_t old = programmableFunction;
    programmableFunction = function == programmableFunction ? kFunctionNone : function;
    uint32_t message = kNoActionMessage;
    uint32_t value = n + 1;
    if (programmableFunction >= 1 && programmableFunction <= kLastFunction) {
        message = kHotkeyOnBase + programmableFunction;
        value = kHotkeyMessageMs;
    } else if (programmableFunction == kFunctionNone && old >= 1 && old <= kLastFunction) {
        message = kHotkeyOffBase + old;
        value = kHotkeyMessageMs;
    }
    mMenu.SetMessage(message, value, showMessage, messageTime);
    messageTime = kHotkeyMessageMs;
    return false;
}

bool Display::stepSetting(SettingsIndex_t index, bool up, uint32_t& reply0, uint32_t& reply1) {
    reply1 = up ? mMenu.incrementSetting(index) : mMenu.decrementSetting(index);
    reply0 = actionReply(index);
    return true;
}

bool Display::hotkeyUpDown(bool up, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime) {
    bool send = false;
    switch (programmableFunction) {
    case kFunctionNone:
        mMenu.SetMessage(MESS_NO_FUNCTION_ASSIGNED, 0, showMessage, messageTime);
        break;
    case kFunctionGain:
        guiPrint(up ? "GUI:Increase Camera Gain from %u" : "GUI: Decrease Camera Gain from %u",
                 ostrixControlSettings.GetValue(SETT_CAMERA_GAIN));
        send = stepSetting(SETT_CAMERA_GAIN, up, reply0, reply1);
        break;
    case kFunctionExposure:
        guiPrint(up ? "GUI:Increase Camera Exposure" : "GUI: Decrease Camera Exposure");
        send = stepSetting(SETT_CAMERA_EXPOSURE_TIME, up, reply0, reply1);
        break;
    case kFunctionQuadrants: {
        guiPrint(up ? "GUI:Top Quadrant On Off" : "GUI: Bottom Quadrant On Off");
        const SettingsIndex_t quadrant = up ? SETT_LIGHT_QUADRANT_TOP : SETT_LIGHT_QUADRANT_BOTTOM;
        reply1 = mMenu.toggleSetting(quadrant);
        reply0 = actionReply(quadrant);
        send = true;
        break;
    }
    case kFunctionBrightness:
        guiPrint(up ? "GUI:Increase Display Brightness" : "GUI: Decrease Display Brightness");
        send = stepSetting(SETT_DISPLAY_BRIGHTNESS, up, reply0, reply1);
        break;
    case kFunctionDigitalZoom:
        guiPrint(up ? "GUI:Digital Zoom On" : "GUI: Digital Zoom Off");
        send = stepSetting(SETT_DIGITALZOOM, up, reply0, reply1);
        break;
    case kFunctionWhiteBalance:
        if (up) {
            guiPrint("GUI:Trigger White Balance");
            if (mMenu.triggerAutoWhiteBalance()) {
                reply0 = tEV_ACTION_BEEP + uint32_t(SETT_CAMERA_WHITE_BALANCE);
                reply1 = 0;
                send = true;
            }
        } else {
            guiPrint("GUI: unused Down key");
            mMenu.SetMessage(kNoActionMessage, 0, showMessage, messageTime);
        }
        break;
    default:
        guiPrint(up ? "GUI:Shutter Control" : "GUI: Shutter Control");
        mMenu.SetMessage(MESS_UNIMPLEMENTED, 0, showMessage, messageTime);
        break;
    }
    mMenu.CloseMenu(true);
    return send;
}

} // namespace Ostrix
