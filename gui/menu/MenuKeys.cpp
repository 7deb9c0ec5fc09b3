// The menu's key handling: ring, substage and P keys, HDR keys, editing a value, the
// system clock, navigation with scroll windows, and the actions of the leaf items.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/messages.h"
#include "common/timeout.h"
#include "gui/app/guiprint.h"
#include "gui/menu/Menu.h"
#include "gui/menu/MenuPictures.h"
#include "gui/settings/OstrixControlSettings.h"
#include "platform/platform.h"

namespace Ostrix {

namespace {

constexpr int kCloseHoldoffMs = 1000;
constexpr uint32_t kMenuHeight = 390;
constexpr uint32_t kScrollArrowMargin = 16;
constexpr int kInfoPanelTimeMs = 10000;

// Items of the clock.
constexpr MenuIndex_t kItemHours = 224;
constexpr MenuIndex_t kItemMinutes = 225;
constexpr MenuIndex_t kItemDay = 230;
constexpr MenuIndex_t kItemMonth = 231;
constexpr MenuIndex_t kItemYear = 232;
// The date items are edited as one range, kItemDay..kItemYear.
static_assert(kItemDay < kItemMonth && kItemMonth < kItemYear);
// Leaf actions.
constexpr MenuIndex_t kItemWhiteBalance = 293;
constexpr MenuIndex_t kItemSaveImage = 328;
constexpr MenuIndex_t kItemSourceLive = 335;
constexpr MenuIndex_t kItemSourceUsb = 336;
constexpr MenuIndex_t kItemFirstPresetAction = 74;
constexpr MenuIndex_t kItemLastPresetAction = 122;
constexpr MenuIndex_t kItemInformation = 219;
constexpr MenuIndex_t kItemFactoryDefaults = 234;
constexpr MenuIndex_t kItemSaveToUsb = 241;
constexpr MenuIndex_t kItemLoadFromUsb = 239;
constexpr uint32_t kPresetActionStride = 5;
// The preset number the controller reads as "settings imported from the stick".
constexpr uint32_t kPresetFromUsb = 0xFFFF;
enum PresetAction { PRESET_APPLY, PRESET_SAVE, PRESET_EXPORT, PRESET_IMPORT };

constexpr const char* kCurrentSettingsFile = "QLM_GUI.settings";
constexpr const char* kExportBuffer = "tmp.settings";

constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int kFebruary = 2;
constexpr int kLeapYearDays = 29;

bool isClockItem(MenuIndex_t index) {
    return index == kItemHours || index == kItemMinutes || (index >= kItemDay && index <= kItemYear);
}

uint32_t actionReply(SettingsIndex_t index) {
    return tEV_ACTION + uint32_t(index);
}

std::string onStick(const std::string& name) {
    return platform::sysPath(Menu::kUsbMountPoint) + "/" + name;
}

bool holdsSettings(const std::string& file);

int copyFile(const std::string& from, const std::string& to) {
    const int result =
        platform::shell("sudo cp -f " + platform::shellQuote(from) + " " + platform::shellQuote(to));
    if (result != 0) {
        const bool toStick = to.rfind(platform::sysPath(Menu::kUsbMountPoint), 0) == 0;
        guiPrint(toStick ? "Copy to USB failed with err %d" : "GUI: Copy from USB failed with err %d",
                 result);
    }
    return result;
}

// Brings a settings file from the stick into `to` only when its copy holds settings, so
// that a bad or missing file never replaces a good one.
bool importChecked(const std::string& from, const std::string& to) {
    return copyFile(from, kExportBuffer) == 0 && holdsSettings(kExportBuffer) &&
           std::rename(kExportBuffer, to.c_str()) == 0;
}

// A file that holds at least one setting pair.
bool holdsSettings(const std::string& file) {
    OstrixControlSettings probe;
    OstrixControlSettings::Preset words;
    return probe.ReadSerialisedFromFile(file, words, SETT_MAX_SAVED_SETTING) && words.size() >= 2;
}

// The stick's file, checked in a local copy.
bool holdsSettingsOnStick(const std::string& name) {
    return std::filesystem::exists(onStick(name)) && copyFile(onStick(name), kExportBuffer) == 0 &&
           holdsSettings(kExportBuffer);
}

} // namespace

bool Menu::ProcessKey(MenuKey_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                      int& messageTime) {
    reply0 = 0;
    reply1 = 0;
    switch (key) {
    case UKEY_RING_UP:
    case UKEY_RING_DOWN:
        CloseMenu(true);
        reply1 = key == UKEY_RING_UP ? incrementSetting(SETT_LIGHT_RING) : decrementSetting(SETT_LIGHT_RING);
        reply0 = actionReply(SETT_LIGHT_RING);
        return true;
    case UKEY_SUBSTAGE_UP:
    case UKEY_SUBSTAGE_DOWN:
        CloseMenu(true);
        reply1 = key == UKEY_SUBSTAGE_UP ? incrementSetting(SETT_LIGHT_SUBSTAGE)
                                         : decrementSetting(SETT_LIGHT_SUBSTAGE);
        reply0 = actionReply(SETT_LIGHT_SUBSTAGE);
        return true;
    case UKEY_P_UP:
    case UKEY_P_DOWN:
        CloseMenu(true);
        return true;
    case UKEY_HDR_MODE_TOGGLE:
    case UKEY_HDR_RATIO_DOWN:
    case UKEY_HDR_RATIO_UP:
    case UKEY_HDR_EXPOSURE_DOWN:
    case UKEY_HDR_EXPOSURE_UP:
        return hdrKey(key, reply0, reply1);
    default:
        break;
    }
    if (!mMenuOpen) {
        if (key == UKEY_SELECT && step == 0) {
            OpenMenu(key);
            return true;
        }
        return false;
    }
    auto it = mButtonMap.find(mCurrentSelection);
    if (it == mButtonMap.end()) {
        return false;
    }
    MenuItem& item = it->second;
    if (item.Editing()) {
        if ((key == UKEY_UP || key == UKEY_DOWN) && item.mKind != BUTTON_CURSOR) {
            item.Enter();
        } else {
            return editKey(item, key, step, reply0, reply1);
        }
    }
    if (key == UKEY_SELECT) {
        return step == 0 && select(item, reply0, reply1, showMessage, messageTime);
    }
    return navigate(key, step, reply0, reply1);
}

bool Menu::hdrKey(MenuKey_t key, uint32_t& reply0, uint32_t& reply1) {
    const bool on = GetSettingValue(SETT_HDR_MODE) != 0;
    if (key == UKEY_HDR_MODE_TOGGLE) {
        SetSettingValue(SETT_HDR_MODE, on ? 0 : 1);
        reply0 = actionReply(SETT_HDR_MODE);
        reply1 = GetSettingValue(SETT_HDR_MODE);
        return true;
    }
    if (!on) {
        return false;
    }
    const bool ratio = key == UKEY_HDR_RATIO_DOWN || key == UKEY_HDR_RATIO_UP;
    const bool up = key == UKEY_HDR_RATIO_UP || key == UKEY_HDR_EXPOSURE_UP;
    const SettingsIndex_t index = ratio ? SETT_HDR_RATIO : SETT_HDR_EXPOSURE;
    const bool changed =
        up ? ostrixControlSettings.SetStepUp(index) : ostrixControlSettings.SetStepDown(index);
    if (!changed) {
        return false;
    }
    SetSettingValue(index, GetSettingValue(index));
    reply0 = actionReply(index);
    reply1 = GetSettingValue(index);
    return true;
}

bool Menu::editKey(MenuItem& item, MenuKey_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1) {
    const uint16_t increment = uint16_t(std::min<uint32_t>(step, UINT16_MAX));
    bool changed = false;
    SettingsIndex_t index = item.mSetting;
    switch (key) {
    case UKEY_RIGHT:
        changed = ostrixControlSettings.SetStepUp(index, increment);
        break;
    case UKEY_LEFT:
        changed = ostrixControlSettings.SetStepDown(index, increment);
        break;
    case UKEY_UP:
    case UKEY_DOWN:
        index = item.mSetting2;
        changed = key == UKEY_UP ? ostrixControlSettings.SetStepUp(index, increment)
                                 : ostrixControlSettings.SetStepDown(index, increment);
        break;
    case UKEY_SELECT:
        if (step != 0) {
            return false;
        }
        item.Enter();
        if (isClockItem(mCurrentSelection)) {
            setSystemClock(mCurrentSelection);
        }
        return true;
    default:
        return false;
    }
    guiPrint("GUI: Valuechanged = %d", changed ? 1 : 0);
    if (index >= SETT_MAX_SETTING) {
        return false;
    }
    SetSettingValue(index, GetSettingValue(index));
    if (mCurrentSelection >= kItemDay && mCurrentSelection <= kItemYear) {
        CheckDateInput();
    }
    if (index == SETT_SETGRIDSIZE_X || index == SETT_SETGRIDSIZE_Y) {
        mGridWidth = GetSettingValue(SETT_SETGRIDSIZE_X);
        mGridHeight = GetSettingValue(SETT_SETGRIDSIZE_Y);
        ostrixControlSettings.SetValueRange(SETT_SETGRIDPOSITION_X, 0, mGridWidth, 1);
        ostrixControlSettings.SetValueRange(SETT_SETGRIDPOSITION_Y, 0, mGridHeight, 1);
    }
    reply0 = actionReply(index);
    reply1 = GetSettingValue(index);
    return true;
}

void Menu::setSystemClock(MenuIndex_t index) {
    std::string command;
    if (index == kItemHours || index == kItemMinutes) {
        guiPrint("GUI: Save new system time ");
        command = "sudo date -s \"$(date +%Y-%m-%d) " + std::to_string(GetSettingValue(SETT_TIME_HOURS)) +
                  ":" + std::to_string(GetSettingValue(SETT_TIME_MINUTES)) + ":00\"";
    } else {
        guiPrint("GUI: Save new system date ");
        char year[8];
        snprintf(year, sizeof year, "%02u", unsigned(GetSettingValue(SETT_DATE_YEAR)));
        command = std::string("sudo date -s \"20") + year + "-" +
                  std::to_string(GetSettingValue(SETT_DATE_MONTH)) + "-" +
                  std::to_string(GetSettingValue(SETT_DATE_DAY)) + " $(date +%H:%M:%S)\"";
    }
    if (platform::shell(command) != 0) {
        guiPrint("GUI: setting the system clock failed: %s", command.c_str());
    }
    if (platform::shell("sudo hwclock --systohc") != 0) {
        guiPrint("GUI: writing the hardware clock failed");
    }
}

void Menu::CheckDateInput() {
    guiPrint("GUI: CheckDateInput");
    const int month = std::clamp<int>(GetSettingValue(SETT_DATE_MONTH), 1, 12);
    const int year = GetSettingValue(SETT_DATE_YEAR);
    int days = kDaysInMonth[month - 1];
    if (month == kFebruary && year != 0 && year % 4 == 0) {
        days = kLeapYearDays;
    }
    if (GetSettingValue(SETT_DATE_DAY) > days) {
        SetSettingValue(SETT_DATE_DAY, uint16_t(days));
    }
}

void Menu::CalculateScrollIndex(size_t level) {
    if (level >= mPath.size() || level >= mScroll.size()) {
        return;
    }
    const MenuIndex_t parent = level == 0 ? kMenuRoot : mPath[level - 1];
    const auto& items = Children(parent);
    const size_t pos = size_t(std::find(items.begin(), items.end(), mPath[level]) - items.begin());
    std::vector<uint32_t> heights;
    uint32_t total = 0;
    for (MenuIndex_t i : items) {
        const MenuItem* item = Item(i);
        heights.push_back(item != nullptr ? item->mHeight : MenuItem::kItemHeight);
        total += heights.back();
    }
    ScrollRecord& s = mScroll[level];
    if (total <= kMenuHeight || items.empty()) {
        s = ScrollRecord{false, 0, items.empty() ? 0 : items.size() - 1};
        return;
    }
    // Room for the arrows above and below; the current item stays inside the window.
    const uint32_t room = kMenuHeight - 2 * (mArrowBlueUp.mHeight + kScrollArrowMargin / 2);
    size_t first = std::min(s.first, pos);
    uint32_t used = 0;
    for (size_t i = first; i <= pos; ++i) {
        used += heights[i];
    }
    while (used > room && first < pos) {
        used -= heights[first++];
    }
    size_t last = pos;
    while (last + 1 < items.size() && used + heights[last + 1] <= room) {
        used += heights[++last];
    }
    s = ScrollRecord{true, first, last};
}

void Menu::moveSelection(size_t level, size_t position) {
    const MenuIndex_t parent = level == 0 ? kMenuRoot : mPath[level - 1];
    mCurrentSelection = Children(parent)[position];
    mPath[level] = mCurrentSelection;
    ScrollRecord& s = mScroll[level];
    if (s.scrolling && position > s.last) {
        ++s.first;
    } else if (s.scrolling && position < s.first) {
        s.first = position;
    }
    CalculateScrollIndex(level);
}

bool Menu::navigate(MenuKey_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1) {
    const size_t level = mPath.size() - 1;
    const MenuIndex_t parent = level == 0 ? kMenuRoot : mPath[level - 1];
    const auto& siblings = Children(parent);
    const size_t pos =
        size_t(std::find(siblings.begin(), siblings.end(), mCurrentSelection) - siblings.begin());
    switch (key) {
    case UKEY_DOWN:
    case UKEY_UP: {
        const bool down = key == UKEY_DOWN;
        if ((down && pos + 1 >= siblings.size()) || (!down && pos == 0)) {
            return false;
        }
        moveSelection(level, down ? pos + 1 : pos - 1);
        break;
    }
    case UKEY_LEFT:
        if (step != 0) {
            return false;
        }
        if (level == 0) {
            CloseMenu(true);
            start_timeout("menu close holdoff", &mCloseHoldoff, kCloseHoldoffMs, 0);
            return true;
        }
        mPath.pop_back();
        mScroll.pop_back();
        mCurrentSelection = mPath.back();
        break;
    case UKEY_RIGHT: {
        const auto& children = Children(mCurrentSelection);
        if (step != 0 || children.empty()) {
            return false;
        }
        MenuIndex_t next = children.front();
        for (MenuIndex_t child : children) {
            const MenuItem* c = Item(child);
            if (c != nullptr && c->mKind == BUTTON_CHOICE && GetSettingValue(c->mSetting) == c->mValue) {
                next = child;
                break;
            }
        }
        mCurrentSelection = next;
        mPath.push_back(next);
        mScroll.push_back(ScrollRecord{false, 0, 0});
        CalculateScrollIndex(mPath.size() - 1);
        break;
    }
    default:
        return false;
    }
    reply0 = tEV_KEY + mCurrentSelection;
    reply1 = 0;
    return true;
}

bool Menu::select(MenuItem& item, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime) {
    switch (item.mKind) {
    case BUTTON_CHOICE:
        if (item.mSetting >= SETT_MAX_SETTING || GetSettingValue(item.mSetting) == item.mValue) {
            return false;
        }
        SetSettingValue(item.mSetting, item.mValue);
        reply0 = tEV_ACTION_BEEP + uint32_t(item.mSetting);
        reply1 = GetSettingValue(item.mSetting);
        return true;
    case BUTTON_BAR:
    case BUTTON_NUMBER:
    case BUTTON_CURSOR:
    case BUTTON_TWO_AXIS:
        item.Enter();
        return true;
    default:
        return !item.mHasChildren && action(mCurrentSelection, reply0, reply1, showMessage, messageTime);
    }
}

bool Menu::action(MenuIndex_t index, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                  int& messageTime) {
    if (index >= kItemFirstPresetAction && index <= kItemLastPresetAction) {
        return presetAction(index, reply0, reply1, showMessage, messageTime);
    }
    switch (index) {
    case kItemWhiteBalance:
        if (triggerAutoWhiteBalance()) {
            guiPrint("GUI: AWB");
            reply0 = tEV_ACTION_BEEP + uint32_t(SETT_CAMERA_WHITE_BALANCE);
            reply1 = 0;
        } else {
            guiPrint("GUI: Cancelled");
        }
        return true;
    case kItemSaveImage:
        if (!menuCloseHoldoffTimeoutExpired()) {
            guiPrint("GUI: Image Save prevented by timeout after menu closure");
            return false;
        }
        guiPrint("GUI: Image Save");
        CloseMenu(true);
        reply0 = tEV_KEY + UKEY_P_IMAGECAPTURE;
        reply1 = 0;
        return true;
    case kItemSourceLive:
        CloseMenu(true);
        reply0 = actionReply(SETT_IMAGE_SOURCE);
        reply1 = 0;
        return true;
    case kItemSourceUsb:
        return chooseImage(reply0, reply1, showMessage, messageTime);
    case kItemInformation:
        SetMessage(MESS_INFO_PANEL, kInfoPanelTimeMs, showMessage, messageTime);
        return true;
    case kItemFactoryDefaults:
        guiPrint("GUI: Factory Defaults");
        SetMessage(MESS_FACTORY_DEFAULTS, 0, showMessage, messageTime);
        ostrixControlSettings.RestoreFactorySettings();
        setScreenRanges();
        CloseMenu(false);
        guiPrint("GUI: Factory Defaults Done");
        reply0 = tEV_PRESETLOADED;
        reply1 = 0;
        return true;
    case kItemSaveToUsb:
    case kItemLoadFromUsb:
        return usbSettings(index == kItemSaveToUsb, reply0, reply1, showMessage, messageTime);
    default:
        return false;
    }
}

bool Menu::presetAction(MenuIndex_t index, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                        int& messageTime) {
    const int slot = int((index - kItemFirstPresetAction) / kPresetActionStride);
    const int act = int((index - kItemFirstPresetAction) % kPresetActionStride);
    const uint32_t number = uint32_t(slot + 1);
    const std::string file = OstrixControlSettings::PresetFileName(slot);
    guiPrint("GUI: PRESET %d ACTION %d file %s", slot, act + 1, file.c_str());
    auto& settings = ostrixControlSettings;
    switch (act) {
    case PRESET_APPLY:
        if (settings.ImportPreset(slot, file) && settings.ApplyPreset(slot)) {
            settings.SaveCurrentSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
            SetMessage(MESS_APPLYING_PRESET, number, showMessage, messageTime);
            reply0 = tEV_PRESETLOADED + number;
            reply1 = 0;
        } else {
            guiPrint("GUI: No/invalid preset file %s", file.c_str());
            SetMessage(MESS_NO_PRESET_FILE, number, showMessage, messageTime);
        }
        return true;
    case PRESET_SAVE:
        settings.StorePreset(slot);
        SetMessage(settings.ExportPreset(slot, file) ? MESS_SYSTEM_SETTINGS_SAVED : MESS_CANNOT_SAVE_SETTINGS,
                   number, showMessage, messageTime);
        return true;
    case PRESET_EXPORT:
    case PRESET_IMPORT:
        break;
    default:
        return false;
    }
    if (mount_usb() != 0) {
        SetMessage(MESS_NO_USB_DRIVE, 0, showMessage, messageTime);
        return true;
    }
    if (act == PRESET_EXPORT) {
        exportPreset(slot, showMessage, messageTime);
    } else {
        importPreset(slot, reply0, reply1, showMessage, messageTime);
    }
    unmount_usb();
    return true;
}

void Menu::exportPreset(int slot, bool& showMessage, int& messageTime) {
    const uint32_t number = uint32_t(slot + 1);
    const std::string file = OstrixControlSettings::PresetFileName(slot);
    auto& settings = ostrixControlSettings;
    // Only a preset that holds settings is worth a file on the stick.
    if (!holdsSettings(file) || !settings.ImportPreset(slot, file)) {
        SetMessage(MESS_NO_SETTINGS_IN_PRESET, number, showMessage, messageTime);
        return;
    }
    const bool copied =
        settings.ExportPreset(slot, kExportBuffer) && copyFile(kExportBuffer, onStick(file)) == 0;
    SetMessage(copied ? MESS_EXPORTING_PRESET : MESS_CANNOT_EXPORT_PRESET, number, showMessage, messageTime);
}

void Menu::importPreset(int slot, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime) {
    const uint32_t number = uint32_t(slot + 1);
    const std::string file = OstrixControlSettings::PresetFileName(slot);
    auto& settings = ostrixControlSettings;
    // Checked in a copy before anything is replaced.
    const bool read = copyFile(onStick(file), kExportBuffer) == 0 && holdsSettings(kExportBuffer) &&
                      settings.ImportPreset(slot, kExportBuffer) && settings.ApplyPreset(slot);
    if (!read) {
        SetMessage(MESS_CANNOT_IMPORT_PRESET, 0, showMessage, messageTime);
        return;
    }
    settings.SaveCurrentSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
    SetMessage(settings.ExportPreset(slot, file) ? MESS_IMPORTING_PRESET : MESS_CANNOT_SAVE_SETTINGS, number,
               showMessage, messageTime);
    reply0 = tEV_PRESETLOADED + number;
    reply1 = 0;
}

bool Menu::usbSettings(bool save, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime) {
    guiPrint(save ? "GUI: Export Settings to USB" : "GUI: Import Settings from USB");
    if (save && !ostrixControlSettings.SaveCurrentSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING)) {
        SetMessage(MESS_CANNOT_SAVE_SETTINGS, 0, showMessage, messageTime);
        return true;
    }
    if (mount_usb() != 0) {
        SetMessage(MESS_NO_USB_DRIVE, 0, showMessage, messageTime);
        return true;
    }
    if (save) {
        // Every preset that has a file, then the current settings.
        bool copied = true;
        for (int slot = 0; slot < OstrixControlSettings::NUM_PRESETS; ++slot) {
            const std::string file = OstrixControlSettings::PresetFileName(slot);
            if (holdsSettings(file)) {
                copied = copyFile(file, onStick(file)) == 0 && copied;
            }
        }
        copied = copyFile(kCurrentSettingsFile, onStick(kCurrentSettingsFile)) == 0 && copied;
        SetMessage(copied ? MESS_EXPORTING_SETTINGS : MESS_CANNOT_EXPORT_SETTINGS, 0, showMessage,
                   messageTime);
    } else if (holdsSettingsOnStick(kCurrentSettingsFile)) {
        // The presets the stick has; a preset file that does not hold settings is left out.
        for (int slot = 0; slot < OstrixControlSettings::NUM_PRESETS; ++slot) {
            const std::string file = OstrixControlSettings::PresetFileName(slot);
            if (std::filesystem::exists(onStick(file)) && !importChecked(onStick(file), file)) {
                guiPrint("GUI: preset file %s on the stick holds no settings", file.c_str());
            }
        }
        importChecked(onStick(kCurrentSettingsFile), kCurrentSettingsFile);
        ostrixControlSettings.RetrieveLastSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
        SetMessage(MESS_IMPORTING_SETTINGS, 0, showMessage, messageTime);
        reply0 = tEV_PRESETLOADED + kPresetFromUsb;
        reply1 = 0;
    } else {
        SetMessage(MESS_CANNOT_IMPORT_SETTINGS, 0, showMessage, messageTime);
    }
    unmount_usb();
    return true;
}

} // namespace Ostrix
