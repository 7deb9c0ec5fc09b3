#include "gui/menu/Menu.h"

#include <algorithm>
#include <iterator>
#include <sys/stat.h>

#include "common/messages.h"
#include "common/timeout.h"
#include "gui/app/OstrixException.h"
#include "gui/app/guiprint.h"
#include "gui/app/testwindow.h"
#include "gui/menu/MenuPictures.h"
#include "gui/render/fontmap.h"
#include "gui/settings/OstrixControlSettings.h"
#include "platform/platform.h"

namespace Ostrix {

namespace {

constexpr const char* kCurrentSettingsFile = "QLM_GUI.settings";
constexpr const char* kUsbPartitions[] = {"/dev/sda1", "/dev/sdb1"};
// Item widths by depth in the tree; deeper items are an error of the tables.
constexpr uint32_t kItemWidthByDepth[] = {112, 178, 146, 189};
constexpr int kMaxDepth = 4;
// The bit stat() sets for folders and block devices.
constexpr mode_t kFolderOrDeviceBit = 0x4000;

// The Date folder shows its day, month and year items in the order SETT_DATEFORMAT
// chooses: 0 DDMMYY, 1 MMDDYY, 2 YYMMDD.
constexpr MenuIndex_t kDateFolder = 226;
constexpr MenuIndex_t kDateValueOrders[][3] = {{230, 231, 232}, {231, 230, 232}, {232, 231, 230}};

bool isDateValue(MenuIndex_t item) {
    return std::find(std::begin(kDateValueOrders[0]), std::end(kDateValueOrders[0]), item) !=
           std::end(kDateValueOrders[0]);
}

ImageRef pictureOf(const ImageFile& image, const PictureRect& r) {
    return image.getRef(r.x0, r.y0, r.x1, r.y1);
}

// A partition is there when it is a block device (or, on the simulated board, the file
// that names the stick's folder).
bool partitionExists(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return false;
    }
    return (st.st_mode & kFolderOrDeviceBit) != 0 || (platform::simulated() && S_ISREG(st.st_mode));
}

} // namespace

Menu::Menu(int width, int height) : mWidth(width), mHeight(height), mCloseHoldoff(no_timeout()) {
    guiPrint("GUI: Menu constructor");
    const std::string mountPoint = platform::shellQuote(platform::sysPath(kUsbMountPoint));
    if (platform::shell("sudo mkdir -p " + mountPoint) != 0) {
        guiPrint("GUI: ERROR: could not created USB mount folder");
    }
    if (platform::shell("sudo chmod 666 " + mountPoint) != 0) {
        guiPrint("GUI: ERROR: could not chmod USB mount folder");
    }
    // Each step stands alone: a missing picture never loses the user's settings.
    try {
        loadPictures();
    } catch (const OstrixException& e) {
        std::string text;
        e.GetErrorMessage(text);
        guiPrint("GUI: %s", text.c_str());
    }
    ostrixControlSettings.RetrieveLastSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
    Initialise();
    InitButtonMap();
    create_timeout(&mCloseHoldoff);
    guiPrint("GUI: Menu constructor complete");
}

Menu::~Menu() {
    delete_timeout(&mCloseHoldoff);
}

void Menu::loadPictures() {
    bool allLoaded = true;
    if (!mIcons.load(kIconSheetFile)) {
        guiPrint("Cannot open file: %s", kIconSheetFile);
        allLoaded = false;
    }
    if (!OverlayText::LoadFont(kFontImageFile)) {
        guiPrint("Cannot open file: %s", kFontImageFile);
        allLoaded = false;
    } else {
        guiPrint("Using Font - %s", fontName);
    }
    if (!mSlider.load(kSliderFile)) {
        guiPrint("Cannot open file: %s", kSliderFile);
        allLoaded = false;
    }
    if (!allLoaded) {
        OstrixException e;
        e.SetErrorCode(0);
        throw e;
    }
}

void Menu::Initialise() {
    for (int r = 0; menuTree[r][0] != kNoItem; ++r) {
        auto& children = mChildren[menuTree[r][0]];
        for (int c = 1; c < kTreeRowWords && menuTree[r][c] != kNoItem; ++c) {
            children.push_back(menuTree[r][c]);
            mParent[menuTree[r][c]] = menuTree[r][0];
        }
    }
    mPictures.arrowBlack = pictureOf(mIcons, kArrowBlack);
    mPictures.arrowBlue = pictureOf(mIcons, kArrowBlue);
    for (int i = 0; i < 4; ++i) {
        mPictures.boxBlue[i] = pictureOf(mIcons, kBoxBlue[i]);
    }
    mPictures.radioSelected = pictureOf(mIcons, kRadioButtonSelected);
    mPictures.radioActive = pictureOf(mIcons, kRadioButtonActive);
    mPictures.radioUnselected = pictureOf(mIcons, kRadioButtonUnselected);
    mPictures.barBlack = pictureOf(mSlider, kBarImageBlack);
    mPictures.barBlue = pictureOf(mSlider, kBarImageBlue);
    mPictures.barBackground = pictureOf(mSlider, kBarImageBk);
    mArrowBlueUp = pictureOf(mIcons, kArrowBlueUp);
    mArrowBlueDown = pictureOf(mIcons, kArrowBlueDown);
    mArrowBkUp = pictureOf(mIcons, kArrowBkUp);
    mArrowBkDown = pictureOf(mIcons, kArrowBkDown);
    mMagnifier = pictureOf(mIcons, kMagnifierIcon);
    mInfoIcon = pictureOf(mIcons, kInfoIcon);
}

