// The overlay store, the status icons and the GUI's colours and position against the
// simulated FPGA: what the registers hold and what the panels would show from the store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "FpgaFixture.h"
#include "tests/support/Pictures.h"

namespace {

constexpr uint32_t kKey = 0x008080; // the GUI background colour keyed out
constexpr uint16_t kKey565 = 0x0410;
constexpr uint32_t kOverlay = 0x01F00000;
constexpr int kIcon = 96; // the shipped icons' size
constexpr uint16_t kMarker = 0x1234;

// A picture of one colour.
void writePicture(const std::string& path, uint32_t width, uint32_t height, uint32_t rgb) {
    testing_support::RgbImage picture{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    for (size_t i = 0; i < picture.rgb.size(); i += 3) {
        picture.rgb[i] = uint8_t(rgb >> 16);
        picture.rgb[i + 1] = uint8_t(rgb >> 8);
        picture.rgb[i + 2] = uint8_t(rgb);
    }
    ASSERT_TRUE(testing_support::writePng(path, picture));
}

class OverlayTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        std::filesystem::create_directories(home() + "/resources");
        for (const char* name : kIconFiles) {
            std::filesystem::copy_file(std::string(OSTRIX_SOURCE_DIR "/resources/") + name,
                                       home() + "/resources/" + name);
        }
    }

    // Where a pixel of the store lies in DDR: its word and 32-bit lane.
    static uint32_t wordOf(int x, int y) { return kOverlay + uint32_t(y) * 512 + uint32_t(x) / 8; }
    void putMarker(int x, int y) {
        for (int c = 0; c < 2; ++c) {
            model().setDdrWord(c, wordOf(x, y), (x % 8) / 2, kMarker << 16 | kMarker);
        }
    }

    // The store at (x0, y0) shows the icon picture: full-intensity pixels exactly, black
    // ones as the key colour (see-through). Smoothed edge pixels are not compared.
    ::testing::AssertionResult showsIcon(int channel, int x0, int y0, const std::string& file) {
        const testing_support::RgbImage p = testing_support::readPng(home() + "/resources/" + file);
        if (p.width == 0) {
            return ::testing::AssertionFailure() << "cannot read " << file;
        }
        int compared = 0;
        for (uint32_t y = 0; y < p.height; ++y) {
            for (uint32_t x = 0; x < p.width; ++x) {
                const uint8_t* c = p.at(x, y);
                auto full = [](uint8_t v) { return v == 0 || v == 255; };
                if (!full(c[0]) || !full(c[1]) || !full(c[2])) {
                    continue;
                }
                uint16_t want = uint16_t((c[0] ? 0xF800 : 0) | (c[1] ? 0x07E0 : 0) | (c[2] ? 0x001F : 0));
                if (want == 0) {
                    want = kKey565;
                }
                uint16_t got = model().overlayPixel(channel, x0 + int(x), y0 + int(y));
                if (got != want) {
                    return ::testing::AssertionFailure() << file << " pixel (" << x << "," << y << ") is "
                                                         << std::hex << got << ", want " << want;
                }
                ++compared;
            }
        }
        return ::testing::AssertionSuccess() << compared << " pixels";
    }
    bool allKey(int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                if (model().overlayPixel(0, x, y) != kKey565 || model().overlayPixel(1, x, y) != kKey565) {
                    return false;
                }
            }
        }
        return true;
    }
    // The data-port bursts that followed `clear()` of the trace.
    std::vector<sim::TraceEntry> dataBursts() {
        std::vector<sim::TraceEntry> out;
        for (auto& t : transfers()) {
            if ((t.out[0] & 0x7F) == 0x14) {
                out.push_back(t);
            }
        }
        return out;
    }

    static constexpr const char* kIconFiles[] = {"icon_magnifier.png", "icon_alignmentmode.png",
                                                 "icon_divergentmode.png", "icon_brightnessmode.png"};
};

TEST_F(OverlayTest, TheFourIconsLoadAtConstruction) {
    auto fpga = makeFpga(false);
    for (int i = 0; i < MAX_ICONS; ++i) {
        EXPECT_EQ(fpga->icon(i).width, uint32_t(kIcon)) << i;
        EXPECT_EQ(fpga->icon(i).height, uint32_t(kIcon)) << i;
        EXPECT_FALSE(fpga->icon(i).visible) << i;
    }
}

struct PositionCase {
    unsigned from, to;
    uint32_t location;
    int clearedQuadrant; // -1: none
    bool iconRight, iconTop;
};

class MenuPositionTest : public OverlayTest, public testing::WithParamInterface<PositionCase> {};

