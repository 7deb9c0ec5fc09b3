// The menu's messages: placeholders, prompts, the version panel, the centred box with its
// splitting, and that every text of every language fits the screen.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include <string>
#include <unistd.h>

#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/menu/Menu.h"
#include "gui/menu/strings/LanguageTables.h"
#include "gui/render/fontmap.h"
#include "gui/settings/OstrixControlSettings.h"
#include "tests/unit/gui/GuiFixture.h"

namespace {

using namespace Ostrix;
using testing::HasSubstr;

std::string utf8(const std::vector<uint16_t>& codes) {
    std::string out;
    for (uint16_t c : codes) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

size_t lineCount(const OverlayText& t) {
    return size_t(std::count(t.mText.begin(), t.mText.end(), uint16_t('\n'))) + 1;
}

uint32_t widthOf(const std::string& text) {
    uint32_t w = 0;
    uint32_t h = 0;
    OverlayText(text, 0, 0).Rect(w, h);
    return w;
}

// Characters other than spaces and line ends.
size_t printing(const std::string& s) {
    return size_t(std::count_if(s.begin(), s.end(), [](char c) { return c != ' ' && c != '\n'; }));
}

class Messages : public testing_support::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        menu_ = std::make_unique<Menu>(800, 480);
        ASSERT_TRUE(OverlayText::LoadFont(OSTRIX_SOURCE_DIR "/resources/font_en.png"));
        ostrixControlSettings.SetValue(SETT_UI_LANGUAGE, LANGUAGE_EN);
        for (uint32_t* v : {&app_version_major, &app_version_minor, &vp_version_major, &vpxl_version_major,
                            &cam_version_major, &cam_version_minor, &cp_version_major, &cxl_version_major,
                            &system_version_major, &system_version_minor}) {
            *v = 0;
        }
    }
    void TearDown() override {
        ostrixControlSettings.SetValue(SETT_UI_LANGUAGE, LANGUAGE_EN);
        menu_.reset();
        GuiTest::TearDown();
    }
    std::string show(uint32_t number, uint32_t value, int* time = nullptr) {
        bool shown = false;
        int t = 0;
        menu_->SetMessage(number, value, shown, t);
        EXPECT_TRUE(shown);
        if (time != nullptr) {
            *time = t;
        }
        return utf8(menu_->MessageText().mText);
    }

    std::unique_ptr<Menu> menu_;
};

TEST_F(Messages, PlaceholdersAreFilledAndSetTheDisplayTime) {
    struct Case {
        uint32_t number;
        uint32_t value;
        std::string text;
        int time;
    };
    const Case cases[] = {
        {MESS_APPLYING_PRESET, 3, "Applying preset 3", 3000},
        {MESS_NO_INPUT_DETECTED, 12000, "No Input Detected...12s", 12000},
        {MESS_SAVING_IMAGE, 5000, "Saving image......\t", 5000},
        {MESS_SAVING_IMAGE, 4000, "Saving image.......", 4000},
        {MESS_SAVING_IMAGE, 7999, "Saving image....\t\t\t", 7999},
        {MESS_NO_USB_DRIVE, 7500, "No USB drive detected", 7500},
        {MESS_NO_USB_DRIVE, 0, "No USB drive detected", 3000},
        {MESS_CLEAR_OVERLAY, 0, "Clear overlay image\nOverview:CONFIRM Other key:CANCEL", 3000},
        {21, 4000, "", 4000},
        {33, 0, "", 3000},
    };
    for (const Case& c : cases) {
        int time = 0;
        EXPECT_EQ(show(c.number, c.value, &time), c.text) << c.number;
        EXPECT_EQ(time, c.time) << c.number;
        EXPECT_EQ(menu_->CurrentMessage(), c.number);
    }
}

TEST_F(Messages, AnAbsentMessageDrawsNothing) {
    show(21, 3000);
    VFB vfb(800, 480, 800);
    menu_->DrawMessage(vfb);
    EXPECT_EQ(std::count(vfb.data(), vfb.data() + 800 * 480, 0u), 800 * 480);
}

