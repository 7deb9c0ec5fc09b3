#include "gui/app/Display.h"

#include <algorithm>
#include <cstdint>

#include "common/messages.h"
#include "gui/app/guiprint.h"
#include "gui/settings/OstrixControlSettings.h"

namespace Ostrix {

uint32_t app_version_major = 0;
uint32_t app_version_minor = 0;
uint32_t vp_version_major = 0;
uint32_t vpxl_version_major = 0;
uint32_t cam_version_major = 0;
uint32_t cam_version_minor = 0;
uint32_t cp_version_major = 0;
uint32_t cxl_version_major = 0;
uint32_t system_version_major = 0;
uint32_t system_version_minor = 0;

int image_format_png = 1;
uint16_t programmableFunction = 0;

namespace {

constexpr uint32_t kIndexMask = 0xFFFF;     // setting and message numbers
constexpr uint32_t kValueMask = 0xFFFF;     // setting values
constexpr uint32_t kByteMask = 0xFF;        // version ids, printed minor numbers
constexpr uint32_t kImageFormatMask = 0x0F; // 0 = BMP
constexpr uint32_t kMajorShift = 16;        // major << 16 | minor

} // namespace

Display::Display(int width, int height) : mWidth(width), mHeight(height), mMenu(width, height) {}

bool Display::ProcessCommand(uint32_t word0, uint32_t word1, uint32_t& reply0, uint32_t& reply1,
                             bool& showMessage, int& messageTime) {
    // Zoom values arrive continuously and are not traced.
    if (word0 != tEV_ZOOMVAL) {
        guiPrint("GUI: ProcessCommand %x:%u", word0, word1);
    }
    const uint32_t index = word0 & kIndexMask;
    switch (eventCode(word0)) {
    case tEV_EXIT:
        guiPrint("GUI: EV_EXIT Closes Menu");
        clearMessageDisplay();
        mMenu.CloseMenu(true);
        return false;
    case tEV_KEY:
        return processKey(word0 & kByteMask, word1, reply0, reply1, showMessage, messageTime);
    case tEV_OVERLAY:
        guiPrint("GUI: EV_Overlay");
        reply0 = tEV_OVERLAY;
        reply1 = mMenu.LoadOverlayImage(word1 != 0) ? 1 : 0;
        return true;
    case tEV_COPYFB:
        guiPrint("GUI: New setting, index = %u value = %u", index, word1 & kValueMask);
        SetSettingValue(SettingsIndex_t(index), uint16_t(word1 & kValueMask));
        return false;
    case tEV_MESSAGE:
        guiPrint("GUI: Message to be displayed, index: %u for %ums", index, word1);
        if (index == MESS_NONE) {
            clearMessageDisplay();
        } else {
            SetMessage(index, word1, showMessage, messageTime);
        }
        return false;
    case tEV_REQUEST:
        guiPrint("GUI: EV_REQUEST");
        reply0 = tEV_UPDATE + index;
        reply1 = ostrixControlSettings.GetValue(SettingsIndex_t(index));
        return true;
    case tEV_PRESET:
        guiPrint("GUI: EV_PRESET unimplemented");
        return false;
    case tEV_VERSIONINFO:
        guiPrint("GUI: Version info %u.%u", word1 >> kMajorShift, word1 & kByteMask);
        processVersionInfo(word0 & kByteMask, word1);
        return false;
    case tEV_ZOOMINFO:
        guiPrint("GUI: Zoom position %u", word1 & kByteMask);
        ostrixControlSettings.SetValue(SETT_ZOOM_ENCODER, uint16_t(word1 & kValueMask));
        return true;
    case tEV_ZOOMVAL:
        ostrixControlSettings.SetValue(SETT_ZOOM_VALUE, uint16_t(word1 & kValueMask));
        return true;
    case tEV_IMAGEFORMAT:
        guiPrint("GUI: Image format %u", word1 & kByteMask);
        image_format_png = (word1 & kImageFormatMask) == 0 ? 0 : 1;
        return false;
    default:
        return false;
    }
}

void Display::processVersionInfo(uint32_t id, uint32_t version) {
    const uint32_t major = version >> kMajorShift;
    const uint32_t minor = version & kByteMask;
    switch (id) {
    case APP_VERSION:
        app_version_major = major;
        app_version_minor = minor;
        break;
    case FPGA_VERSION:
        vp_version_major = version;
        break;
    case VPXL_VERSION:
        vpxl_version_major = version;
        break;
    case CAM_VERSION:
        cam_version_major = major;
        cam_version_minor = minor;
        break;
    case CAMFPGA_VERSION:
        cp_version_major = version;
        break;
    case CAMXL_VERSION:
        cxl_version_major = version;
        break;
    case SYSTEM_VERSION:
        system_version_major = major;
        system_version_minor = minor;
        break;
    default:
        break;
    }
}

void Display::SetSettingValue(SettingsIndex_t index, uint16_t value) {
    // The file always holds the last state of the saved settings.
    mMenu.SetSettingValue(index, value);
}

bool Display::SetMessage(uint32_t number, uint32_t value, bool& showMessage, int& messageTime) {
    mMenu.SetMessage(number, value, showMessage, messageTime);
    mMessageTime = messageTime;
    return true;
}

void Display::clearMessageDisplay() {
    mMenu.ClearMessage();
    mMessageTime = 0;
}

void Display::refreshMessage(int ms) {
    if (mMenu.CurrentMessage() != MESS_NONE) {
        bool show = false;
        int time = 0;
        mMenu.SetMessage(mMenu.CurrentMessage(), uint32_t(std::max(ms, 0)), show, time);
        mMessageTime = ms;
    }
}

void Display::Update(VFB& vfb) {
    mMenu.DrawOverlayInfo(vfb);
    mMenu.DrawMessage(vfb);
    mMenu.AddOverlayImage(vfb);
    mMenu.DisplayStoredImage(vfb);
}

} // namespace Ostrix
