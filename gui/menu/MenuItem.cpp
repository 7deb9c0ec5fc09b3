#include "gui/menu/MenuItem.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "gui/settings/OstrixControlSettings.h"

namespace Ostrix {

namespace {

constexpr uint32_t kArrowOffset = 10;
constexpr uint32_t kRadioButtonOffset = 10;
constexpr uint32_t kBarOffset = 10;
constexpr uint32_t kBarFillStart = 3;
constexpr uint32_t kBarFillLength = 90;
constexpr uint32_t kNumberShift = 20;
constexpr uint32_t kEditBoxWidth = 24;
constexpr uint32_t kEditBoxHeight = 25;
constexpr uint32_t kEditBoxLeft = 8;
constexpr uint32_t kEditBoxAbove = 13;
// The digits are dark: the box behind a number being edited is the highlight blue.
constexpr uint32_t kEditBoxColour = 0xFF2060D0;
constexpr uint32_t kValueTextGap = 6;
// Text positions that centre the 22-pixel glyph boxes on the number and the bar.
constexpr int64_t kNumberTextAbove = 5;
constexpr uint32_t kBarTextDown = 2;

// Centred on (cx, cy). What lies left of or above the screen is cut off, as the frame
// buffer cuts the right and bottom: a highlight box at the screen's edge stays visible.
void drawCentred(VFB& vfb, const ImageRef& picture, int64_t cx, int64_t cy) {
    if (!picture.valid()) {
        return;
    }
    const int64_t x = cx - int64_t(picture.mWidth) / 2;
    const int64_t y = cy - int64_t(picture.mHeight) / 2;
    const int64_t cutLeft = std::max<int64_t>(0, -x);
    const int64_t cutTop = std::max<int64_t>(0, -y);
    if (cutLeft >= int64_t(picture.mWidth) || cutTop >= int64_t(picture.mHeight)) {
        return;
    }
    const ImageRef visible(picture.mSrc, picture.mX + uint32_t(cutLeft), picture.mY + uint32_t(cutTop),
                           picture.mWidth - uint32_t(cutLeft), picture.mHeight - uint32_t(cutTop));
    vfb.CopyImage(uint32_t(x + cutLeft), uint32_t(y + cutTop), visible, false);
}

// Aperture names by SETT_*_APERTURE.
constexpr const char* kApertures[] = {"CLOSE", "F14", "F11",  "F9.6", "F8",   "F6.8", "F5.6",
                                      "F4.8",  "F4",  "F3.4", "F2.8", "F2.4", "F2",   "F1.6"};
// Exposure times 1/x by SETT_MANUALEXPOSURE_TIME, at the camera's 50 Hz and 60 Hz rates.
constexpr uint16_t kExposure50Hz[] = {1,   2,   3,   6,   12,   25,   50,   75,   100,  120,  150,
                                      215, 300, 425, 600, 1000, 1250, 1750, 2500, 3500, 6000, 10000};
constexpr uint16_t kExposure60Hz[] = {1,   2,   4,   8,   15,   30,   60,   90,   100,  125,  180,
                                      250, 350, 500, 725, 1000, 1500, 2000, 3000, 4000, 6000, 10000};
static_assert(std::size(kExposure50Hz) == std::size(kExposure60Hz));
constexpr const char* kInfinite = "Inf";
// The calibration length is kept in tenths of a millimetre or hundredths of an inch.
constexpr double kTenthsPerMillimetre = 10.0;
constexpr double kHundredthsPerInch = 100.0;

std::string exposureName(uint16_t value) {
    const bool at50Hz = ostrixControlSettings.GetValue(SETT_CAMERAFREQ_50HZ) != 0;
    const uint16_t* times = at50Hz ? kExposure50Hz : kExposure60Hz;
    return value < std::size(kExposure50Hz) ? "1/" + std::to_string(times[value]) : kInfinite;
}

std::string lengthName(uint16_t value) {
    const bool mm = ostrixControlSettings.GetValue(SETT_MEASUREMENTUNITS_MM) != 0;
    char text[32];
    snprintf(text, sizeof text, mm ? "%.1f mm" : "%.2f in",
             value / (mm ? kTenthsPerMillimetre : kHundredthsPerInch));
    return text;
}

} // namespace

MenuItem::MenuItem(bool hasChildren, ButtonType_t kind)
    : mHasChildren(hasChildren), mKind(kind), mHeight(kind == BUTTON_BAR ? kBarItemHeight : kItemHeight) {}

void MenuItem::Enter() {
    if (mKind >= BUTTON_BAR && mKind <= BUTTON_TWO_AXIS) {
        mEditing = mEditing != 0 ? 0 : 1;
    }
}

std::string GetBarString(SettingsIndex_t setting, uint16_t value) {
    switch (setting) {
    case SETT_APERTUREPRIORITY_APERTURE:
    case SETT_MANUALEXPOSURE_APERTURE:
        return value < std::size(kApertures) ? kApertures[value] : kInfinite;
    case SETT_MANUALEXPOSURE_TIME:
        return exposureName(value);
    case SETT_CAL_SETCALSCALE:
        return lengthName(value);
    default:
        return std::to_string(value);
    }
}

void MenuItem::DrawItem(VFB& vfb, uint16_t currentValue, uint32_t x, uint32_t y, bool activeArrow,
                        bool selected, const MenuPictures& pictures, std::vector<OverlayText>& texts) {
    int64_t cx = int64_t(x) + mWidth / 2;
    int64_t cy = int64_t(y) + mHeight / 2;
    const ImageRef& arrow = activeArrow ? pictures.arrowBlue : pictures.arrowBlack;
    if (mHasChildren) {
        cx -= arrow.mWidth;
    }
    if (mKind == BUTTON_CHOICE) {
        cx += pictures.radioActive.mWidth / 2;
    }
    if (mKind == BUTTON_BAR) {
        cy -= pictures.barBackground.mHeight;
    }
    if (mKind == BUTTON_NUMBER) {
        cx += kNumberShift;
    }
    if (selected && mBoxStyle < 4) {
        drawCentred(vfb, pictures.boxBlue[mBoxStyle], cx, cy);
    }
    drawCentred(vfb, mPicture, cx, cy);
    if (mHasChildren && arrow.valid()) {
        vfb.CopyImage(x + mWidth - arrow.mWidth - kArrowOffset,
                      uint32_t(int64_t(y) + mHeight / 2 - arrow.mHeight / 2), arrow, false);
    }
    if (mKind == BUTTON_CHOICE) {
        const ImageRef& radio = currentValue == mValue ? pictures.radioActive : pictures.radioUnselected;
        vfb.CopyImage(x + kRadioButtonOffset, uint32_t(int64_t(y) + mHeight / 2 - radio.mHeight / 2), radio,
                      false);
    }
    if (mKind == BUTTON_BAR) {
        const ImageRef& bk = pictures.barBackground;
        const uint32_t bx = uint32_t(std::max<int64_t>(0, cx - int64_t(bk.mWidth) / 2));
        const uint32_t by = y + mHeight - kBarOffset - bk.mHeight;
        mBarX = bx;
        mBarY = by;
        vfb.CopyImage(bx, by, bk, false);
        // A bar with maximum 0 has nothing to fill.
        if (mMax != 0) {
            const uint32_t columns = (kBarFillLength - 1) * std::min(currentValue, mMax) / mMax + 1;
            const ImageRef& fill = Editing() ? pictures.barBlue : pictures.barBlack;
            for (uint32_t c = 0; c < columns; ++c) {
                vfb.CopyImage(bx + kBarFillStart + c, by + (bk.mHeight - fill.mHeight) / 2, fill, false);
            }
        }
        texts.emplace_back(GetBarString(mSetting, currentValue), bx + bk.mWidth + kValueTextGap,
                           by + kBarTextDown);
    }
    if (mKind == BUTTON_NUMBER) {
        const uint32_t left = x + kEditBoxLeft;
        if (Editing()) {
            vfb.DrawRect(left, uint32_t(cy - kEditBoxAbove), kEditBoxWidth, kEditBoxHeight, kEditBoxColour);
        }
        texts.emplace_back(GetBarString(mSetting, currentValue), left + 1, uint32_t(cy - kNumberTextAbove));
    }
}

} // namespace Ostrix
