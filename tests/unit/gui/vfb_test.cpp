// The frame buffer's blending, line clamping and copy rules.
#include "gui/render/vfb.h"

#include <gtest/gtest.h>
#include <vector>

using Ostrix::ImageFile;
using Ostrix::VFB;

namespace {

constexpr uint32_t kWidth = 800;
constexpr uint32_t kHeight = 480;

uint32_t blend(uint32_t colour, uint32_t pixel) {
    VFB::DrawPixel(colour, pixel);
    return pixel;
}

TEST(VfbDrawPixel, HalfAlphaBlendsWithTruncationTowardZero) {
    // Red at half alpha over an empty pixel: 128 * 255 / 255 = 128.
    EXPECT_EQ(blend(0x80FF0000u, 0), 0x80800000u);
    // Black at half alpha over white: 255 + 128 * (0 - 255) / 255 = 127; alpha stays 255.
    EXPECT_EQ(blend(0x80000000u, 0xFFFFFFFFu), 0xFF7F7F7Fu);
    // A negative difference that does not divide evenly truncates toward zero:
    // 200 + 100 * (10 - 200) / 255 = 200 - 74 = 126 (not 125).
    EXPECT_EQ(blend(0x640A0A0Au, 0x10C8C8C8u), 0x747E7E7Eu);
}

TEST(VfbDrawPixel, OpaqueReplacesAndTransparentLeaves) {
    EXPECT_EQ(blend(0xFF123456u, 0x80FFFFFFu), 0xFF123456u);
    EXPECT_EQ(blend(0x00FFFFFFu, 0x80102030u), 0x80102030u);
    EXPECT_EQ(blend(0x00FFFFFFu, 0), 0u);
    // Alpha adds up and saturates at 255.
    EXPECT_EQ(blend(0xC0000000u, 0xC0000000u) >> 24, 0xFFu);
}

TEST(VfbConstruction, StartsEmptyAndClearEmptiesAgain) {
    VFB vfb(16, 8, 16);
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            ASSERT_EQ(vfb.pixel(x, y), 0u);
        }
    }
    vfb.DrawRect(0, 0, 16, 8, 0x11223344u);
    vfb.Clear();
    EXPECT_EQ(vfb.pixel(15, 7), 0u);
    EXPECT_EQ(vfb.pixel(0, 0), 0u);
}

TEST(VfbDrawRect, WritesTheColourUnblendedIncludingAlpha) {
    VFB vfb(10, 10, 10);
    vfb.DrawRect(0, 0, 10, 10, 0xFFFFFFFFu);
    vfb.DrawRect(2, 3, 4, 2, 0x40102030u);
    EXPECT_EQ(vfb.pixel(2, 3), 0x40102030u);
    EXPECT_EQ(vfb.pixel(5, 4), 0x40102030u);
    EXPECT_EQ(vfb.pixel(6, 4), 0xFFFFFFFFu);
    EXPECT_EQ(vfb.pixel(5, 5), 0xFFFFFFFFu);
    EXPECT_EQ(vfb.pixel(1, 3), 0xFFFFFFFFu);
    EXPECT_EQ(vfb.pixel(2, 2), 0xFFFFFFFFu);
}

TEST(VfbDrawRect, RectanglesPastTheEdgeAreClipped) {
    VFB vfb(10, 10, 10);
    vfb.DrawRect(8, 8, 5, 5, 0xFF00FF00u);
    vfb.DrawRect(12, 0, 5, 5, 0xFF00FF00u);
    EXPECT_EQ(vfb.pixel(9, 9), 0xFF00FF00u);
    EXPECT_EQ(vfb.pixel(7, 9), 0u);
}

std::vector<uint32_t> row(const VFB& vfb, uint32_t y, uint32_t from, uint32_t to) {
    std::vector<uint32_t> out;
    for (uint32_t x = from; x <= to; ++x) {
        out.push_back(vfb.pixel(x, y));
    }
    return out;
}

TEST(VfbLines, HorizontalLineReachingTheRightEdgeStopsBeforeTheLastColumn) {
    VFB vfb(kWidth, kHeight, kWidth);
    vfb.DrawHLine(790, 10, 50, 0x00123456u, false, false);
    EXPECT_EQ(vfb.pixel(789, 10), 0u);
    for (uint32_t x = 790; x <= 798; ++x) {
        EXPECT_EQ(vfb.pixel(x, 10), 0xFF123456u) << "column " << x;
    }
    EXPECT_EQ(vfb.pixel(799, 10), 0u);
    EXPECT_EQ(vfb.pixel(790, 11), 0u);
}