TEST_F(Messages, VersionPanelShowsNotAvailableUntilReported) {
    const std::string before = show(MESS_INFO_PANEL, 10000);
    EXPECT_THAT(before, HasSubstr("QLM from Marovec.\nVersion: Sys - n/a\n             GUI - 4.5\n"));
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 8);
    size_t na = 0;
    for (size_t at = before.find("n/a"); at != std::string::npos; at = before.find("n/a", at + 1)) {
        ++na;
    }
    EXPECT_EQ(na, 7u);

    system_version_major = 2;
    system_version_minor = 1;
    vp_version_major = 31;
    cam_version_major = 1;
    cam_version_minor = 7;
    const std::string after = show(MESS_INFO_PANEL, 10000);
    EXPECT_THAT(after, HasSubstr("Version: Sys - 2.1\n"));
    EXPECT_THAT(after, HasSubstr("VP  -  31\n"));
    EXPECT_THAT(after, HasSubstr("Cam -  1.7\n"));
}

TEST_F(Messages, LanguageSettingChoosesTheTable) {
    ostrixControlSettings.SetValue(SETT_UI_LANGUAGE, LANGUAGE_KO);
    EXPECT_EQ(show(MESS_APPLYING_PRESET, 3),
              "\xED\x94\x84\xEB\xA6\xAC\xEC\x85\x8B 3 \xEC\xA0\x81\xEC\x9A\xA9 \xEC\xA4\x91");
    EXPECT_EQ(menu_->GetInfoString(288), "\xEC\xB9\xB4\xEB\xA9\x94\xEB\x9D\xBC \xEA\xB2\x8C\xEC\x9D\xB8");
    ostrixControlSettings.SetValue(SETT_UI_LANGUAGE, LANGUAGE_EN);
    EXPECT_EQ(menu_->GetInfoString(288), "Camera Gain");
    EXPECT_EQ(menu_->GetInfoString(9999), "");
}

TEST_F(Messages, BoxIsCentredRoundTheText) {
    // A text exactly 300 pixels wide, from two glyphs whose advances add up to it.
    std::string text;
    for (uint16_t a = 'A'; a <= 'z' && text.empty(); ++a) {
        for (uint16_t b = 'A'; b <= 'z' && text.empty(); ++b) {
            const uint32_t pa = OverlayText::mCharMap.at(a).mWidth + 2;
            const uint32_t pb = OverlayText::mCharMap.at(b).mWidth + 2;
            for (uint32_t i = 1; i * pa < 300; ++i) {
                if ((300 - i * pa) % pb == 0) {
                    text = std::string(i, char(a)) + std::string((300 - i * pa) / pb, char(b));
                    break;
                }
            }
        }
    }
    ASSERT_EQ(widthOf(text), 300u);
    menu_->SetMessage(text);
    const Menu::Box& box = menu_->MessageBox();
    EXPECT_EQ(box.left, 245);
    EXPECT_EQ(box.right, 555);
    EXPECT_EQ(box.top, 224);
    EXPECT_EQ(box.bottom, 256);
    EXPECT_EQ(menu_->MessageText().mX, 250u);
    EXPECT_EQ(menu_->MessageText().mY, 235u);

    VFB vfb(800, 480, 800);
    menu_->DrawMessage(vfb);
    for (auto [x, y] : {std::pair{245u, 224u}, {555u, 256u}, {246u, 240u}, {554u, 240u}, {400u, 225u}}) {
        EXPECT_EQ(vfb.pixel(x, y), Menu::kDarkBorder) << x << "," << y;
    }
    EXPECT_EQ(vfb.pixel(247, 226), Menu::kMessageFill);
    EXPECT_EQ(vfb.pixel(244, 240), 0u);
    EXPECT_EQ(vfb.pixel(556, 240), 0u);
}

TEST_F(Messages, TooWideMessagesAreSplitAtSpacesIntoEqualParts) {
    std::string text;
    while (widthOf(text + "word ") < 1700) {
        text += "word ";
    }
    text += "end";
    const uint32_t w = widthOf(text);
    ASSERT_GE(w, 1600u);
    ASSERT_LT(w, 2400u);
    testing::internal::CaptureStdout();
    menu_->SetMessage(text);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("GUI: Message too large for display area will be split into 3"));
    EXPECT_EQ(lineCount(menu_->MessageText()), 3u);
    uint32_t bw = 0;
    uint32_t bh = 0;
    menu_->MessageText().Rect(bw, bh);
    EXPECT_LT(bw, 790u);
    EXPECT_EQ(bh, 66u);
    // Only spaces became line ends: nothing was lost.
    std::string back = utf8(menu_->MessageText().mText);
    std::replace(back.begin(), back.end(), '\n', ' ');
    EXPECT_EQ(back, text);
}

