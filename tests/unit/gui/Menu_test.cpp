// The menu: navigation and scroll windows, editing and its replies, choices, the date
// check, presets, and the positions and pictures it draws.
#include "gui/menu/Menu.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

#include "common/messages.h"
#include "gui/menu/MenuPictures.h"
#include "gui/settings/OstrixControlSettings.h"
#include "tests/unit/gui/DisplayFixture.h"

namespace {

using namespace Ostrix;
using testing_support::readFile;
using testing_support::writeFile;

using Reply = testing_support::GuiReply;

// The menu in the board's home folder, with the program's pictures.
class MenuTest : public testing_support::MenuFixture {
protected:
    // Opens the menu and walks RIGHT/DOWN to an item: path of (downs at each level).
    void walk(std::initializer_list<int> downs) {
        key(UKEY_SELECT);
        bool first = true;
        for (int d : downs) {
            if (!first) {
                key(UKEY_RIGHT);
            }
            first = false;
            for (int i = 0; i < d; ++i) {
                key(UKEY_DOWN);
            }
        }
    }
    uint16_t value(SettingsIndex_t i) { return ostrixControlSettings.GetValue(i); }
};

TEST_F(MenuTest, SelectOpensAtTheFirstItemAndNavigationRepliesTheItem) {
    EXPECT_FALSE(key(UKEY_DOWN).send); // closed: nothing
    const Reply open = key(UKEY_SELECT);
    EXPECT_TRUE(open.send);
    EXPECT_EQ(menu_->CurrentSelection(), 274u);
    const Reply down = key(UKEY_DOWN);
    EXPECT_TRUE(down.send);
    EXPECT_EQ(down.reply0, 0x01000000u + 287);
    EXPECT_EQ(key(UKEY_RIGHT).reply0, 0x01000000u + 288);
    EXPECT_EQ(menu_->Path(), (std::vector<MenuIndex_t>{287, 288}));
    EXPECT_EQ(key(UKEY_LEFT).reply0, 0x01000000u + 287);
    EXPECT_FALSE(key(UKEY_UP, 0).send == false);
    EXPECT_FALSE(key(UKEY_UP).send); // at the first item: nothing
}

TEST_F(MenuTest, SubmenuOpensAtTheCurrentChoice) {
    ostrixControlSettings.SetValue(SETT_LENSPOWER, 2);
    walk({1, 6}); // Camera -> Set Lens Power
    EXPECT_EQ(menu_->CurrentSelection(), 151u);
    key(UKEY_RIGHT);
    EXPECT_EQ(menu_->CurrentSelection(), 252u);
    EXPECT_FALSE(key(UKEY_SELECT).send);
    const Reply choose = (key(UKEY_DOWN), key(UKEY_SELECT));
    EXPECT_EQ(choose.reply0, 0xD0000002u); // chosen with the select key
    EXPECT_EQ(choose.reply1, 3u);
    EXPECT_EQ(value(SETT_LENSPOWER), 3);
    EXPECT_FALSE(key(UKEY_DOWN).send); // last item
    EXPECT_NE(readFile("QLM_GUI.settings").find("\nSETT_LENSPOWER=3\n"), std::string::npos);
}

TEST_F(MenuTest, LeftAtTheTopClosesSavesAndHoldsOffCapture) {
    key(UKEY_SELECT);
    std::remove("QLM_GUI.settings");
    EXPECT_TRUE(key(UKEY_LEFT).send);
    EXPECT_FALSE(menu_->MenuOpen());
    EXPECT_EQ(menu_->CurrentSelection(), kNoItem);
    EXPECT_TRUE(std::filesystem::exists("QLM_GUI.settings"));
    EXPECT_FALSE(menu_->menuCloseHoldoffTimeoutExpired());
}

TEST_F(MenuTest, EditingABarRepliesEvenAtItsLimit) {
    walk({1, 0}); // Camera -> Camera Gain
    EXPECT_EQ(menu_->CurrentSelection(), 288u);
    key(UKEY_SELECT);
    EXPECT_TRUE(menu_->Item(288)->Editing());
    struct Step {
        uint32_t key;
        uint32_t step;
        uint16_t expected;
    };
    for (const Step& s : {Step{UKEY_RIGHT, 0, 6}, Step{UKEY_RIGHT, 3, 9}, Step{UKEY_RIGHT, 0, 10},
                          Step{UKEY_RIGHT, 0, 10}, Step{UKEY_LEFT, 4, 6}}) {
        const Reply r = key(s.key, s.step);
        EXPECT_TRUE(r.send);
        EXPECT_EQ(r.reply0, 0xA0000035u);
        EXPECT_EQ(r.reply1, s.expected);
    }
    EXPECT_TRUE(key(UKEY_SELECT).send);
    EXPECT_FALSE(menu_->Item(288)->Editing());
    // UP while editing leaves editing and moves.
    key(UKEY_DOWN);
    key(UKEY_SELECT);
    EXPECT_EQ(key(UKEY_UP).reply0, 0x01000000u + 288);
    EXPECT_FALSE(menu_->Item(289)->Editing());
}

TEST_F(MenuTest, DayIsCutToTheMonthAndFebruaryHas29DaysInLeapYears) {
    struct Case {
        uint16_t year;
        uint16_t expected;
    };
    for (const Case& c : {Case{24, 29}, Case{23, 28}, Case{0, 28}, Case{96, 29}}) {
        menu_->CloseMenu(false);
        ostrixControlSettings.SetValue(SETT_DATE_DAY, 31);
        ostrixControlSettings.SetValue(SETT_DATE_MONTH, 3);
        ostrixControlSettings.SetValue(SETT_DATE_YEAR, c.year);
        walk({5, 4, 4}); // Settings -> Date -> Set Month
        ASSERT_EQ(menu_->CurrentSelection(), 231u);
        key(UKEY_SELECT);
        key(UKEY_LEFT);
        EXPECT_EQ(value(SETT_DATE_MONTH), 2);
        EXPECT_EQ(value(SETT_DATE_DAY), c.expected) << "year " << c.year;
    }
}

// The Date folder: three format choices, then the day, month and year in the chosen order.
TEST_F(MenuTest, TheDateFormatOrdersTheDateColumn) {
    struct Case {
        int formatDowns;
        uint16_t format;
        std::vector<MenuIndex_t> column;
    };
    const Case cases[] = {
        {1, 1, {227, 228, 229, 231, 230, 232}},  // MM/DD/YY: Month, Day, Year
        {1, 2, {227, 228, 229, 232, 231, 230}},  // YY/MM/DD: Year, Month, Day
        {-2, 0, {227, 228, 229, 230, 231, 232}}, // DD/MM/YY: Day, Month, Year
    };
    walk({5, 4}); // Settings -> Date
    key(UKEY_RIGHT);
    ASSERT_EQ(menu_->CurrentSelection(), 227u);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        for (int i = 0; i < std::abs(c.formatDowns); ++i) {
            key(c.formatDowns > 0 ? UKEY_DOWN : UKEY_UP);
        }
        const Reply chosen = key(UKEY_SELECT);
        EXPECT_EQ(chosen.reply0, 0xD0000000u + SETT_DATEFORMAT);
        EXPECT_EQ(chosen.reply1, c.format);
        EXPECT_EQ(value(SETT_DATEFORMAT), c.format);
        EXPECT_EQ(menu_->Children(226), c.column);
        // DOWN walks the column as it is shown, and back up to the choice.
        const MenuIndex_t choice = menu_->CurrentSelection();
        const size_t at = size_t(std::find(c.column.begin(), c.column.end(), choice) - c.column.begin());
        for (size_t row = at + 1; row < c.column.size(); ++row) {
            key(UKEY_DOWN);
            EXPECT_EQ(menu_->CurrentSelection(), c.column[row]);
        }
        while (menu_->CurrentSelection() != choice) {
            key(UKEY_UP);
        }
    }
}

