// The overlay's bitmap font: one PNG strip of glyphs ("./resources/font_en.png", 22 pixels
// high) and the table of where each character lies in it. Both are made by the font
// generator in tools/fontgen from the characters of the ten language tables.
#pragma once

#include <cstdint>

namespace Ostrix {

struct FontGlyph {
    uint16_t code;  // UTF-16 code of the character
    uint16_t x;     // left edge of the glyph in the strip
    uint16_t width; // glyph width in pixels; text advances by width + 2
};

// Ascending codes, closed by a record with code 65535.
extern const FontGlyph fontTable[];
constexpr uint16_t kFontTableEnd = 65535;
// The faces the strip was drawn from (printed at start-up).
extern const char* const fontName;

constexpr uint32_t kFontHeight = 22;
constexpr uint32_t kGlyphSpacing = 2;
constexpr const char* kFontImageFile = "./resources/font_en.png";

} // namespace Ostrix
