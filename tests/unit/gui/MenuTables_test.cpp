// The menu's constant tables: how many records each holds, that every binding and
// information record belongs to a defined item, and sample items the tree does not reach,
// checked against the ranges of the settings they edit.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "gui/menu/Menu.h"
#include "gui/menu/MenuTables.h"
#include "gui/menu/strings/LanguageTables.h"
#include "gui/settings/OstrixControlSettings.h"
#include "tests/unit/gui/DisplayFixture.h"

namespace {

using namespace Ostrix;

// The information map has one record per defined item and one for "no item".
constexpr size_t kInfoRecords = 336;
constexpr size_t kDefinedItems = kInfoRecords - 1;
constexpr uint32_t kHighestItem = 352;

// Item -> kind.
std::map<uint32_t, uint32_t> definedItems() {
    std::map<uint32_t, uint32_t> items;
    for (const MenuItemDefinition* d = itemDefinitions; d->index != kNoItem; ++d) {
        EXPECT_TRUE(items.emplace(d->index, d->kind).second) << "item " << d->index << " defined twice";
    }
    return items;
}

TEST(MenuTables, EveryLanguageHasOneInformationTextPerDefinedItem) {
    const auto defined = definedItems();
    EXPECT_EQ(defined.size(), kDefinedItems);
    for (int language = 0; language < NUM_LANGUAGES; ++language) {
        const auto& infos = LanguageTables::instance().infos(language);
        EXPECT_EQ(infos.size(), kInfoRecords) << language;
        for (const auto& [item, text] : infos) {
            EXPECT_TRUE(item == kNoItem || (item <= kHighestItem && defined.count(item) == 1))
                << "language " << language << " item " << item;
        }
    }
}

// A binding names a defined item and a setting, and a choice's value is one its setting
// can hold (a bar's or number's value word is unused); an item that shows or sets a value
// is bound.
TEST(MenuTables, EveryBindingBelongsToADefinedItemAndFitsItsSetting) {
    const auto defined = definedItems();
    std::set<uint32_t> bound;
    for (const MenuBinding* b = itemBindings; b->index != kNoItem; ++b) {
        EXPECT_EQ(defined.count(b->index), 1u) << "binding of undefined item " << b->index;
        ASSERT_LT(b->setting, uint32_t(SETT_MAX_SETTING)) << b->index;
        EXPECT_TRUE(bound.insert(b->index).second) << "item " << b->index << " bound twice";
        if (defined.count(b->index) == 1 && defined.at(b->index) == BUTTON_CHOICE) {
            const auto f = OstrixControlSettings::GetFactorySetting(SettingsIndex_t(b->setting));
            EXPECT_GE(b->value, f.min) << b->index;
            EXPECT_LE(b->value, f.max) << b->index;
        }
    }
    for (const auto& [item, kind] : defined) {
        if (kind != BUTTON_FOLDER) {
            EXPECT_EQ(bound.count(item), 1u) << "item " << item << " of kind " << kind;
        }
    }
}

class UnreachedItems : public testing_support::MenuFixture {};

// Items no path of the tree leads to are still built into item records, with the maximum
// of the setting they edit (the screen-dependent ones from the 800 x 480 screen).
TEST_F(UnreachedItems, AreBuiltWithTheirSettingsRanges) {
    struct Case {
        MenuIndex_t item;
        ButtonType_t kind;
        SettingsIndex_t setting;
        uint16_t value;
        uint16_t min;
        uint16_t max;
        uint16_t step;
        const char* english;
    };
    const Case cases[] = {
        {5, BUTTON_BAR, SETT_AEBRIGHTNESS, 0, 0, 27, 1, "Auto Exposure Brightness"},
        {6, BUTTON_BAR, SETT_APERTUREPRIORITY_APERTURE, 0, 0, 13, 1, "Aperture Priority Aperture"},
        {10, BUTTON_BAR, SETT_MANUALEXPOSURE_TIME, 0, 0, 21, 1, "Manual Exposure Time"},
        {14, BUTTON_BAR, SETT_MANUALFOCUS_FOCUS, 0, 0, 100, 1, "Manual Focus Position"},
        {127, BUTTON_CHOICE, SETT_PRESET_P1_SHORT, 4, 0, 7, 1, "Shutter Control"},
        {143, BUTTON_CHOICE, SETT_PRESET_P3_SHORT, 4, 0, 7, 1, "Shutter Control"},
        {162, BUTTON_NUMBER, SETT_CAL_SETCALSCALE, 0, 1, 500, 1, "Calibration Scale"},
        {163, BUTTON_NUMBER, SETT_CAL_LEFTBAR, 0, 0, 799, 1, "Calibration Left Bar"},
        {165, BUTTON_NUMBER, SETT_SETSCREENSIZE, 0, 6, 100, 1, "Screen Size"},
        {170, BUTTON_CHOICE, SETT_MEAS_TYPE, 2, 0, 2, 1, "Off"},
        {171, BUTTON_NUMBER, SETT_MEAS_CURSOR1_X, 0, 50, 749, 1, "Cursor 1 Horizontal Position"},
        {221, BUTTON_CHOICE, SETT_CAMERAFREQ_50HZ, 1, 0, 1, 1, "50 Hz"},
        {222, BUTTON_CHOICE, SETT_CAMERAFREQ_50HZ, 0, 0, 1, 1, "60 Hz"},
        {236, BUTTON_CHOICE, SETT_OVERLAY, 1, 0, 1, 1, "On"},
        {281, BUTTON_BAR, SETT_HDR_RATIO, 0, 1, 16, 1, "HDR Ratio"},
        {282, BUTTON_BAR, SETT_HDR_EXPOSURE, 0, 1, 26, 1, "HDR Exposure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("item " + std::to_string(c.item));
        const MenuItem* item = menu_->Item(c.item);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->mKind, c.kind);
        EXPECT_EQ(item->mSetting, c.setting);
        EXPECT_EQ(item->mValue, c.value);
        EXPECT_EQ(item->mMax, c.max);
        EXPECT_FALSE(item->mHasChildren);
        const auto range = ostrixControlSettings.GetSetting(c.setting);
        EXPECT_EQ(range.min, c.min);
        EXPECT_EQ(range.max, c.max);
        EXPECT_EQ(range.step, c.step);
        EXPECT_EQ(*LanguageTables::instance().info(LANGUAGE_EN, c.item), c.english);
    }
}

} // namespace