int Menu::depthOf(MenuIndex_t index) const {
    int depth = 0;
    for (auto it = mParent.find(index); it != mParent.end() && it->second != kMenuRoot;
         it = mParent.find(it->second)) {
        ++depth;
    }
    return depth;
}

void Menu::InitButtonMap() {
    int errors = 0;
    for (const MenuItemDefinition* d = itemDefinitions; d->index != kNoItem && d->kind <= 7; ++d) {
        MenuItem item(mChildren.count(d->index) != 0, ButtonType_t(d->kind));
        item.mPicture = mIcons.getRef(d->x0, d->y0, d->x1, d->y1);
        item.mBoxStyle = d->boxStyle;
        const int depth = depthOf(d->index);
        if (depth < kMaxDepth) {
            item.mWidth = kItemWidthByDepth[depth];
        } else {
            ++errors;
        }
        mButtonMap[d->index] = item;
    }
    for (const MenuBinding* b = itemBindings; b->index != kNoItem; ++b) {
        auto it = mButtonMap.find(b->index);
        if (it == mButtonMap.end()) {
            continue;
        }
        it->second.mSetting = SettingsIndex_t(b->setting);
        it->second.mValue = uint16_t(b->value);
        it->second.mMax = OstrixControlSettings::GetFactorySetting(SettingsIndex_t(b->setting)).max;
    }
    if (errors != 0) {
        guiPrint("GUI: %d menu items deeper than the menu can show", errors);
    }
    setScreenRanges();
}

void Menu::setScreenRanges() {
    const uint16_t w = uint16_t(mWidth);
    const uint16_t h = uint16_t(mHeight);
    constexpr uint16_t kCursorMargin = 50;
    constexpr uint16_t kCursorStart = 100;
    constexpr uint16_t kMinGrid = 10;
    auto& s = ostrixControlSettings;
    s.SetValueRange(SETT_MEAS_CURSOR1_X, kCursorMargin, w - kCursorMargin - 1, 1);
    s.SetValueRange(SETT_MEAS_CURSOR1_Y, kCursorMargin, h - kCursorMargin - 1, 1);
    s.SetValueRange(SETT_MEAS_CURSOR2_X, kCursorMargin, w - kCursorMargin - 1, 1);
    s.SetValueRange(SETT_MEAS_CURSOR2_Y, kCursorMargin, h - kCursorMargin - 1, 1);
    s.SetValue(SETT_MEAS_CURSOR1_X, kCursorStart);
    s.SetValue(SETT_MEAS_CURSOR1_Y, kCursorStart);
    s.SetValue(SETT_MEAS_CURSOR2_X, w - kCursorStart);
    s.SetValue(SETT_MEAS_CURSOR2_Y, h - kCursorStart);
    s.SetValueRange(SETT_SETGRIDSIZE_X, kMinGrid, w / 4, 1);
    s.SetValueRange(SETT_SETGRIDSIZE_Y, kMinGrid, h / 4, 1);
    s.SetValue(SETT_SETGRIDSIZE_X, mGridWidth);
    s.SetValue(SETT_SETGRIDSIZE_Y, mGridHeight);
    s.SetValueRange(SETT_SETGRIDPOSITION_X, 0, mGridWidth, 1);
    s.SetValueRange(SETT_SETGRIDPOSITION_Y, 0, mGridHeight, 1);
    s.SetValue(SETT_SETGRIDPOSITION_X, 0);
    s.SetValue(SETT_SETGRIDPOSITION_Y, 0);
    s.SetValueRange(SETT_CAL_LEFTBAR, 0, w - 1, 1);
    s.SetValueRange(SETT_CAL_RIGHTBAR, 0, w - 1, 1);
    s.SetValue(SETT_CAL_LEFTBAR, kCursorStart);
    s.SetValue(SETT_CAL_RIGHTBAR, w - kCursorStart);
    for (auto& [index, item] : mButtonMap) {
        if (item.mSetting < SETT_MAX_SETTING && item.mKind != BUTTON_CHOICE) {
            item.mMax = ostrixControlSettings.GetSetting(item.mSetting).max;
        }
    }
}

