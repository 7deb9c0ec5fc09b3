// The constant tables the menu is built from: the tree (parent -> children in display
// order), the item definitions (picture in the icon sheet, kind, highlight box), the
// bindings (setting and choice value of an item) and the labels the icon sheet shows.
#pragma once

#include <cstdint>

namespace Ostrix {

using MenuIndex_t = uint32_t;
constexpr MenuIndex_t kMenuRoot = 0xFF00;
constexpr MenuIndex_t kNoItem = 65535;
constexpr int kTreeRowWords = 16;

enum ButtonType_t : uint32_t {
    BUTTON_FOLDER = 0,
    BUTTON_CHOICE = 1,
    BUTTON_BAR = 2,
    BUTTON_NUMBER = 3,
    BUTTON_CURSOR = 4,
    BUTTON_TWO_AXIS = 5,
    BUTTON_RADIO_RIGHT = 6,
};

struct MenuItemDefinition {
    uint32_t index;
    uint32_t x0;
    uint32_t y0;
    uint32_t x1;
    uint32_t y1;
    uint32_t kind;
    uint32_t boxStyle;
};

struct MenuBinding {
    uint32_t index;
    uint32_t setting;
    uint32_t value;
};

struct MenuItemLabel {
    uint32_t index;
    uint32_t kind;
    const char* label;
};

// Rows of 16 words: parent, then children up to the first 65535; the last row's parent
// is 65535.
extern const uint32_t menuTree[][kTreeRowWords];
// Ended by index 65535.
extern const MenuItemDefinition itemDefinitions[];
extern const MenuBinding itemBindings[];
extern const MenuItemLabel itemLabels[];

} // namespace Ostrix
