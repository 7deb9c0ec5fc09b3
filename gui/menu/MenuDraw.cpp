// Drawing of the overlay: positions by menu position and bars, the status bar, the
// information bar, the menu levels with their scroll arrows, the crosses or grid and the
// measurement bar. Everything is clipped to the frame buffer.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "gui/app/guiprint.h"
#include "gui/image/image.h"
#include "gui/menu/Menu.h"
#include "gui/settings/OstrixControlSettings.h"

namespace Ostrix {

namespace {

constexpr int kMenuImageHeight = 390;
constexpr int kStatusBarHeight = 42;
constexpr int kInfoBarWidth = 625;
constexpr int kInfoBarHeight = 42;
constexpr int kMeasurementBarWidth = 600;
constexpr int kSmallCrossLength = 50;
constexpr int kNumOfLevel = 4;
constexpr int kUpDownArrowOffset = 4;
constexpr int kMenuWidthByLevels[] = {0, 112, 290, 436, 625};
constexpr int kStatusWidthMenuOpen = 625;
constexpr int kStatusWidthHdr = 316;
constexpr int kStatusWidth = 156;
constexpr int kBorderInset = 4;
constexpr int kIconLeft = 5;
constexpr int kIconTextGap = 15;
constexpr int kTextTop = 15;
constexpr int kInfoIconLeft = 12;
constexpr int kInfoTextLeft = 53;
constexpr uint32_t kOpaque = 0xFF000000;

// Crosshair colours by SETT_UI_CROSSHAIRCOLOUR; anything else is green.
const Colour* const kCrossColours[] = {&Colour::Red,  &Colour::Green,   &Colour::Blue,  &Colour::Yellow,
                                       &Colour::Cyan, &Colour::Magenta, &Colour::White, &Colour::Black};

uint32_t clampX(int x, int width) {
    return uint32_t(std::clamp(x, 0, width - 1));
}

uint16_t setting(SettingsIndex_t index) {
    return ostrixControlSettings.GetValue(index);
}

} // namespace

void Menu::PushOverlayText(const std::string& text, Point point) {
    mTexts.emplace_back(text, uint32_t(std::max(0, point.x)), uint32_t(std::max(0, point.y)));
}

void Menu::CalculateOffsets(bool withMeasurementBar) {
    (void)withMeasurementBar;
    const int info = setting(SETT_UI_INFORMATIONTEXT) != 0 ? kInfoBarHeight : 0;
    const int status = setting(SETT_UI_STATUSBARPOSITION) == 1 ? kStatusBarHeight : 0;
    const int position = setting(SETT_UI_MENUPOSITION);
    mRightAligned = position == 2 || position == 4;
    mBottomAligned = position == 3 || position == 4;
    const int x = mRightAligned ? mWidth - 1 : 0;
    if (!mBottomAligned) {
        mMenuOrigin = {x, info + status};
        mInfoBarOrigin = {x, status};
        mStatusStart = {x, 0};
    } else {
        mMenuOrigin = {x, mHeight - info - (kMenuImageHeight + 1) - status};
        mInfoBarOrigin = {x, mHeight - info - 1 - status};
        mStatusStart = {x, mHeight - (kStatusBarHeight + 1)};
    }
    mStatusEnd = {mRightAligned ? 0 : mWidth - 1, mStatusStart.y};
}

void Menu::DrawBoxWithBorders(VFB& vfb, Point origin, uint32_t width, uint32_t height) {
    const uint32_t x = clampX(origin.x, mWidth);
    const uint32_t y = uint32_t(std::clamp(origin.y, 0, mHeight - 1));
    vfb.DrawRect(x, y, width, height, kMenuBackground | kOpaque);
    if (width <= 2 * kBorderInset || height < 4) {
        return;
    }
    const uint32_t length = width - 2 * kBorderInset;
    vfb.DrawHLine(x + kBorderInset, y + 1, length, kDarkBorder, true, false);
    vfb.DrawHLine(x + kBorderInset, y + 2, length, kLightBorder, true, false);
    vfb.DrawHLine(x + kBorderInset, y + height - 3, length, kDarkBorder, true, false);
    vfb.DrawHLine(x + kBorderInset, y + height - 2, length, kLightBorder, true, false);
}

void Menu::DrawStatus(VFB& vfb) {
    const bool hdr = setting(SETT_HDR_MODE) != 0;
    const int width = mMenuOpen ? kStatusWidthMenuOpen : (hdr ? kStatusWidthHdr : kStatusWidth);
    const int left = mRightAligned ? mWidth - width : 0;
    const Point origin{left, mStatusStart.y};
    DrawBoxWithBorders(vfb, origin, uint32_t(width), kStatusBarHeight);
    float zoom = 0;
    bool digital = false;
    ostrixControlSettings.CalculateZoom(zoom, digital);
    char text[96];
    if (hdr) {
        snprintf(text, sizeof text, "%.1f %c   HDR rat 1:%d  exp %d", double(zoom), digital ? 'D' : ' ',
                 int(setting(SETT_HDR_RATIO)), 2 * int(setting(SETT_HDR_EXPOSURE)));
    } else {
        snprintf(text, sizeof text, "%.1f %c", double(zoom), digital ? 'D' : ' ');
    }
    int textLeft = left + kIconLeft;
    if (mMagnifier.valid()) {
        vfb.CopyImage(uint32_t(left + kIconLeft),
                      uint32_t(origin.y + (kStatusBarHeight - int(mMagnifier.mHeight)) / 2), mMagnifier,
                      false);
        textLeft += int(mMagnifier.mWidth);
    }
    textLeft += kIconTextGap;
    // The HDR text is cut to its box.
    OverlayText shown(text, uint32_t(textLeft), uint32_t(origin.y + kTextTop));
    while (!shown.mText.empty()) {
        uint32_t w = 0;
        uint32_t h = 0;
        shown.Rect(w, h);
        if (textLeft + int(w) <= left + width - kBorderInset) {
            break;
        }
        shown.mText.pop_back();
    }
    mTexts.push_back(shown);
}

void Menu::DrawInformationBar(VFB& vfb) {
    const int left = mRightAligned ? mInfoBarOrigin.x - kInfoBarWidth + 1 : mInfoBarOrigin.x;
    const Point origin{left, mInfoBarOrigin.y};
    DrawBoxWithBorders(vfb, origin, kInfoBarWidth, kInfoBarHeight);
    if (mInfoIcon.valid()) {
        vfb.CopyImage(uint32_t(left + kInfoIconLeft),
                      uint32_t(origin.y + (kInfoBarHeight - int(mInfoIcon.mHeight)) / 2), mInfoIcon, false);
    }
    PushOverlayText(GetInfoString(mCurrentSelection), {left + kInfoTextLeft, origin.y + kTextTop});
}

void Menu::DrawMenu(VFB& vfb) {
    const size_t levels = std::min<size_t>(mPath.size(), kNumOfLevel);
    const int width = kMenuWidthByLevels[levels];
    const int left = mRightAligned ? mMenuOrigin.x - width + 1 : mMenuOrigin.x;
    vfb.DrawRect(clampX(left, mWidth), uint32_t(std::max(0, mMenuOrigin.y)), uint32_t(width),
                 kMenuImageHeight, kMenuBackground | kOpaque);
    int columnOffset = 0;
    for (size_t level = 0; level < levels; ++level) {
        const MenuIndex_t parent = level == 0 ? kMenuRoot : mPath[level - 1];
        const auto& items = Children(parent);
        const int columnWidth = kMenuWidthByLevels[level + 1] - kMenuWidthByLevels[level];
        const int x =
            mRightAligned ? mMenuOrigin.x - columnOffset - columnWidth + 1 : mMenuOrigin.x + columnOffset;
        columnOffset += columnWidth;
        const ScrollRecord& scroll = level < mScroll.size() ? mScroll[level] : ScrollRecord{false, 0, 0};
        int y = mMenuOrigin.y;
        size_t first = 0;
        size_t last = items.empty() ? 0 : items.size() - 1;
        if (scroll.scrolling) {
            first = scroll.first;
            last = std::min(scroll.last, last);
            const ImageRef& up = first > 0 ? mArrowBlueUp : mArrowBkUp;
            if (first > 0 && up.valid()) {
                vfb.CopyImage(uint32_t(x + (columnWidth - int(up.mWidth)) / 2),
                              uint32_t(y + kUpDownArrowOffset), up, false);
            }
            y += int(mArrowBlueUp.mHeight) + 2 * kUpDownArrowOffset;
        }
        for (size_t i = first; i <= last && i < items.size(); ++i) {
            auto it = mButtonMap.find(items[i]);
            if (it == mButtonMap.end()) {
                continue;
            }
            MenuItem& item = it->second;
            const bool selected = items[i] == mPath[level];
            const uint16_t value = item.mSetting < SETT_MAX_SETTING ? setting(item.mSetting) : 0;
            if (x >= 0 && y >= 0 && x + int(item.mWidth) <= mWidth && y + int(item.mHeight) <= mHeight) {
                item.DrawItem(vfb, value, uint32_t(x), uint32_t(y), selected, selected, mPictures, mTexts);
            }
            y += int(item.mHeight);
        }
        if (scroll.scrolling && last + 1 < items.size() && mArrowBlueDown.valid()) {
            const int bottom =
                mMenuOrigin.y + kMenuImageHeight - int(mArrowBlueDown.mHeight) - kUpDownArrowOffset;
            vfb.CopyImage(uint32_t(x + (columnWidth - int(mArrowBlueDown.mWidth)) / 2),
                          uint32_t(std::max(0, bottom)), mArrowBlueDown, false);
        }
    }
}

uint32_t Menu::crossColour() const {
    const uint16_t c = setting(SETT_UI_CROSSHAIRCOLOUR);
    return c < sizeof kCrossColours / sizeof kCrossColours[0] ? kCrossColours[c]->mCol : Colour::Green.mCol;
}

void Menu::DrawCrossesOrGrid(VFB& vfb) {
    if (setting(SETT_OVERVIEW_MODE) != 0) {
        return;
    }
    const uint32_t colour = crossColour();
    const auto editing = [this](SettingsIndex_t a, SettingsIndex_t b) {
        const MenuItem* item = Item(mCurrentSelection);
        return item != nullptr && item->Editing() && (item->mSetting == a || item->mSetting == b);
    };
    switch (setting(SETT_MEAS_TYPE)) {
    case 0: {
        const uint16_t size = setting(SETT_UI_CROSSHAIRSIZE);
        if (size == 0) {
            return;
        }
        const bool isLong = size == 2;
        const SettingsIndex_t cursors[2][2] = {{SETT_MEAS_CURSOR1_X, SETT_MEAS_CURSOR1_Y},
                                               {SETT_MEAS_CURSOR2_X, SETT_MEAS_CURSOR2_Y}};
        for (const auto& c : cursors) {
            const int x = setting(c[0]);
            const int y = setting(c[1]);
            const bool dashed = editing(c[0], c[1]);
            if (isLong) {
                vfb.DrawVLine(clampX(x, mWidth), 0, uint32_t(mHeight), colour, false, dashed);
                vfb.DrawHLine(0, uint32_t(std::clamp(y, 0, mHeight - 1)), uint32_t(mWidth), colour, false,
                              dashed);
            } else {
                const int half = kSmallCrossLength / 2;
                vfb.DrawVLine(clampX(x, mWidth), uint32_t(std::max(0, y - half)), kSmallCrossLength, colour,
                              false, dashed);
                vfb.DrawHLine(clampX(x - half, mWidth), uint32_t(std::clamp(y, 0, mHeight - 1)),
                              kSmallCrossLength, colour, false, dashed);
            }
        }
        break;
    }
    case 1: {
        const int cellX = std::max<int>(1, setting(SETT_SETGRIDSIZE_X));
        const int cellY = std::max<int>(1, setting(SETT_SETGRIDSIZE_Y));
        const bool dashed = editing(SETT_SETGRIDSIZE_X, SETT_SETGRIDPOSITION_X);
        for (int x = setting(SETT_SETGRIDPOSITION_X); x < mWidth - 1; x += cellX) {
            vfb.DrawVLine(uint32_t(x), 0, uint32_t(mHeight), colour, false, dashed);
        }
        for (int y = setting(SETT_SETGRIDPOSITION_Y); y < mHeight - 1; y += cellY) {
            vfb.DrawHLine(0, uint32_t(y), uint32_t(mWidth), colour, false, dashed);
        }
        break;
    }
    default:
        break;
    }
}

void Menu::DrawMeasurementBar(VFB& vfb) {
    const bool grid = setting(SETT_MEAS_TYPE) == 1;
    const bool mm = setting(SETT_MEASUREMENTUNITS_MM) != 0;
    const char* unit = mm ? " mm" : " in";
    const int bars = std::abs(int(setting(SETT_CAL_RIGHTBAR)) - int(setting(SETT_CAL_LEFTBAR)));
    char text[128];
    if (bars == 0) {
        // Equal calibration bars give no scale.
        snprintf(text, sizeof text, grid ? " X: --  Y: -- %s" : " X: --  Y: --  D: -- %s", unit);
    } else {
        const double scale = setting(SETT_CAL_SETCALSCALE) / (mm ? 10.0 : 100.0) / bars;
        const double dx =
            std::abs(int(setting(SETT_MEAS_CURSOR2_X)) - int(setting(SETT_MEAS_CURSOR1_X))) * scale;
        const double dy =
            std::abs(int(setting(SETT_MEAS_CURSOR2_Y)) - int(setting(SETT_MEAS_CURSOR1_Y))) * scale;
        snprintf(text, sizeof text, " X: %.2f Y: %.2f D: %.2f%s", dx, dy, std::sqrt(dx * dx + dy * dy), unit);
    }
    const int left = (mWidth - kMeasurementBarWidth) / 2;
    const int top = mBottomAligned ? 0 : mHeight - kStatusBarHeight - 1;
    DrawBoxWithBorders(vfb, {left, top}, kMeasurementBarWidth, kStatusBarHeight);
    PushOverlayText(text, {left + kIconTextGap, top + kTextTop});
}

void Menu::UpdateTime() {
    constexpr MenuIndex_t kTime = 223;
    constexpr MenuIndex_t kDate = 226;
    if (mPath.size() != 3 || (mPath[1] != kTime && mPath[1] != kDate)) {
        return;
    }
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    const struct {
        MenuIndex_t item;
        SettingsIndex_t setting;
        int value;
    } clock[] = {{225, SETT_TIME_MINUTES, local.tm_min},
                 {224, SETT_TIME_HOURS, local.tm_hour},
                 {230, SETT_DATE_DAY, local.tm_mday},
                 {231, SETT_DATE_MONTH, local.tm_mon + 1},
                 {232, SETT_DATE_YEAR, local.tm_year % 100}};
    for (const auto& c : clock) {
        const MenuItem* item = Item(c.item);
        if (item != nullptr && !item->Editing()) {
            ostrixControlSettings.SetValue(c.setting, uint16_t(c.value));
        }
    }
}

void Menu::DrawOverlayInfo(VFB& vfb) {
    mTexts.clear();
    UpdateTime();
    const bool measurement = setting(SETT_CAL_LOCK) != 0 && setting(SETT_MEAS_TYPE) != 2;
    CalculateOffsets(measurement);
    if (measurement && mWidth >= kMeasurementBarWidth) {
        DrawMeasurementBar(vfb);
    }
    if (setting(SETT_UI_STATUSBARPOSITION) == 1) {
        DrawStatus(vfb);
    }
    if (mMenuOpen) {
        if (setting(SETT_UI_INFORMATIONTEXT) != 0) {
            DrawInformationBar(vfb);
        }
        DrawMenu(vfb);
    }
    for (const OverlayText& text : mTexts) {
        text.DrawText(vfb);
    }
    DrawCrossesOrGrid(vfb);
}

} // namespace Ostrix
