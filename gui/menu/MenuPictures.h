// The fixed pictures of the menu: rectangles (x0, y0)-(x1, y1), right and bottom edges
// exclusive, in the icon sheet "./resources/Ostrix GUI Icons.png" or, for the bar pieces,
// in "./resources/slider.png".
#pragma once

#include <cstdint>

namespace Ostrix {

struct PictureRect {
    uint32_t x0;
    uint32_t y0;
    uint32_t x1;
    uint32_t y1;
};

constexpr const char* kIconSheetFile = "./resources/Ostrix GUI Icons.png";
constexpr const char* kSliderFile = "./resources/slider.png";

constexpr PictureRect kArrowBlack{644, 467, 655, 488};
constexpr PictureRect kArrowBlue{642, 435, 653, 456};
constexpr PictureRect kArrowBlueUp{661, 438, 681, 450};
constexpr PictureRect kArrowBlueDown{661, 467, 681, 481};
constexpr PictureRect kArrowBkUp{208, 605, 230, 619};
constexpr PictureRect kArrowBkDown{405, 776, 425, 790};
constexpr PictureRect kBoxBlue[] = {
    {509, 606, 591, 648},
    {487, 549, 633, 597},
    {496, 867, 600, 899},
    {728, 7, 864, 47},
};
constexpr PictureRect kRadioButtonSelected{68, 514, 91, 537};
constexpr PictureRect kRadioButtonActive{21, 513, 44, 536};
constexpr PictureRect kRadioButtonUnselected{108, 513, 132, 537};
// The status bar's magnifier and the information bar's sign.
constexpr PictureRect kMagnifierIcon{700, 100, 730, 130};
constexpr PictureRect kInfoIcon{700, 140, 730, 170};

// In the slider picture.
constexpr PictureRect kBarImageBlack{3, 25, 4, 35};
constexpr PictureRect kBarImageBlue{3, 3, 4, 13};
constexpr PictureRect kBarImageBk{1, 49, 99, 63};

} // namespace Ostrix