TEST_F(MenuTest, ApplyingAMissingPresetShowsItsNumber) {
    walk({4, 3, 0}); // Presets -> Preset 03 -> Apply
    ASSERT_EQ(menu_->CurrentSelection(), 84u);
    const Reply r = key(UKEY_SELECT);
    EXPECT_TRUE(r.show);
    EXPECT_EQ(menu_->CurrentMessage(), uint32_t(MESS_NO_PRESET_FILE));
    EXPECT_EQ(r.reply0, 0u);

    key(UKEY_DOWN); // Save
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 8);
    key(UKEY_SELECT);
    EXPECT_TRUE(std::filesystem::exists("QLM_Preset03.settings"));
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 1);
    key(UKEY_UP);
    const Reply apply = key(UKEY_SELECT);
    EXPECT_EQ(apply.reply0, 0x70000003u);
    EXPECT_EQ(value(SETT_CAMERA_GAIN), 8);
}

TEST_F(MenuTest, LongListsScrollAndKeepTheCurrentItemVisible) {
    walk({4, 0, 0}); // Presets -> Hotkeys -> P1 long: 11 choices
    key(UKEY_LEFT);
    key(UKEY_LEFT);
    ASSERT_EQ(menu_->CurrentSelection(), 22u);
    key(UKEY_RIGHT); // 11 items of 42: scrolls
    for (int i = 0; i < 10; ++i) {
        key(UKEY_DOWN);
        const auto& s = menu_->Scroll().back();
        const auto& items = menu_->Children(22);
        const size_t pos =
            size_t(std::find(items.begin(), items.end(), menu_->CurrentSelection()) - items.begin());
        EXPECT_TRUE(s.scrolling);
        EXPECT_LE(s.first, pos);
        EXPECT_GE(s.last, pos);
    }
    EXPECT_EQ(menu_->CurrentSelection(), 72u);
}

