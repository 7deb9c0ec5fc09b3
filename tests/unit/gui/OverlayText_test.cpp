// Overlay text: UTF-8 decoding, measuring and drawing with the font strip, and the font
// strip and its table themselves.
#include "gui/render/OverlayText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/image/image.h"
#include "gui/menu/strings/LanguageTables.h"
#include "gui/render/fontmap.h"

namespace {

using Ostrix::OverlayText;
using testing::HasSubstr;

constexpr const char* kFont = OSTRIX_SOURCE_DIR "/resources/font_en.png";

class Text : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(OverlayText::LoadFont(kFont)); }
    static uint32_t glyphWidth(uint16_t code) { return OverlayText::mCharMap.at(code).mWidth; }
    static void measure(const std::string& text, uint32_t& w, uint32_t& h) {
        OverlayText(text, 0, 0).Rect(w, h);
    }
};

TEST(Utf8, DecodesUpToThreeBytesAndStopsAtWhatItCannotHold) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<uint16_t> codes;
        const char* error;
    };
    const Case cases[] = {
        {"ascii", "Ab", {'A', 'b'}, ""},
        {"e acute", "\xC3\xA9", {233}, ""},
        {"cyrillic and hangul", "\xD0\x96\xEA\xB0\x80", {0x416, 0xAC00}, ""},
        {"four-byte sequence", "ab\xF0\x9F\x98\x80z", {'a', 'b'}, "UTF8 decode - char not supported"},
        {"stray continuation", "x\x80y", {'x'}, "UTF8 decode - char not supported"},
        {"bad continuation", "q\xC3(r", {'q'}, "UTF8 decode - invalid sequence byte"},
        {"cut off at the end", "ok\xE4\xB8", {'o', 'k'}, ""},
        {"empty", "", {}, ""},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        const auto codes = OverlayText::DecodeUtf8(c.bytes);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(codes, c.codes) << c.name;
        if (*c.error != '\0') {
            EXPECT_THAT(err, HasSubstr(c.error)) << c.name;
        } else {
            EXPECT_EQ(err, "") << c.name;
        }
    }
}

TEST_F(Text, WidthAddsTwoPixelsPerGlyphAndHeightCountsLines) {
    uint32_t w = 0;
    uint32_t h = 0;
    measure("Ab", w, h);
    EXPECT_EQ(w, (glyphWidth('A') + 2) + (glyphWidth('b') + 2));
    EXPECT_EQ(h, 22u);
    measure("A\nBC", w, h);
    EXPECT_EQ(h, 44u);
    EXPECT_EQ(w, std::max(glyphWidth('A') + 2, glyphWidth('B') + glyphWidth('C') + 4));
    measure("a\tb", w, h);
    EXPECT_EQ(w, glyphWidth('a') + glyphWidth('.') + glyphWidth('b') + 6);
    measure("", w, h);
    EXPECT_EQ(w + h, 0u);
    EXPECT_TRUE(OverlayText::HasGlyph(233));
}

TEST_F(Text, ACharacterWithoutAGlyphTakesFivePixels) {
    testing::internal::CaptureStdout();
    uint32_t w = 0;
    uint32_t h = 0;
    measure("\xE2\x98\x83", w, h); // U+2603 is not in the strip
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                HasSubstr(" Character 9731 Not Found in Font during Rect()"));
    EXPECT_EQ(w, 5u);
}

TEST_F(Text, GlyphsAreBlendedSixPixelsAboveTheTextPosition) {
    Ostrix::VFB vfb(100, 60, 100);
    OverlayText("I\nI", 10, 20).DrawText(vfb);
    const Ostrix::ImageRef& glyph = OverlayText::mCharMap.at('I');
    // The glyph's darkest column lands at the same place on both lines, 22 rows apart.
    for (uint32_t line = 0; line < 2; ++line) {
        uint32_t drawn = 0;
        for (uint32_t y = 0; y < 22; ++y) {
            for (uint32_t x = 0; x < glyph.mWidth; ++x) {
                const uint32_t want = glyph.mSrc->pixel(glyph.mX + x, y);
                EXPECT_EQ(vfb.pixel(10 + x, 14 + 22 * line + y), want) << x << "," << y;
                drawn += want != 0;
            }
        }
        EXPECT_GT(drawn, 0u);
    }
    EXPECT_EQ(vfb.pixel(9, 20), 0u);
    EXPECT_EQ(vfb.pixel(10 + glyph.mWidth, 20), 0u);
}

TEST_F(Text, TextAtTheScreenEdgesIsClipped) {
    Ostrix::VFB vfb(40, 30, 40);
    OverlayText("WWWWWWWWWW", 30, 0).DrawText(vfb);
    OverlayText("W\nW\nW", 0, 25).DrawText(vfb);
    size_t drawn = 0;
    for (uint32_t y = 0; y < 30; ++y) {
        for (uint32_t x = 0; x < 40; ++x) {
            drawn += vfb.pixel(x, y) != 0;
        }
    }
    EXPECT_GT(drawn, 0u);
}

TEST_F(Text, FontTableFollowsTheStrip) {
    Ostrix::ImageFilePNG strip;
    ASSERT_TRUE(strip.load(kFont));
    EXPECT_EQ(strip.height(), Ostrix::kFontHeight);
    uint32_t x = 0;
    uint16_t previous = 0;
    size_t count = 0;
    const Ostrix::FontGlyph* g = Ostrix::fontTable;
    for (; g->code != Ostrix::kFontTableEnd; ++g, ++count) {
        EXPECT_GT(g->code, previous);
        EXPECT_EQ(g->x, x) << "code " << g->code;
        EXPECT_GT(g->width, 0u) << "code " << g->code;
        x += g->width + Ostrix::kGlyphSpacing;
        previous = g->code;
    }
    EXPECT_EQ(x - Ostrix::kGlyphSpacing, strip.width());
    EXPECT_EQ(OverlayText::mCharMap.size(), count);
    // The Latin glyphs are black, drawn in their alpha only.
    const Ostrix::ImageRef& a = OverlayText::mCharMap.at('A');
    uint32_t opaque = 0;
    for (uint32_t y = 0; y < 22; ++y) {
        for (uint32_t c = 0; c < a.mWidth; ++c) {
            const uint32_t p = strip.pixel(a.mX + c, y);
            EXPECT_EQ(p & 0x00FFFFFF, 0u);
            opaque += (p >> 24) == 0xFF;
        }
    }
    EXPECT_GT(opaque, 10u);
}

TEST_F(Text, EveryCharacterOfEveryTableHasAGlyph) {
    for (uint16_t c = 0x20; c < 0x7F; ++c) {
        EXPECT_TRUE(OverlayText::HasGlyph(c)) << "code " << c;
    }
    for (int language = 0; language < Ostrix::NUM_LANGUAGES; ++language) {
        for (const Ostrix::StringEntry* e = Ostrix::messStringLanguages[language]; e->id != Ostrix::STR_COUNT;
             ++e) {
            for (uint16_t code : OverlayText::DecodeUtf8(e->text)) {
                EXPECT_TRUE(code < 0x20 || OverlayText::HasGlyph(code))
                    << "language " << language << " text '" << e->text << "' code " << code;
            }
        }
    }
}

} // namespace