TEST_F(Messages, TextsWithoutSpacesAndTooManyLinesStillEndOnTheScreen) {
    const std::string noSpaces(400, 'W');
    std::string cjk;
    for (int i = 0; i < 120; ++i) {
        cjk += "\xE5\x9B\xBE"; // an ideograph of the tables
    }
    std::string tall;
    for (int i = 0; i < 40; ++i) {
        tall += "line\n";
    }
    for (const std::string& text : {noSpaces, cjk, tall, tall + noSpaces}) {
        menu_->SetMessage(text);
        uint32_t w = 0;
        uint32_t h = 0;
        menu_->MessageText().Rect(w, h);
        EXPECT_GT(w, 0u);
        EXPECT_LT(w, 790u);
        EXPECT_LT(h, 470u);
        const Menu::Box& b = menu_->MessageBox();
        EXPECT_GE(b.left, 0);
        EXPECT_GE(b.top, 0);
        EXPECT_LE(b.right, 799);
        EXPECT_LE(b.bottom, 479);
        VFB vfb(800, 480, 800);
        menu_->DrawMessage(vfb);
    }
}

TEST_F(Messages, ClearForgetsTheMessage) {
    show(MESS_NO_USB_DRIVE, 3000);
    menu_->ClearMessage();
    EXPECT_EQ(menu_->CurrentMessage(), 0u);
    EXPECT_TRUE(menu_->MessageText().mText.empty());
}

// Every text of every language is drawn once: information texts fit the information bar
// and messages fit the screen without losing a line or a character.
TEST_F(Messages, EveryTextOfEveryLanguageFits) {
    constexpr uint32_t kInfoTextRoom = 625 - 53 - 8;
    const LanguageTables& tables = LanguageTables::instance();
    for (int language = 0; language < NUM_LANGUAGES; ++language) {
        ostrixControlSettings.SetValue(SETT_UI_LANGUAGE, uint16_t(language));
        for (const auto& [item, text] : tables.infos(language)) {
            EXPECT_LE(widthOf(text), kInfoTextRoom)
                << "language " << language << " item " << item << ": " << text;
        }
        EXPECT_EQ(tables.messages(language).size(), 68u);
        for (const auto& [number, text] : tables.messages(language)) {
            testing::internal::CaptureStdout();
            const std::string shown = show(number, 12345);
            const std::string out = testing::internal::GetCapturedStdout();
            EXPECT_THAT(out, testing::Not(HasSubstr("Not Found"))) << language << "/" << number;
            uint32_t w = 0;
            uint32_t h = 0;
            menu_->MessageText().Rect(w, h);
            EXPECT_LT(w, 790u) << language << "/" << number;
            EXPECT_LT(h, 470u) << language << "/" << number;
            // Splitting turned spaces into line ends or added some, but dropped nothing
            // (the placeholders are at most 4 characters).
            EXPECT_GE(printing(shown) + 4, printing(text)) << language << "/" << number;
            VFB vfb(800, 480, 800);
            menu_->DrawMessage(vfb);
        }
    }
}

TEST(MessageTables, EveryLanguageHasTheSameKeysAndPlaceholders) {
    const LanguageTables& tables = LanguageTables::instance();
    const auto& english = tables.messages(LANGUAGE_EN);
    ASSERT_EQ(english.size(), 68u);
    for (uint32_t absent : {21u, 22u, 23u, 24u, 25u, 31u, 32u, 33u, 76u}) {
        EXPECT_EQ(english.count(absent), 0u) << absent;
    }
    auto placeholders = [](const std::string& s) { return std::count(s.begin(), s.end(), '%'); };
    for (int language = 0; language < NUM_LANGUAGES; ++language) {
        const auto& messages = tables.messages(language);
        ASSERT_EQ(messages.size(), english.size()) << language;
        for (const auto& [number, text] : english) {
            ASSERT_EQ(messages.count(number), 1u) << language << "/" << number;
            EXPECT_EQ(placeholders(messages.at(number)), placeholders(text)) << language << "/" << number;
            EXPECT_EQ(messages.at(number).find("%%%s") != std::string::npos,
                      text.find("%%%s") != std::string::npos);
        }
        EXPECT_EQ(tables.infos(language).size(), tables.infos(LANGUAGE_EN).size()) << language;
        EXPECT_EQ(tables.infos(language).count(65535), 1u);
        for (const auto& [item, text] : tables.infos(language)) {
            EXPECT_FALSE(text.empty()) << language << "/" << item;
        }
    }
    EXPECT_EQ(tables.message(NUM_LANGUAGES, MESS_NO_USB_DRIVE), nullptr);
    EXPECT_EQ(*tables.message(LANGUAGE_EN, MESS_NO_USB_DRIVE), "No USB drive detected");
}

} // namespace