TEST_F(MenuTest, RingAndHdrKeysWorkWithTheMenuClosed) {
    EXPECT_EQ(key(UKEY_RING_UP).reply0, 0xA000003Bu);
    EXPECT_EQ(value(SETT_LIGHT_RING), 1);
    EXPECT_EQ(key(UKEY_SUBSTAGE_DOWN).reply1, 0u);
    EXPECT_FALSE(key(UKEY_HDR_RATIO_UP).send); // HDR off
    const Reply on = key(UKEY_HDR_MODE_TOGGLE);
    EXPECT_EQ(on.reply0, 0xA000005Fu);
    EXPECT_EQ(on.reply1, 1u);
    EXPECT_EQ(key(UKEY_HDR_RATIO_UP).reply0, 0xA000005Du);
    EXPECT_EQ(key(UKEY_HDR_EXPOSURE_UP).reply1, 2u);
    EXPECT_FALSE(key(UKEY_HDR_EXPOSURE_DOWN).send == false);
    EXPECT_FALSE(key(UKEY_HDR_EXPOSURE_DOWN).send); // at its minimum
}

TEST_F(MenuTest, OffsetsFollowPositionAndBars) {
    struct Case {
        uint16_t position;
        uint16_t status;
        uint16_t info;
        Menu::Point menu;
        Menu::Point infoBar;
    };
    const Case cases[] = {
        {4, 1, 1, {799, 480 - 42 - 391 - 42}, {799, 480 - 42 - 1 - 42}},
        {1, 0, 1, {0, 42}, {0, 0}},
        {1, 1, 1, {0, 84}, {0, 42}},
        {2, 0, 0, {799, 0}, {799, 0}},
        {3, 0, 1, {0, 480 - 42 - 391}, {0, 480 - 43}},
    };
    for (const Case& c : cases) {
        ostrixControlSettings.SetValue(SETT_UI_MENUPOSITION, c.position);
        ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, c.status);
        ostrixControlSettings.SetValue(SETT_UI_INFORMATIONTEXT, c.info);
        menu_->CalculateOffsets(false);
        EXPECT_EQ(menu_->MenuOrigin().x, c.menu.x) << c.position;
        EXPECT_EQ(menu_->MenuOrigin().y, c.menu.y) << c.position;
        EXPECT_EQ(menu_->InfoBarOrigin().y, c.infoBar.y) << c.position;
    }
}

size_t countColour(const VFB& vfb, uint32_t colour) {
    return size_t(std::count(vfb.data(), vfb.data() + vfb.width() * vfb.height(), colour));
}

TEST_F(MenuTest, CrossesAndGridFollowTheMeasurementSettings) {
    struct Case {
        uint16_t overview;
        uint16_t type;
        uint16_t colour;
        uint32_t expect;
        bool drawn;
    };
    const Case cases[] = {
        {1, 0, 0, Colour::Red.mCol, false}, {0, 2, 0, Colour::Red.mCol, false},
        {0, 0, 0, Colour::Red.mCol, true},  {0, 0, 9, Colour::Green.mCol, true},
        {0, 1, 2, Colour::Blue.mCol, true},
    };
    ostrixControlSettings.SetValue(SETT_UI_CROSSHAIRSIZE, 2);
    for (const Case& c : cases) {
        ostrixControlSettings.SetValue(SETT_OVERVIEW_MODE, c.overview);
        ostrixControlSettings.SetValue(SETT_MEAS_TYPE, c.type);
        ostrixControlSettings.SetValueRange(SETT_UI_CROSSHAIRCOLOUR, 0, 9, 1);
        ostrixControlSettings.SetValue(SETT_UI_CROSSHAIRCOLOUR, c.colour);
        VFB vfb(800, 480, 800);
        menu_->DrawOverlayInfo(vfb);
        EXPECT_EQ(countColour(vfb, c.expect) > 0, c.drawn) << c.type << "/" << c.colour;
        if (c.drawn && c.type == 0) {
            EXPECT_EQ(vfb.pixel(100, 300), c.expect); // long cross at x 100
        }
    }
}