TEST(VfbLines, StartPointsOutsideAreClampedToTheLastRowAndColumn) {
    VFB vfb(20, 10, 20);
    vfb.DrawHLine(5, 50, 3, 0xFF0000FFu, false, false);
    EXPECT_EQ(row(vfb, 9, 4, 8), (std::vector<uint32_t>{0, 0xFF0000FFu, 0xFF0000FFu, 0xFF0000FFu, 0}));
    // x clamped to 19 leaves no pixel before the right edge: nothing is drawn.
    vfb.DrawHLine(100, 2, 5, 0xFF0000FFu, true, false);
    EXPECT_EQ(row(vfb, 2, 0, 19), std::vector<uint32_t>(20, 0));
    // A huge length does not wrap around.
    vfb.DrawHLine(3, 4, 0xFFFFFFFFu, 0xFF0000FFu, true, false);
    EXPECT_EQ(vfb.pixel(2, 4), 0u);
    EXPECT_EQ(vfb.pixel(18, 4), 0xFF0000FFu);
    EXPECT_EQ(vfb.pixel(19, 4), 0u);
    EXPECT_EQ(vfb.pixel(0, 5), 0u);
}

TEST(VfbLines, DashedLinesWriteThePixelsWithAnOddCounter) {
    VFB vfb(20, 20, 20);
    vfb.DrawHLine(2, 1, 4, 0xFF00FF00u, false, true);
    EXPECT_EQ(row(vfb, 1, 2, 5), (std::vector<uint32_t>{0xFF00FF00u, 0, 0xFF00FF00u, 0}));
    // Odd length: counter 4, 3, 2, 1, 0 writes the second and fourth pixels.
    vfb.DrawHLine(2, 2, 5, 0xFF00FF00u, false, true);
    EXPECT_EQ(row(vfb, 2, 2, 6), (std::vector<uint32_t>{0, 0xFF00FF00u, 0, 0xFF00FF00u, 0}));
}

TEST(VfbLines, WithoutOverwriteDrawnPixelsStay) {
    VFB vfb(20, 20, 20);
    vfb.DrawRect(4, 0, 2, 20, 0x80ABCDEFu);
    vfb.DrawHLine(0, 5, 10, 0xFF111111u, false, false);
    EXPECT_EQ(vfb.pixel(3, 5), 0xFF111111u);
    EXPECT_EQ(vfb.pixel(4, 5), 0x80ABCDEFu);
    EXPECT_EQ(vfb.pixel(6, 5), 0xFF111111u);
    vfb.DrawHLine(0, 6, 10, 0xFF111111u, true, false);
    EXPECT_EQ(vfb.pixel(4, 6), 0xFF111111u);
}

TEST(VfbLines, VerticalLinesFollowTheSameRulesDownTheColumn) {
    VFB vfb(kWidth, kHeight, kWidth);
    vfb.DrawVLine(30, 470, 50, 0x00ABCDEFu, false, false);
    EXPECT_EQ(vfb.pixel(30, 469), 0u);
    EXPECT_EQ(vfb.pixel(30, 470), 0xFFABCDEFu);
    EXPECT_EQ(vfb.pixel(30, 478), 0xFFABCDEFu);
    EXPECT_EQ(vfb.pixel(30, 479), 0u);
    EXPECT_EQ(vfb.pixel(31, 470), 0u);

    vfb.DrawVLine(40, 0, 4, 0x00ABCDEFu, false, true);
    EXPECT_EQ(vfb.pixel(40, 0), 0xFFABCDEFu);
    EXPECT_EQ(vfb.pixel(40, 1), 0u);
    EXPECT_EQ(vfb.pixel(40, 2), 0xFFABCDEFu);
    EXPECT_EQ(vfb.pixel(40, 3), 0u);

    vfb.DrawVLine(900, 900, 5, 0x00ABCDEFu, true, false); // clamped to (799, 479): nothing
    EXPECT_EQ(vfb.pixel(799, 479), 0u);
}

TEST(VfbCopyImage, BlendsEachSourcePixelFromTheRectangle) {
    ImageFile image(4, 3);
    image.setPixel(1, 1, 0xFF0000FFu); // rectangle origin
    image.setPixel(2, 1, 0x80FF0000u);
    image.setPixel(1, 2, 0x00FFFFFFu); // transparent: leaves the buffer
    image.setPixel(0, 0, 0xFF00FF00u); // outside the rectangle
    VFB vfb(10, 10, 10);
    vfb.DrawRect(0, 0, 10, 10, 0xFFFFFFFFu);
    vfb.CopyImage(5, 6, image.getRef(1, 1, 3, 3), false);
    EXPECT_EQ(vfb.pixel(5, 6), 0xFF0000FFu);
    EXPECT_EQ(vfb.pixel(6, 6), 0xFFFF7F7Fu);
    EXPECT_EQ(vfb.pixel(5, 7), 0xFFFFFFFFu);
    EXPECT_EQ(vfb.pixel(4, 5), 0xFFFFFFFFu);
}