const MenuItem* Menu::Item(MenuIndex_t index) const {
    const auto it = mButtonMap.find(index);
    return it == mButtonMap.end() ? nullptr : &it->second;
}

const std::vector<MenuIndex_t>& Menu::Children(MenuIndex_t parent) const {
    static const std::vector<MenuIndex_t> none;
    const auto it = mChildren.find(parent);
    if (it == mChildren.end()) {
        return none;
    }
    return parent == kDateFolder ? dateChildren(it->second) : it->second;
}

const std::vector<MenuIndex_t>& Menu::dateChildren(const std::vector<MenuIndex_t>& inTreeOrder) const {
    // The date values keep the places the tree gives them and are filled in the chosen order.
    const uint16_t format = ostrixControlSettings.GetValue(SETT_DATEFORMAT);
    const MenuIndex_t* order = kDateValueOrders[format < std::size(kDateValueOrders) ? format : 0];
    if (std::count_if(inTreeOrder.begin(), inTreeOrder.end(), isDateValue) !=
        std::ssize(kDateValueOrders[0])) {
        return inTreeOrder;
    }
    mDateChildren = inTreeOrder;
    size_t next = 0;
    for (MenuIndex_t& item : mDateChildren) {
        if (isDateValue(item)) {
            item = order[next++];
        }
    }
    return mDateChildren;
}

uint16_t Menu::GetSettingValue(SettingsIndex_t index) const {
    return ostrixControlSettings.GetValue(index);
}

void Menu::SetSettingValue(SettingsIndex_t index, uint16_t value) {
    ostrixControlSettings.SetValue(index, value);
    if (index >= 0 && index <= SETT_MAX_SAVED_SETTING) {
        ostrixControlSettings.SaveCurrentSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
    }
}

uint16_t Menu::incrementSetting(SettingsIndex_t index) {
    ostrixControlSettings.SetStepUp(index, 1);
    SetSettingValue(index, GetSettingValue(index));
    return GetSettingValue(index);
}

uint16_t Menu::decrementSetting(SettingsIndex_t index) {
    ostrixControlSettings.SetStepDown(index, 1);
    SetSettingValue(index, GetSettingValue(index));
    return GetSettingValue(index);
}

uint16_t Menu::toggleSetting(SettingsIndex_t index) {
    SetSettingValue(index, GetSettingValue(index) == 0 ? 1 : 0);
    return GetSettingValue(index);
}

bool Menu::restoreSettings(const std::string& file, int count) {
    return ostrixControlSettings.RetrieveLastSettings(file, count);
}

void Menu::OpenMenu(MenuKey_t key) {
    const auto& top = Children(kMenuRoot);
    if (top.empty()) {
        return;
    }
    mCurrentSelection = top.front();
    mPath.assign(1, mCurrentSelection);
    mScroll.assign(1, ScrollRecord{false, 0, 0});
    CalculateScrollIndex(0);
    mMenuOpen = true;
    guiPrint("GUI: Open Menu %u", key);
}

void Menu::CloseMenu(bool save) {
    for (MenuIndex_t index : mPath) {
        auto it = mButtonMap.find(index);
        if (it != mButtonMap.end()) {
            it->second.mEditing = 0;
        }
    }
    mPath.clear();
    mScroll.clear();
    mCurrentSelection = kNoItem;
    mMenuOpen = false;
    if (save) {
        ostrixControlSettings.SaveCurrentSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
    }
}

bool Menu::menuCloseHoldoffTimeoutExpired() {
    return timeout_expired(&mCloseHoldoff, 0, 0) != 0;
}

bool Menu::triggerAutoWhiteBalance() {
    CloseMenu(true);
    bool shown = false;
    int time = 0;
    SetMessage(MESS_AUTO_WB, 0, shown, time);
    if (window == nullptr) {
        ClearMessage();
        return false;
    }
    window->update();
    const bool confirmed = window->waitForOK();
    ClearMessage();
    return confirmed;
}

int Menu::mount_usb() {
    guiPrint("GUI: mount USB memory");
    int result = -1;
    for (const char* partition : kUsbPartitions) {
        const std::string device = platform::sysPath(partition);
        if (partitionExists(device)) {
            result = platform::shell("sudo mount " + platform::shellQuote(device) + " " +
                                     platform::shellQuote(platform::sysPath(kUsbMountPoint)));
            break;
        }
    }
    guiPrint("GUI: mount USB memory result %d", result);
    return result;
}

int Menu::unmount_usb() {
    return platform::shell("sudo umount " + platform::shellQuote(platform::sysPath(kUsbMountPoint)));
}

} // namespace Ostrix
