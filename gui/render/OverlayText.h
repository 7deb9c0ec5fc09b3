// A text of the overlay: UTF-8 decoded into 16-bit character codes, measured and drawn
// with the bitmap font (fontmap.h). Tabs advance by the width of "."; line ends start a
// new 22-pixel line; nothing wraps on its own.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gui/image/image.h"
#include "gui/render/vfb.h"

namespace Ostrix {

class OverlayText {
public:
    OverlayText(const std::string& text, uint32_t x, uint32_t y);

    // Width of the widest line and height of all lines; 0 x 0 for an empty text.
    void Rect(uint32_t& width, uint32_t& height) const;
    // Blends the glyphs into the frame buffer with the first line's glyph boxes 6 pixels
    // above y; what lies outside the buffer is clipped.
    void DrawText(VFB& vfb) const;

    // Decodes UTF-8 up to U+FFFF; an invalid or 4-byte sequence ends the decoding with a
    // message on standard error, keeping what was decoded before it.
    static std::vector<uint16_t> DecodeUtf8(const std::string& text);

    // Loads the font strip and fills the character map from the font table; false (the
    // map empty) when the picture cannot be loaded.
    static bool LoadFont(const std::string& file);
    static bool HasGlyph(uint16_t code) { return mCharMap.count(code) != 0; }
    // How far one character moves the pen (line ends excepted), without tracing.
    static uint32_t Advance(uint16_t code);

    std::vector<uint16_t> mText;
    uint32_t mX;
    uint32_t mY;

    static std::map<uint16_t, ImageRef> mCharMap;

private:
    uint32_t lineHeight() const;
    static uint32_t tabWidth();
};

} // namespace Ostrix