TEST(VfbCopyImage, UnderlayFillsOnlyEmptyPixelsAndLeavesTextAlone) {
    ImageFile background(8, 2, 0x80204060u);
    VFB vfb(8, 2, 8);
    // "Text": a few drawn pixels, one of them fully transparent but not empty.
    vfb.DrawHLine(0, 0, 4, 0xFF000000u, true, true); // pixels 0 and 2
    vfb.DrawRect(7, 1, 1, 1, 0x00000001u);
    vfb.CopyImage(0, 0, background.getRef(0, 0, 8, 2), true);
    EXPECT_EQ(vfb.pixel(0, 0), 0xFF000000u);
    EXPECT_EQ(vfb.pixel(1, 0), 0x80204060u); // copied unchanged, not blended
    EXPECT_EQ(vfb.pixel(2, 0), 0xFF000000u);
    EXPECT_EQ(vfb.pixel(3, 0), 0x80204060u);
    EXPECT_EQ(vfb.pixel(7, 1), 0x00000001u);
    EXPECT_EQ(vfb.pixel(6, 1), 0x80204060u);
}

TEST(VfbCopyImage, InvalidAndOverhangingRectanglesAreSafe) {
    ImageFile image(4, 4, 0xFF445566u);
    VFB vfb(6, 6, 6);
    vfb.CopyImage(0, 0, image.getRef(0, 0, 5, 4), false);
    EXPECT_EQ(vfb.pixel(0, 0), 0u);
    vfb.CopyImage(4, 5, image.getRef(0, 0, 4, 4), false);
    EXPECT_EQ(vfb.pixel(5, 5), 0xFF445566u);
    EXPECT_EQ(vfb.pixel(4, 4), 0u);
    vfb.CopyImage(6, 0, image.getRef(0, 0, 4, 4), true);
    EXPECT_EQ(vfb.pixel(5, 0), 0u);
}

TEST(VfbDisplayImage, ShowsEveryFourthRowAndColumnInRowsOf480) {
    constexpr uint32_t kPictureWidth = 1920, kPictureHeight = 10;
    ImageFile picture(kPictureWidth, kPictureHeight);
    for (uint32_t y = 0; y < kPictureHeight; ++y) {
        for (uint32_t x = 0; x < kPictureWidth; ++x) {
            picture.setPixel(x, y, 0xFF000000u | y << 16 | x);
        }
    }
    VFB vfb(kWidth, kHeight, kWidth);
    vfb.DisplayImage(100, 20, picture.getRef(0, 0, kPictureWidth, kPictureHeight));
    EXPECT_EQ(vfb.pixel(100, 20), 0xFF000000u);
    EXPECT_EQ(vfb.pixel(101, 20), 0xFF000004u);
    EXPECT_EQ(vfb.pixel(579, 20), 0xFF000000u | 1916u);
    EXPECT_EQ(vfb.pixel(580, 20), 0u);
    EXPECT_EQ(vfb.pixel(99, 20), 0u);
    EXPECT_EQ(vfb.pixel(100, 21), 0xFF040000u);
    EXPECT_EQ(vfb.pixel(100, 22), 0xFF080000u);
    EXPECT_EQ(vfb.pixel(100, 23), 0u); // rows 0, 4, 8 of a 10-row picture
}

TEST(VfbDisplayImage, NarrowPicturesAndTheRightEdgeDoNotOverrun) {
    ImageFile picture(40, 8, 0xFF112233u);
    VFB vfb(kWidth, kHeight, kWidth);
    vfb.DisplayImage(0, 0, picture.getRef(0, 0, 40, 8));
    EXPECT_EQ(vfb.pixel(9, 0), 0xFF112233u);
    EXPECT_EQ(vfb.pixel(10, 0), 0u);
    ImageFile wide(1920, 4, 0xFF445566u);
    vfb.DisplayImage(700, 479, wide.getRef(0, 0, 1920, 4));
    EXPECT_EQ(vfb.pixel(799, 479), 0xFF445566u);
    EXPECT_EQ(vfb.pixel(699, 479), 0u);
}

TEST(VfbUpdate, CopiesThePixelsAsStoredIncludingRowPadding) {
    VFB vfb(3, 2, 4);
    vfb.DrawRect(0, 0, 3, 2, 0xFF010203u);
    vfb.DrawHLine(0, 1, 3, 0x00ABCDEFu, true, false); // stops before the last column
    std::vector<uint32_t> out(8, 0xDEADBEEFu);
    vfb.Update(out.data());
    EXPECT_EQ(out, (std::vector<uint32_t>{0xFF010203u, 0xFF010203u, 0xFF010203u, 0, 0xFFABCDEFu, 0xFFABCDEFu,
                                          0xFF010203u, 0}));
}

} // namespace
