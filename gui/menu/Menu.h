// The overlay menu: the tree of items driven by keys, its drawing (status bar,
// information bar, menu levels, crosses, grid, measurement bar), the message box with its
// texts in the user's language, and the settings it reads and changes.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/SettingsIndex.h"
#include "gui/image/image.h"
#include "gui/menu/MenuItem.h"
#include "gui/menu/MenuTables.h"
#include "gui/render/OverlayText.h"
#include "gui/render/vfb.h"

namespace Ostrix {

using MenuKey_t = uint32_t;

class Menu {
public:
    Menu(int width, int height);
    ~Menu();
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    // --- keys and settings ---
    // Handles one key (SELECT opens a closed menu); true when a reply or a redraw is due.
    bool ProcessKey(MenuKey_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                    int& messageTime);
    void OpenMenu(MenuKey_t key);
    void CloseMenu(bool save);
    uint16_t GetSettingValue(SettingsIndex_t index) const;
    // Stores the value; for saved settings the settings file is rewritten.
    void SetSettingValue(SettingsIndex_t index, uint16_t value);
    uint16_t incrementSetting(SettingsIndex_t index);
    uint16_t decrementSetting(SettingsIndex_t index);
    uint16_t toggleSetting(SettingsIndex_t index);
    bool restoreSettings(const std::string& file, int count);
    bool menuCloseHoldoffTimeoutExpired();
    bool triggerAutoWhiteBalance();
    int mount_usb();
    int unmount_usb();

    // --- drawing ---
    struct Point {
        int x;
        int y;
    };
    void CalculateOffsets(bool withMeasurementBar);
    // Draws the whole overlay but the message: status bar, information bar, menu levels,
    // texts, crosses or grid.
    void DrawOverlayInfo(VFB& vfb);
    void PushOverlayText(const std::string& text, Point point);
    void PushOverlayText(const char* text, Point point) { PushOverlayText(std::string(text), point); }

    // --- pictures ---
    // Loads "./overlay.png" once (a reload first forgets it); true when one is loaded.
    bool LoadOverlayImage(bool reload);
    // Blends the overlay picture over the frame when SETT_OVERLAY is 1.
    void AddOverlayImage(VFB& vfb) const;
    // The stored picture the chooser shows, at a quarter of its size.
    void DisplayStoredImage(VFB& vfb) const;
    // The picture the chooser shows now, if it could be decoded.
    const ImageFile* StoredImage() const { return mStoredImage.get(); }

    // --- messages ---
    bool SetMessage(uint32_t number, uint32_t value, bool& showMessage, int& messageTime);
    void SetMessage(const std::string& text);
    void ClearMessage();
    void DrawMessage(VFB& vfb) const;
    std::string GetInfoString(uint32_t item) const;
    void ShowVersion(std::string& text) const;

    // --- inspection ---
    bool MenuOpen() const { return mMenuOpen; }
    MenuIndex_t CurrentSelection() const { return mCurrentSelection; }
    const std::vector<MenuIndex_t>& Path() const { return mPath; }
    const MenuItem* Item(MenuIndex_t index) const;
    const std::vector<MenuIndex_t>& Children(MenuIndex_t parent) const;
    Point MenuOrigin() const { return mMenuOrigin; }
    Point InfoBarOrigin() const { return mInfoBarOrigin; }
    Point StatusBarStart() const { return mStatusStart; }

    struct Box {
        int left;
        int top;
        int right;
        int bottom;
    };
    struct ScrollRecord {
        bool scrolling;
        size_t first;
        size_t last;
    };
    const std::vector<ScrollRecord>& Scroll() const { return mScroll; }
    uint32_t CurrentMessage() const { return mMessageNumber; }
    const OverlayText& MessageText() const { return mMessage; }
    const Box& MessageBox() const { return mMessageBox; }

