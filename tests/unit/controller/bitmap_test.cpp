// pixel conversions and the BMP reader: every depth, row padding and row order, and
// headers that lie about what the file holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controller/image/bitmap.h"
#include "controller/image/pixel.h"
#include "tests/support/TempRoot.h"

namespace {

struct Packed {
    const char* what;
    pixel p;
    uint32_t rgb24, rgb16, rgb32;
};

pixel from16(uint32_t v) {
    pixel p;
    p.set16(v);
    return p;
}
pixel from32(uint32_t v) {
    pixel p;
    p.set32(v);
    return p;
}
pixel raw(uint16_t r, uint16_t g, uint16_t b) {
    pixel p;
    p.set_rgb(r, g, b);
    return p;
}

TEST(PixelTest, PackedFormats) {
    const Packed cases[] = {
        {"rgb888 in", pixel(0x123456), 0x123456, 0x11AA, 0x120D02B0},
        {"rgb565 white", from16(0xFFFF), 0xF8FCF8, 0xFFFF, 0xF83F07C0},
        {"full white", raw(0xFFFF, 0xFFFF, 0xFFFF), 0xFFFFFF, 0xFFFF, 0xFFFFFFFF},
        {"frame word red 256 of 1023", from32(0x40000000), 0x400000, 0x4000, 0x40000000},
        {"frame word white", from32(0xFFFFFFFF), 0xFFFFFF, 0xFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.p.rgb24(), c.rgb24);
        EXPECT_EQ(c.p.rgb16(), c.rgb16);
        EXPECT_EQ(c.p.rgb32(), c.rgb32);
    }
    pixel p = from16(0xFFFF);
    EXPECT_EQ(p.red16(), 0xF800);
    EXPECT_EQ(p.green16(), 0xFC00);
    EXPECT_EQ(p.blue16(), 0xF800);
    p = 0x00FF80u;
    EXPECT_EQ(p, raw(0, 0xFF00, 0x8000));
    EXPECT_NE(p, raw(0, 0xFF00, 0x8001));
}

TEST(PixelTest, BrightIsAboveTheLevel) {
    EXPECT_FALSE(raw(0x8000, 0x8000, 0x8000).bright(0x8000));
    EXPECT_TRUE(raw(0x8000, 0x8000, 0x8001).bright(0x8000));
    EXPECT_TRUE(raw(0x8001, 0, 0).bright(0x8000));
}

void le16(std::string& s, size_t at, uint32_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}
void le32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        s[at + i] = static_cast<char>(v >> (8 * i));
    }
}

// A BMP with the given header values; `rows` are the stored rows, padding included.
std::string makeBmp(int32_t width, int32_t height, uint16_t bits, const std::vector<uint32_t>& palette,
                    const std::vector<std::vector<uint8_t>>& rows, uint32_t clrUsed = 0) {
    std::string s(54, '\0');
    s[0] = 'B';
    s[1] = 'M';
    le32(s, 10, 54 + 4 * static_cast<uint32_t>(palette.size()));
    le32(s, 14, 40);
    le32(s, 18, static_cast<uint32_t>(width));
    le32(s, 22, static_cast<uint32_t>(height));
    le16(s, 26, 1);
    le16(s, 28, bits);
    le32(s, 46, clrUsed ? clrUsed : static_cast<uint32_t>(palette.size()));
    for (uint32_t c : palette) { // blue, green, red, reserved
        s += static_cast<char>(c);
        s += static_cast<char>(c >> 8);
        s += static_cast<char>(c >> 16);
        s += '\0';
    }
    for (const auto& row : rows) {
        s.append(row.begin(), row.end());
    }
    le32(s, 2, static_cast<uint32_t>(s.size()));
    return s;
}

class BitmapTest : public testing_support::SimBoardTest {
protected:
    std::string put(const std::string& content) {
        std::string path = home() + "/picture.bmp";
        testing_support::writeFile(path, content);
        return path;
    }
};

struct DepthCase {
    const char* what;
    int32_t width;
    uint16_t bits;
    std::vector<uint32_t> palette;
    std::vector<uint8_t> row;                          // stored row 1, padded
    std::vector<std::pair<unsigned, uint32_t>> expect; // x, RGB888
};

