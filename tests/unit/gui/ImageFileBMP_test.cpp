// The stored-picture decoder: every pixel layout a BMP file can hold without compression,
// both row orders, and the malformed files a stick can bring, which are refused whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gui/image/image.h"
#include "tests/unit/gui/BmpFile.h"

namespace {

using Ostrix::ImageFileBMP;
using testing_support::BmpFile;

constexpr uint32_t kRed = 0xFFFF0000;
constexpr uint32_t kGreen = 0xFF00FF00;
constexpr uint32_t kBlue = 0xFF0000FF;
constexpr uint32_t kWhite = 0xFFFFFFFF;

bool decode(ImageFileBMP& image, const std::string& bytes) {
    return image.decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// 2 x 2 pictures whose file rows hold: bottom row red, green; top row blue, white.
TEST(ImageFileBMP, EveryPixelLayoutDecodesToTheSameColours) {
    struct Case {
        const char* name;
        BmpFile file;
    };
    BmpFile rgb24;
    rgb24.pixelData = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0};
    BmpFile xrgb32 = rgb24;
    xrgb32.bits = 32;
    // The fourth byte is unused: it never makes a pixel transparent.
    xrgb32.pixelData = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0x12, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    BmpFile rgb555 = rgb24;
    rgb555.bits = 16;
    rgb555.pixelData = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F};
    BmpFile indexed8 = rgb24;
    indexed8.bits = 8;
    indexed8.palette = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    indexed8.pixelData = {0, 1, 0, 0, 2, 3, 0, 0};
    // A larger info header moves the palette: it starts at 14 + its size.
    BmpFile indexed4 = indexed8;
    indexed4.bits = 4;
    indexed4.infoSize = 108;
    indexed4.pixelData = {0x01, 0, 0, 0, 0x23, 0, 0, 0};
    BmpFile mono = indexed8;
    mono.bits = 1;
    mono.palette = {0, 0, 0xFF, 0, 0xFF, 0xFF, 0xFF, 0};
    mono.pixelData = {0x00, 0, 0, 0, 0xC0, 0, 0, 0};
    const Case cases[] = {{"24 bits", rgb24},          {"32 bits", xrgb32},         {"16 bits 5-5-5", rgb555},
                          {"8-bit palette", indexed8}, {"4-bit palette", indexed4}, {"1 bit", mono}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFileBMP image;
        ASSERT_TRUE(decode(image, c.file.bytes()));
        ASSERT_EQ(image.width(), 2u);
        ASSERT_EQ(image.height(), 2u);
        if (c.file.bits == 1) {
            EXPECT_EQ(image.pixel(0, 1), kRed);
            EXPECT_EQ(image.pixel(0, 0), kWhite);
            continue;
        }
        EXPECT_EQ(image.pixel(0, 1), kRed);
        EXPECT_EQ(image.pixel(1, 1), kGreen);
        EXPECT_EQ(image.pixel(0, 0), kBlue);
        EXPECT_EQ(image.pixel(1, 0), kWhite);
    }
}

TEST(ImageFileBMP, ANegativeHeightStoresTheTopRowFirst) {
    BmpFile file;
    file.height = -2;
    file.pixelData = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0};
    ImageFileBMP image;
    ASSERT_TRUE(decode(image, file.bytes()));
    EXPECT_EQ(image.pixel(0, 0), kRed);
    EXPECT_EQ(image.pixel(1, 1), kWhite);
}

TEST(ImageFileBMP, MalformedFilesAreRefusedAndTheOldPictureStays) {
    BmpFile good;
    good.pixelData = std::vector<uint8_t>(16, 0x80);
    struct Case {
        const char* name;
        std::string bytes;
    };
    BmpFile compressed = good;
    compressed.compression = 1;
    BmpFile huge = good;
    huge.width = 100000;
    BmpFile zeroHeight = good;
    zeroHeight.height = 0;
    BmpFile sixBits = good;
    sixBits.bits = 6;
    BmpFile shortPixels = good;
    shortPixels.pixelData.resize(10);
    BmpFile paletteOutside = good;
    paletteOutside.bits = 8;
    paletteOutside.palette = std::vector<uint8_t>(16, 0);
    paletteOutside.offBitsAdjust = -12; // pixels start inside the palette
    std::string bigInfo = good.bytes();
    bigInfo.replace(14, 4, "\xF0\xFF\xFF\x7F");
    std::string mb = good.bytes();
    mb[0] = 'M';
    mb[1] = 'B';
    const Case cases[] = {
        {"compressed", compressed.bytes()},
        {"too large", huge.bytes()},
        {"no rows", zeroHeight.bytes()},
        {"six bits per pixel", sixBits.bytes()},
        {"pixels past the end", shortPixels.bytes()},
        {"palette over the pixels", paletteOutside.bytes()},
        {"info header past the end", bigInfo},
        {"MB", mb},
        {"empty", ""},
        {"headers cut", good.bytes().substr(0, 30)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageFileBMP image;
        ASSERT_TRUE(decode(image, good.bytes()));
        EXPECT_FALSE(decode(image, c.bytes));
        EXPECT_EQ(image.width(), 2u);
        EXPECT_EQ(image.pixel(1, 1), 0xFF808080u);
    }
}

TEST(ImageFileBMP, AMissingFileIsRefused) {
    ImageFileBMP image;
    EXPECT_FALSE(image.load("no-such-picture.bmp"));
    EXPECT_EQ(image.width(), 0u);
}

} // namespace