    static constexpr uint32_t kMessageFill = 0xFF8B8B8B;
    static constexpr uint32_t kDarkBorder = 0xFF454545;
    static constexpr uint32_t kLightBorder = 0xC8949393;
    static constexpr uint32_t kMenuBackground = 0xC88B8B8B;
    static constexpr const char* kUsbMountPoint = "/media/usb_gui";

private:
    // Start-up steps.
    void loadPictures();
    void Initialise();
    void InitButtonMap();
    void setScreenRanges();

    // Keys.
    bool hdrKey(MenuKey_t key, uint32_t& reply0, uint32_t& reply1);
    bool editKey(MenuItem& item, MenuKey_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1);
    bool navigate(MenuKey_t key, uint32_t step, uint32_t& reply0, uint32_t& reply1);
    bool select(MenuItem& item, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime);
    bool action(MenuIndex_t index, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime);
    bool presetAction(MenuIndex_t index, uint32_t& reply0, uint32_t& reply1, bool& showMessage,
                      int& messageTime);
    void exportPreset(int slot, bool& showMessage, int& messageTime);
    void importPreset(int slot, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime);
    bool chooseImage(uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime);
    bool usbSettings(bool save, uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime);
    void setSystemClock(MenuIndex_t index);
    void CheckDateInput();
    int depthOf(MenuIndex_t index) const;
    const std::vector<MenuIndex_t>& dateChildren(const std::vector<MenuIndex_t>& inTreeOrder) const;
    void CalculateScrollIndex(size_t level);
    void moveSelection(size_t level, size_t position);

    // Drawing.
    void DrawBoxWithBorders(VFB& vfb, Point origin, uint32_t width, uint32_t height);
    void DrawStatus(VFB& vfb);
    void DrawInformationBar(VFB& vfb);
    void DrawMenu(VFB& vfb);
    void DrawCrossesOrGrid(VFB& vfb);
    void DrawMeasurementBar(VFB& vfb);
    void UpdateTime();
    uint32_t crossColour() const;

    // Messages.
    // The message's text in the user's language with its placeholders filled; the
    // saving animation and the countdown are shown only while the menu is closed.
    std::string messageText(uint32_t number, uint32_t value, int& time, bool& onlyWithMenuClosed) const;
    void layoutMessage(const std::string& text, int round);
    std::string splitMessage(const std::string& text) const;

    int mWidth;
    int mHeight;

    std::map<MenuIndex_t, std::vector<MenuIndex_t>> mChildren;
    std::map<MenuIndex_t, MenuIndex_t> mParent;
    // The Date folder's children in the order of the date format, rebuilt on each look-up.
    mutable std::vector<MenuIndex_t> mDateChildren;
    std::map<MenuIndex_t, MenuItem> mButtonMap;
    MenuIndex_t mCurrentSelection = kNoItem;
    std::vector<MenuIndex_t> mPath;
    std::vector<ScrollRecord> mScroll;
    bool mMenuOpen = false;
    timer_t mCloseHoldoff;

    ImageFilePNG mIcons;
    ImageFilePNG mSlider;
    MenuPictures mPictures;
    ImageRef mArrowBlueUp;
    ImageRef mArrowBlueDown;
    ImageRef mArrowBkUp;
    ImageRef mArrowBkDown;
    ImageRef mMagnifier;
    ImageRef mInfoIcon;

    Point mMenuOrigin{0, 0};
    Point mInfoBarOrigin{0, 0};
    Point mStatusStart{0, 0};
    Point mStatusEnd{0, 0};
    bool mRightAligned = false;
    bool mBottomAligned = false;
    std::vector<OverlayText> mTexts;
    uint16_t mGridWidth = 40;
    uint16_t mGridHeight = 40;

    std::unique_ptr<ImageFilePNG> mOverlayImage;
    std::unique_ptr<ImageFile> mStoredImage;

    uint32_t mMessageNumber = 0;
    OverlayText mMessage{"", 0, 0};
    Box mMessageBox{0, 0, 0, 0};
};

} // namespace Ostrix