TEST_F(BitmapTest, EveryDepthReadsRowOneAfterThePaddedRowZero) {
    const DepthCase cases[] = {
        {"1 bit, first pixel in the top bit",
         10,
         1,
         {0x000000, 0x00FF00},
         {0x40, 0x40, 0, 0},
         {{0, 0}, {1, 0x00FF00}, {9, 0x00FF00}, {8, 0}}},
        {"2 bits",
         5,
         2,
         {0, 0x111111, 0x222222, 0x333333},
         {0x1B, 0x80, 0, 0},
         {{0, 0}, {1, 0x111111}, {2, 0x222222}, {3, 0x333333}, {4, 0x222222}}},
        {"4 bits, high nibble first",
         3,
         4,
         {0x000001, 0x000002, 0x000003},
         {0x12, 0x00, 0, 0},
         {{0, 0x000002}, {1, 0x000003}, {2, 0x000001}}},
        {"8 bits, short palette",
         2,
         8,
         {0x102030, 0x405060, 0x708090},
         {2, 1, 0, 0},
         {{0, 0x708090}, {1, 0x405060}}},
        {"8 bits, index past the palette is black", 1, 8, {0x102030}, {7, 0, 0, 0}, {{0, 0}}},
        {"16 bits are 5-5-5",
         3,
         16,
         {},
         {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0},
         {{0, 0xF80000}, {1, 0x00F800}, {2, 0x0000F8}}},
        {"24 bits are blue, green, red", 1, 24, {}, {0x56, 0x34, 0x12, 0}, {{0, 0x123456}}},
        {"32 bits are blue, green, red, unused",
         2,
         32,
         {},
         {0x56, 0x34, 0x12, 0xFF, 1, 2, 3, 4},
         {{0, 0x123456}, {1, 0x030201}, {2, 0}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> rowZero(c.row.size(), 0xEE);
        bitmap bm;
        ASSERT_EQ(bm.load(put(makeBmp(c.width, 2, c.bits, c.palette, {rowZero, c.row}))), BM_OK);
        EXPECT_EQ(bm.width(), uint32_t(c.width));
        for (auto [x, colour] : c.expect) {
            EXPECT_EQ(bm.pixelColour(x, 1).rgb24(), colour) << "x " << x;
        }
        std::vector<pixel> line(c.width + 1, pixel(0xABCDEF));
        bm.getline(1, line.data());
        EXPECT_EQ(line[0].rgb24(), c.expect[0].second);
        EXPECT_EQ(line[c.width].rgb24(), 0xABCDEFu) << "getline wrote past the width";
    }
}

TEST_F(BitmapTest, RowsComeInFileOrderWhateverTheSignOfTheHeight) {
    std::vector<uint8_t> first = {0x11, 0x11, 0x11, 0}, second = {0x22, 0x22, 0x22, 0};
    for (int32_t height : {2, -2}) {
        bitmap bm;
        ASSERT_EQ(bm.load(put(makeBmp(1, height, 24, {}, {first, second}))), BM_OK);
        EXPECT_EQ(bm.height(), 2u);
        EXPECT_EQ(bm.pixelColour(0, 0).rgb24(), 0x111111u);
        EXPECT_EQ(bm.pixelColour(0, 1).rgb24(), 0x222222u);
        EXPECT_EQ(bm.pixelColour(0, 2).rgb24(), 0u);
    }
}

TEST_F(BitmapTest, PaletteFollowsALargerInfoHeader) {
    // A 124-byte info header: the palette starts at 14 + 124, not at 54.
    std::string s = makeBmp(1, 1, 8, {}, {});
    le32(s, 14, 124);
    s.resize(14 + 124, '\0');
    s += std::string("\x30\x20\x10\0", 4);
    le32(s, 10, static_cast<uint32_t>(s.size()));
    le32(s, 46, 1);
    s += std::string(4, '\0');
    bitmap bm;
    ASSERT_EQ(bm.load(put(s)), BM_OK);
    EXPECT_EQ(bm.pixelColour(0, 0).rgb24(), 0x102030u);
}

struct BadFile {
    const char* what;
    std::string content;
    int code;
};

std::string patched(std::string s, size_t at, uint32_t v, bool wide = true) {
    wide ? le32(s, at, v) : le16(s, at, v);
    return s;
}

TEST_F(BitmapTest, LyingOrForeignFilesAreRefusedAndLeaveNothingLoaded) {
    const std::string good = makeBmp(2, 2, 24, {}, {{1, 2, 3, 4, 5, 6, 0, 0}, {7, 8, 9, 10, 11, 12, 0, 0}});
    const std::string paletted = makeBmp(2, 1, 8, {0x123456, 0x654321}, {{0, 1, 0, 0}});
    const BadFile cases[] = {
        {"empty", "", BM_EMPTY},
        {"starts MB", "MB" + good.substr(2), BM_NOT_BMP},
        {"one byte", "B", BM_NOT_BMP},
        {"run-length compressed", patched(good, 30, BI_RLE8), BM_COMPRESSED},
        {"shorter than its headers", good.substr(0, 30), BM_BAD_HEADER},
        {"pixels past the end", good.substr(0, good.size() - 1), BM_BAD_HEADER},
        {"offset past the end", patched(good, 10, 0xFFFFFFF0), BM_BAD_HEADER},
        {"offset inside the headers", patched(good, 10, 20), BM_BAD_HEADER},
        {"info header past the end", patched(good, 14, 0xFFFFFFF0), BM_BAD_HEADER},
        {"info header too small", patched(good, 14, 12), BM_BAD_HEADER},
        {"zero width", patched(good, 18, 0), BM_BAD_HEADER},
        {"negative width", patched(good, 18, 0xFFFFFFFE), BM_BAD_HEADER},
        {"zero height", patched(good, 22, 0), BM_BAD_HEADER},
        {"rows beyond 32 bits of size", patched(patched(good, 18, 0x10000), 22, 0x10000), BM_BAD_HEADER},
        {"three bits per pixel", patched(good, 28, 3, false), BM_BAD_HEADER},
        {"palette past the end", patched(paletted, 46, 0x10000000), BM_BAD_HEADER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        bitmap bm;
        ASSERT_EQ(bm.load(put(good)), BM_OK);
        EXPECT_EQ(bm.load(put(c.content)), c.code);
        EXPECT_FALSE(bm.loaded());
        EXPECT_EQ(bm.pixelColour(0, 0), pixel());
        EXPECT_EQ(bm.width(), 0u);
    }
    bitmap bm;
    EXPECT_EQ(bm.load(home() + "/no-such.bmp"), BM_NOT_OPENED);
    EXPECT_EQ(bm.load(home()), BM_NOT_OPENED) << "a folder is not a picture";
}

} // namespace
