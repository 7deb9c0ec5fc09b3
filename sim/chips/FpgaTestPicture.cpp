#include "sim/chips/FpgaTestPicture.h"

namespace sim {

namespace {

// 5 x 7 glyphs, one row per byte, bit 4 the leftmost column.
constexpr uint8_t kGlyphL[7] = {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F};
constexpr uint8_t kGlyphR[7] = {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11};
constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;
constexpr int kGlyphScale = 48;
constexpr int kGlyphX = 160;
constexpr int kGlyphY = 480;

constexpr int kBarsHeight = 270;
constexpr Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                          {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

constexpr int kTargetSize = 240;
constexpr int kTargetY = 420;
constexpr int kTargetLine = 6;

constexpr int kMarkerTop = 1020;
constexpr int kMarkerHeight = 40;
constexpr int kMarkerWidth = 32;
constexpr int kMarkerStep = 8; // pixels per frame

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kGreen = {0, 255, 0};

bool glyphPixel(int channel, int x, int y) {
    int col = (x - kGlyphX) / kGlyphScale;
    int row = (y - kGlyphY) / kGlyphScale;
    if (x < kGlyphX || y < kGlyphY || col >= kGlyphColumns || row >= kGlyphRows) {
        return false;
    }
    const uint8_t* glyph = channel == 0 ? kGlyphL : kGlyphR;
    return (glyph[row] >> (kGlyphColumns - 1 - col)) & 1;
}

bool targetPixel(int channel, int x, int y) {
    int left = testPictureTargetX(channel);
    if (x < left || x >= left + kTargetSize || y < kTargetY || y >= kTargetY + kTargetSize) {
        return false;
    }
    int dx = x - left;
    int dy = y - kTargetY;
    bool frame = dx < kTargetLine || dy < kTargetLine || dx >= kTargetSize - kTargetLine ||
                 dy >= kTargetSize - kTargetLine;
    bool cross = (dx >= kTargetSize / 2 - kTargetLine / 2 && dx < kTargetSize / 2 + kTargetLine / 2) ||
                 (dy >= kTargetSize / 2 - kTargetLine / 2 && dy < kTargetSize / 2 + kTargetLine / 2);
    return frame || cross;
}

} // namespace

int testPictureTargetX(int channel) {
    return (kTestPictureWidth - kTargetSize) / 2 + (channel == 0 ? -1 : 1) * kTestPictureEyeOffset / 2;
}

bool testPictureRowsMove(int top, int bottom) {
    return top < kMarkerTop + kMarkerHeight && bottom >= kMarkerTop;
}

Rgb testPicturePixel(int channel, int x, int y, uint32_t frame) {
    if (y < kBarsHeight) {
        return kBars[x * 8 / kTestPictureWidth];
    }
    if (y >= kMarkerTop && y < kMarkerTop + kMarkerHeight) {
        int markerX = static_cast<int>((frame * kMarkerStep) % (kTestPictureWidth - kMarkerWidth));
        if (x >= markerX && x < markerX + kMarkerWidth) {
            return kGreen;
        }
    }
    if (glyphPixel(channel, x, y) || targetPixel(channel, x, y)) {
        return kWhite;
    }
    // Background: a gentle vertical ramp, red for the left eye, blue for the right.
    auto ramp = static_cast<uint8_t>(64 + (y - kBarsHeight) * 96 / (kTestPictureHeight - kBarsHeight));
    return channel == 0 ? Rgb{ramp, 32, 32} : Rgb{32, 32, ramp};
}

uint32_t frameStoreWord(Rgb c) {
    constexpr int kRedShift = 22;
    constexpr int kGreenShift = 11;
    // 8-bit components widened to 10, 11 and 11 bits by repeating their top bits.
    uint32_t r = (uint32_t(c.r) << 2) | (c.r >> 6);
    uint32_t g = (uint32_t(c.g) << 3) | (c.g >> 5);
    uint32_t b = (uint32_t(c.b) << 3) | (c.b >> 5);
    return (r << kRedShift) | (g << kGreenShift) | b;
}

} // namespace sim
