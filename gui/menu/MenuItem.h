// One item of the menu tree: what it is (folder or action, choice, bar, number), the
// setting it controls, its picture in the icon sheet and its size on screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/SettingsIndex.h"
#include "gui/image/image.h"
#include "gui/menu/MenuTables.h"
#include "gui/render/OverlayText.h"
#include "gui/render/vfb.h"

namespace Ostrix {

// The pictures every item draws with, cut from the icon sheet and the slider picture.
struct MenuPictures {
    ImageRef arrowBlack;
    ImageRef arrowBlue;
    ImageRef boxBlue[4];
    ImageRef radioSelected;
    ImageRef radioActive;
    ImageRef radioUnselected;
    ImageRef barBlack;
    ImageRef barBlue;
    ImageRef barBackground;
};

class MenuItem {
public:
    MenuItem() = default;
    MenuItem(bool hasChildren, ButtonType_t kind);

    // Starts or ends editing of a bar, number, cursor or two-axis item.
    void Enter();
    bool Editing() const { return mEditing != 0; }

    // Draws the item with its top-left corner at (x, y); value texts go to `texts`.
    void DrawItem(VFB& vfb, uint16_t currentValue, uint32_t x, uint32_t y, bool activeArrow, bool selected,
                  const MenuPictures& pictures, std::vector<OverlayText>& texts);

    bool mHasChildren = false;
    ButtonType_t mKind = BUTTON_FOLDER;
    SettingsIndex_t mSetting = SETT_MAX_SETTING;
    SettingsIndex_t mSetting2 = SETT_MAX_SETTING;
    uint16_t mMax = 0;
    uint16_t mValue = 0;
    uint16_t mEditing = 0;
    ImageRef mPicture;
    uint32_t mBarX = 0;
    uint32_t mBarY = 0;
    uint32_t mWidth = 0;
    uint32_t mHeight = 0;
    uint32_t mBoxStyle = 0;

    static constexpr uint32_t kItemHeight = 42;
    static constexpr uint32_t kBarItemHeight = 67;
};

// The text of a bar's or number's value.
std::string GetBarString(SettingsIndex_t setting, uint16_t value);

} // namespace Ostrix