TEST_P(MenuPositionTest, MovesTheIconsClearsTheOldQuadrantAndWritesTheLocation) {
    const PositionCase& c = GetParam();
    auto fpga = makeFpga(false);
    fpga->setGUIbgcolour(kKey);
    fpga->setGUIPosition(c.from);
    fpga->digitalZoom(1);
    const int oldX = fpga->icon(icon_magnifier).xpos / 64 * 64, oldY = fpga->icon(icon_magnifier).ypos;
    ASSERT_TRUE(showsIcon(0, oldX, oldY, kIconFiles[0]));
    const int centres[4][2] = {{480, 270}, {1440, 270}, {480, 810}, {1440, 810}};
    for (auto& m : centres) {
        putMarker(m[0], m[1]);
    }

    fpga->setGUIPosition(c.to);

    EXPECT_EQ(model().registerValue(0, 0x05), c.location);
    EXPECT_EQ(model().registerValue(1, 0x05), c.location);
    for (int q = 0; q < 4; ++q) {
        uint16_t want = q == c.clearedQuadrant ? kKey565 : kMarker;
        EXPECT_EQ(model().overlayPixel(0, centres[q][0], centres[q][1]), want) << "quadrant " << q;
        EXPECT_EQ(model().overlayPixel(1, centres[q][0], centres[q][1]), want) << "quadrant " << q;
    }
    const int x = c.iconRight ? (1920 - kIcon) / 64 * 64 : 0;
    const int y = c.iconTop ? 0 : 1080 - kIcon;
    EXPECT_EQ(fpga->icon(icon_magnifier).xpos / 64 * 64, uint32_t(x));
    EXPECT_EQ(fpga->icon(icon_magnifier).ypos, uint32_t(y));
    EXPECT_TRUE(showsIcon(0, x, y, kIconFiles[0]));
    EXPECT_TRUE(showsIcon(1, x, y, kIconFiles[0]));
    if (x != oldX || y != oldY) {
        EXPECT_TRUE(allKey(oldX + 8, oldY, kIcon - 16, kIcon)) << "the icon is left at its old place";
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, MenuPositionTest,
                         testing::Values(PositionCase{1, 2, 0x00000460, 0, false, true},
                                         PositionCase{2, 1, 0x00000000, 1, true, true},
                                         PositionCase{1, 3, 0x02580000, 0, true, false},
                                         PositionCase{3, 4, 0x02580460, 2, false, false},
                                         PositionCase{4, 5, 0x012C0230, 3, false, false},
                                         PositionCase{5, 9, 0x00000000, -1, false, false}));

TEST_F(OverlayTest, AnIconAtX1820StartsAt1792) {
    auto fpga = makeFpga(false);
    fpga->setGUIbgcolour(kKey);
    board().trace().clear();
    ASSERT_EQ(fpga->renderIcon(icon_brightnessmode, 1820, 100), 0);
    EXPECT_EQ(fpga->icon(icon_brightnessmode).xpos, 1816u); // icons sit on multiples of 8
    auto t = transfers();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[0].out, bytes({0x10, 0x01, 0xF0, 0xC8, 0xE0})); // 0x01F00000 + 100 x 512 + 28 x 8
    EXPECT_TRUE(showsIcon(0, 1792, 100, kIconFiles[icon_brightnessmode]));
    EXPECT_TRUE(showsIcon(1, 1792, 100, kIconFiles[icon_brightnessmode]));
}

TEST_F(OverlayTest, IconsDrawnAcrossTheStoreEdgeAreClippedToIt) {
    auto fpga = makeFpga(false);
    fpga->setGUIbgcolour(kKey);
    // DDR just below the store's last line.
    model().setDdrWord(0, wordOf(1856, 1080), 0, 0x12341234);
    board().trace().clear();
    ASSERT_EQ(fpga->renderIcon(icon_magnifier, 1900, 1040), 0);
    auto bursts = dataBursts();
    EXPECT_EQ(bursts.size(), 2u * 40); // lines 1040..1079
    for (auto& b : bursts) {
        EXPECT_EQ(b.out.size(), 1u + 64 * 2); // 64 pixels from x 1856 to the edge
    }
    EXPECT_EQ(model().ddrWord(0, wordOf(1856, 1080), 0), 0x12341234u);
}

struct RowCase {
    uint32_t width, sent;
};

class IconRowTest : public OverlayTest, public testing::WithParamInterface<RowCase> {};

TEST_P(IconRowTest, RowsGoOutInUnitsOfFourPaddedWithTheKeyColour) {
    writePicture("narrow.png", GetParam().width, 2, 0xFF0000);
    auto fpga = makeFpga(false);
    fpga->setGUIbgcolour(kKey);
    ASSERT_EQ(fpga->readICON(icon_divergentmode, "narrow.png"), 0);
    board().trace().clear();
    ASSERT_EQ(fpga->renderIcon(icon_divergentmode, 0, 10), 0);
    auto bursts = dataBursts();
    ASSERT_EQ(bursts.size(), 4u); // two rows, left then right
    EXPECT_EQ(bursts[0].out[0], 0x14);
    EXPECT_EQ(bursts[1].out[0], 0x94);
    for (auto& b : bursts) {
        ASSERT_EQ(b.out.size(), 1 + 2 * GetParam().sent);
        for (uint32_t k = 0; k < GetParam().sent; ++k) {
            uint16_t v = uint16_t(b.out[1 + 2 * k] << 8 | b.out[2 + 2 * k]);
            EXPECT_EQ(v, k < GetParam().width ? 0xF800 : kKey565) << k;
        }
    }
    // The panel shows the row from its first pixel to the last whole pair.
    EXPECT_EQ(model().overlayPixel(0, 0, 11), 0xF800);
    EXPECT_EQ(model().overlayPixel(1, int(GetParam().width & ~1u) - 1, 11), 0xF800);
}