TEST_F(MenuTest, BarFillGrowsWithTheValue) {
    walk({0, 0}); // Display -> Brightness (0..100)
    struct Case {
        uint16_t value;
        size_t columns;
    };
    for (const Case& c : {Case{100, 90}, Case{0, 1}, Case{50, 45}}) {
        ostrixControlSettings.SetValue(SETT_DISPLAY_BRIGHTNESS, c.value);
        VFB vfb(800, 480, 800);
        menu_->DrawOverlayInfo(vfb);
        const MenuItem* bar = menu_->Item(275);
        size_t filled = 0;
        const uint32_t y = bar->mBarY + 7;
        for (uint32_t x = bar->mBarX; x < bar->mBarX + 100; ++x) {
            filled += vfb.pixel(x, y) == 0xFF141414u;
        }
        EXPECT_EQ(filled, c.columns) << c.value;
    }
}

// The colour the highlight box of `style` shows most: its commonest opaque pixel.
uint32_t highlightColour(uint32_t style) {
    ImageFilePNG sheet;
    EXPECT_TRUE(sheet.load(OSTRIX_SOURCE_DIR "/resources/Ostrix GUI Icons.png"));
    const PictureRect& r = kBoxBlue[style];
    std::map<uint32_t, size_t> counts;
    for (uint32_t y = r.y0; y < r.y1; ++y) {
        for (uint32_t x = r.x0; x < r.x1; ++x) {
            const uint32_t p = sheet.pixel(x, y);
            if ((p >> 24) == 0xFF && p != Menu::kMessageFill) {
                ++counts[p];
            }
        }
    }
    EXPECT_FALSE(counts.empty());
    return std::max_element(counts.begin(), counts.end(),
                            [](const auto& a, const auto& b) { return a.second < b.second; })
        ->first;
}

// The first item of a submenu lies on the screen's edge when the menu does: its highlight
// box is cut there, never lost.
TEST_F(MenuTest, TheHighlightBoxIsClippedAtEveryScreenEdge) {
    struct Case {
        uint16_t position;
        uint16_t info;
        bool atTopEdge;
    };
    const Case cases[] = {{1, 0, true},  {1, 1, false}, {2, 0, true},  {2, 1, false},
                          {3, 0, false}, {3, 1, false}, {4, 0, false}, {4, 1, false}};
    ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, 0);
    walk({0, 0}); // Display -> Brightness
    ASSERT_EQ(menu_->CurrentSelection(), 275u);
    const MenuItem* brightness = menu_->Item(275);
    const uint32_t colour = highlightColour(brightness->mBoxStyle);
    // The second column: 178 wide, next to the first one of 112.
    constexpr int kFirstColumn = 112;
    constexpr int kSecondColumn = 178;
    std::map<std::pair<uint16_t, uint16_t>, size_t> boxPixels;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "position " << c.position << " info " << c.info);
        ostrixControlSettings.SetValue(SETT_UI_MENUPOSITION, c.position);
        ostrixControlSettings.SetValue(SETT_UI_INFORMATIONTEXT, c.info);
        VFB vfb(800, 480, 800);
        menu_->DrawOverlayInfo(vfb);
        const bool right = c.position == 2 || c.position == 4;
        const int left = right ? 800 - kFirstColumn - kSecondColumn : kFirstColumn;
        const int top = menu_->MenuOrigin().y;
        size_t box = 0;
        size_t onTopRow = 0;
        for (int y = std::max(0, top - 10); y < top + int(brightness->mHeight); ++y) {
            for (int x = left; x < left + kSecondColumn; ++x) {
                const bool highlight = vfb.pixel(uint32_t(x), uint32_t(y)) == colour;
                box += highlight;
                onTopRow += highlight && y == 0;
            }
        }
        EXPECT_GT(box, 100u);
        EXPECT_EQ(onTopRow > 0, c.atTopEdge);
        boxPixels[std::make_pair(c.position, c.info)] = box;
    }
    // At the top edge only the part inside the screen is drawn.
    for (const Case& c : cases) {
        if (c.atTopEdge) {
            EXPECT_LT(boxPixels[std::make_pair(c.position, uint16_t(0))],
                      boxPixels[std::make_pair(c.position, uint16_t(1))])
                << c.position;
        }
    }
}

