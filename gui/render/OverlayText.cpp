#include "gui/render/OverlayText.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "gui/app/guiprint.h"
#include "gui/render/fontmap.h"

namespace Ostrix {

std::map<uint16_t, ImageRef> OverlayText::mCharMap;

namespace {

// The glyph boxes carry blank rows above the letters: text is drawn this much higher.
constexpr uint32_t kGlyphTopOffset = 6;
// A character without a glyph still takes this much room.
constexpr uint32_t kMissingAdvance = 5;
constexpr uint16_t kNewLine = 10;
constexpr uint16_t kTab = 9;
constexpr uint16_t kDot = '.';

// The decoded font strip the character map points into; it lives as long as the map.
std::unique_ptr<ImageFilePNG>& fontImage() {
    static std::unique_ptr<ImageFilePNG> image;
    return image;
}

// The number of continuation bytes a lead byte announces and its payload bits; -1 for a
// byte that cannot start a character here.
int sequenceLength(uint8_t lead, uint32_t& payload) {
    if (lead < 0x80) {
        payload = lead;
        return 0;
    }
    if ((lead & 0xE0) == 0xC0) {
        payload = lead & 0x1F;
        return 1;
    }
    if ((lead & 0xF0) == 0xE0) {
        payload = lead & 0x0F;
        return 2;
    }
    return -1;
}

} // namespace

OverlayText::OverlayText(const std::string& text, uint32_t x, uint32_t y)
    : mText(DecodeUtf8(text)), mX(x), mY(y) {}

std::vector<uint16_t> OverlayText::DecodeUtf8(const std::string& text) {
    std::vector<uint16_t> codes;
    size_t i = 0;
    while (i < text.size()) {
        uint32_t value = 0;
        const int more = sequenceLength(uint8_t(text[i]), value);
        if (more < 0) {
            guiError("UTF8 decode - char not supported");
            return codes;
        }
        if (i + size_t(more) >= text.size() && more > 0) {
            return codes; // cut off by the end of the text
        }
        for (int k = 1; k <= more; ++k) {
            const uint8_t next = uint8_t(text[i + size_t(k)]);
            if ((next & 0xC0) != 0x80) {
                guiError("UTF8 decode - invalid sequence byte");
                return codes;
            }
            value = value << 6 | (next & 0x3F);
        }
        codes.push_back(uint16_t(value));
        i += size_t(more) + 1;
    }
    return codes;
}

bool OverlayText::LoadFont(const std::string& file) {
    mCharMap.clear();
    auto image = std::make_unique<ImageFilePNG>();
    if (!image->load(file.c_str())) {
        fontImage().reset();
        return false;
    }
    fontImage() = std::move(image);
    const ImageFile* strip = fontImage().get();
    for (const FontGlyph* g = fontTable; g->code != kFontTableEnd; ++g) {
        const ImageRef ref = strip->getRef(g->x, 0, uint32_t(g->x) + g->width, kFontHeight);
        if (ref.valid()) {
            mCharMap[g->code] = ref;
        }
    }
    return true;
}

uint32_t OverlayText::lineHeight() const {
    uint32_t height = 0;
    for (uint16_t code : mText) {
        const auto it = mCharMap.find(code);
        if (it != mCharMap.end()) {
            height = std::max(height, it->second.mHeight);
        }
    }
    return height;
}

uint32_t OverlayText::tabWidth() {
    const auto it = mCharMap.find(kDot);
    return (it == mCharMap.end() ? 0 : it->second.mWidth) + kGlyphSpacing;
}

uint32_t OverlayText::Advance(uint16_t code) {
    if (code == kTab) {
        return tabWidth();
    }
    const auto it = mCharMap.find(code);
    return it == mCharMap.end() ? kMissingAdvance : it->second.mWidth + kGlyphSpacing;
}

void OverlayText::Rect(uint32_t& width, uint32_t& height) const {
    width = 0;
    height = 0;
    if (mText.empty()) {
        return;
    }
    uint32_t lines = 1;
    uint32_t line = 0;
    for (uint16_t code : mText) {
        if (code == kNewLine) {
            width = std::max(width, line);
            line = 0;
            ++lines;
            continue;
        }
        if (code == kTab) {
            line += tabWidth();
            continue;
        }
        const auto it = mCharMap.find(code);
        if (it == mCharMap.end()) {
            guiDetail(" Character %u Not Found in Font during Rect()", unsigned(code));
            line += kMissingAdvance;
            continue;
        }
        line += it->second.mWidth + kGlyphSpacing;
    }
    width = std::max(width, line);
    height = lineHeight() * lines;
}

void OverlayText::DrawText(VFB& vfb) const {
    if (mText.empty()) {
        return;
    }
    const int64_t height = lineHeight();
    int64_t x = mX;
    int64_t y = int64_t(mY) - kGlyphTopOffset;
    int64_t newLines = 0;
    for (uint16_t code : mText) {
        if (code == kNewLine) {
            x = mX;
            ++newLines;
            y = height * newLines - kGlyphTopOffset + mY;
            continue;
        }
        if (code == kTab) {
            x += tabWidth();
            continue;
        }
        const auto it = mCharMap.find(code);
        if (it == mCharMap.end()) {
            guiDetail(" Character %u Not Found in Font during DrawText()", unsigned(code));
            x += kMissingAdvance;
            continue;
        }
        ImageRef glyph = it->second;
        // Rows above the buffer are left out; the frame buffer clips the rest.
        const int64_t hidden = y < 0 ? std::min<int64_t>(-y, glyph.mHeight) : 0;
        glyph.mY += uint32_t(hidden);
        glyph.mHeight -= uint32_t(hidden);
        if (x <= UINT32_MAX && glyph.mHeight > 0) {
            vfb.CopyImage(uint32_t(x), uint32_t(y + hidden), glyph, false);
        }
        x += glyph.mWidth + kGlyphSpacing;
    }
}

} // namespace Ostrix