INSTANTIATE_TEST_SUITE_P(Widths, IconRowTest,
                         testing::Values(RowCase{30, 32}, RowCase{32, 32}, RowCase{33, 36}, RowCase{2, 4}));

struct IconFileCase {
    const char* name;
    int slot;
    int result;
};

class IconFileTest : public OverlayTest, public testing::WithParamInterface<IconFileCase> {};

TEST_P(IconFileTest, ABadIconLeavesItsSlotEmpty) {
    writePicture("wide.png", 1921, 1, 0xFFFFFF);
    writePicture("tall.png", 1, 1081, 0xFFFFFF);
    put("garbage.png", "\x89PNG\r\n\x1a\n not a picture");
    auto fpga = makeFpga(false);
    EXPECT_EQ(fpga->readICON(GetParam().slot, GetParam().name), GetParam().result);
    if (GetParam().slot >= 0 && GetParam().slot < MAX_ICONS) {
        EXPECT_EQ(fpga->icon(GetParam().slot).width, 0u);
        EXPECT_EQ(fpga->renderIcon(GetParam().slot, 0, 0), -1);
        EXPECT_EQ(fpga->hideIcon(GetParam().slot), -1);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, IconFileTest,
                         testing::Values(IconFileCase{"missing.png", 0, -1},
                                         IconFileCase{"garbage.png", 1, -1}, IconFileCase{"wide.png", 2, 75},
                                         IconFileCase{"tall.png", 3, 75},
                                         IconFileCase{"resources/icon_magnifier.png", 4, 44},
                                         IconFileCase{"resources/icon_magnifier.png", -1, 44}));

struct TransparencyCase {
    unsigned percent;
    uint32_t colour, factor, scaled;
};

class TransparencyTest : public OverlayTest, public testing::WithParamInterface<TransparencyCase> {};

TEST_P(TransparencyTest, FactorAndScaledColourReachBothChannels) {
    const TransparencyCase& c = GetParam();
    auto fpga = makeFpga(false);
    fpga->setMenubgcolour(c.colour);
    fpga->setMenubgtransparency(static_cast<uint8_t>(c.percent));
    for (int ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(model().registerValue(ch, 0x03), c.colour);
        EXPECT_EQ(model().registerValue(ch, 0x04), c.factor);
        EXPECT_EQ(model().registerValue(ch, 0x07), c.scaled);
    }
    EXPECT_LE(fpga->menuTransparency(), 100u);
}

INSTANTIATE_TEST_SUITE_P(Factors, TransparencyTest,
                         testing::Values(TransparencyCase{50, 0xFF8000, 127, 0x7F4000},
                                         TransparencyCase{0, 0xFF8000, 0, 0xFE7F00},
                                         TransparencyCase{100, 0x8B8B8B, 255, 0x000000},
                                         TransparencyCase{200, 0xFFFFFF, 255, 0x000000}));

TEST_F(OverlayTest, TheKeyColourGoesToBothChannelsAndWipesTheStore) {
    model().setRegister(0, 0x02, 0x05000000); // a position field the FPGA came up with
    auto fpga = makeFpga(false);
    fpga->renderIcon(icon_magnifier, 0, 0);
    fpga->setGUIbgcolour(0x00FF00);
    EXPECT_EQ(model().registerValue(0, 0x02), 0x0500FF00u);
    EXPECT_EQ(model().registerValue(1, 0x02), 0x0500FF00u);
    for (auto [x, y] : {std::pair{0, 0}, {48, 48}, {1919, 0}, {0, 1079}, {1919, 1079}, {960, 540}}) {
        EXPECT_EQ(model().overlayPixel(0, x, y), 0x07E0);
        EXPECT_EQ(model().overlayPixel(1, x, y), 0x07E0);
    }
}

TEST_F(OverlayTest, SelfTestCountsTheBadPixelsOfEachChannel) {
    auto fpga = makeFpga(false);
    pixel colour;
    colour.set16(0xAAAA);
    EXPECT_EQ(fpga->checkOverlayStore(colour), 0);
    EXPECT_NE(log().find("F: Error Count left=0 right=0\n"), std::string::npos);

    // One lane (two pixels) stuck at ones on the left, two on the right.
    ASSERT_TRUE(model().addDdrFault(0, kOverlay + 5 * 512 + 3, 1, 0xFFFFFFFF));
    ASSERT_TRUE(model().addDdrFault(1, kOverlay + 1079 * 512 + 239, 3, 0xFFFFFFFF));
    ASSERT_TRUE(model().addDdrFault(1, kOverlay + 600 * 512 + 130, 0, 0xFFFFFFFF));
    EXPECT_EQ(fpga->checkOverlayStore(colour), 6);
    EXPECT_NE(log().find("F: Error Count left=2 right=4\n"), std::string::npos);
    EXPECT_NE(log().find("F: got ffff exp "), std::string::npos);
}

} // namespace