TEST_F(MenuTest, ValueTextsNameAperturesExposureTimesAndLengths) {
    struct Case {
        SettingsIndex_t setting;
        uint16_t value;
        uint16_t at50Hz;
        uint16_t mm;
        std::string text;
    };
    const Case cases[] = {
        {SETT_MANUALEXPOSURE_APERTURE, 0, 1, 1, "CLOSE"},
        {SETT_MANUALEXPOSURE_APERTURE, 8, 1, 1, "F4"},
        {SETT_APERTUREPRIORITY_APERTURE, 9, 1, 1, "F3.4"},
        {SETT_APERTUREPRIORITY_APERTURE, 10, 1, 1, "F2.8"},
        {SETT_MANUALEXPOSURE_APERTURE, 13, 1, 1, "F1.6"},
        {SETT_MANUALEXPOSURE_APERTURE, 14, 1, 1, "Inf"},
        {SETT_MANUALEXPOSURE_TIME, 0, 1, 1, "1/1"},
        {SETT_MANUALEXPOSURE_TIME, 2, 1, 1, "1/3"},
        {SETT_MANUALEXPOSURE_TIME, 2, 0, 1, "1/4"},
        {SETT_MANUALEXPOSURE_TIME, 11, 1, 1, "1/215"},
        {SETT_MANUALEXPOSURE_TIME, 14, 0, 1, "1/725"},
        {SETT_MANUALEXPOSURE_TIME, 21, 1, 1, "1/10000"},
        {SETT_MANUALEXPOSURE_TIME, 21, 0, 1, "1/10000"},
        {SETT_MANUALEXPOSURE_TIME, 22, 0, 1, "Inf"},
        {SETT_CAL_SETCALSCALE, 125, 1, 1, "12.5 mm"},
        {SETT_CAL_SETCALSCALE, 125, 1, 0, "1.25 in"},
        {SETT_CAMERA_GAIN, 7, 1, 1, "7"},
    };
    for (const Case& c : cases) {
        ostrixControlSettings.SetValue(SETT_CAMERAFREQ_50HZ, c.at50Hz);
        ostrixControlSettings.SetValue(SETT_MEASUREMENTUNITS_MM, c.mm);
        EXPECT_EQ(GetBarString(c.setting, c.value), c.text) << c.setting << "=" << c.value;
    }
}

TEST(IconSheet, EveryPictureLiesInsideItsSheetAndIsNotEmpty) {
    ImageFilePNG sheet;
    ImageFilePNG slider;
    ASSERT_TRUE(sheet.load(OSTRIX_SOURCE_DIR "/resources/Ostrix GUI Icons.png"));
    ASSERT_TRUE(slider.load(OSTRIX_SOURCE_DIR "/resources/slider.png"));
    auto check = [](const ImageFile& image, const PictureRect& r, const std::string& what) {
        const ImageRef ref = image.getRef(r.x0, r.y0, r.x1, r.y1);
        ASSERT_TRUE(ref.valid()) << what;
        size_t drawn = 0;
        for (uint32_t y = r.y0; y < r.y1; ++y) {
            for (uint32_t x = r.x0; x < r.x1; ++x) {
                drawn += (image.pixel(x, y) >> 24) != 0;
            }
        }
        EXPECT_GT(drawn, 0u) << what;
    };
    for (const MenuItemDefinition* d = itemDefinitions; d->index != kNoItem; ++d) {
        check(sheet, PictureRect{d->x0, d->y0, d->x1, d->y1}, "item " + std::to_string(d->index));
    }
    for (const PictureRect& r :
         {kArrowBlack, kArrowBlue, kArrowBlueUp, kArrowBlueDown, kArrowBkUp, kArrowBkDown,
          kRadioButtonSelected, kRadioButtonActive, kRadioButtonUnselected, kMagnifierIcon, kInfoIcon,
          kBoxBlue[0], kBoxBlue[1], kBoxBlue[2], kBoxBlue[3]}) {
        check(sheet, r, "fixed picture at " + std::to_string(r.x0) + "," + std::to_string(r.y0));
    }
    for (const PictureRect& r : {kBarImageBlack, kBarImageBlue, kBarImageBk}) {
        check(slider, r, "slider piece");
    }
    // Every item of the tree has a picture.
    size_t labelled = 0;
    for (const MenuItemLabel* l = itemLabels; l->index != kNoItem; ++l) {
        ++labelled;
    }
    size_t defined = 0;
    for (const MenuItemDefinition* d = itemDefinitions; d->index != kNoItem; ++d) {
        ++defined;
    }
    EXPECT_EQ(defined, labelled);
}

} // namespace
