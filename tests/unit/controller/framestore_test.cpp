// Frame store capture and stored-image display against the simulated FPGA: what the files
// hold, what the store holds afterwards, and what is refused.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "FpgaFixture.h"
#include "tests/support/Pictures.h"

namespace {

using testing_support::columns;
using testing_support::pattern;
using testing_support::readPng;
using testing_support::storeImage;
using testing_support::writePng;
using Image = testing_support::RgbImage;

constexpr int W = 1920;
constexpr int H = 1080;
constexpr uint32_t kZoomBit = 1u << 8;

// Words at the first and last pixel of store lines 0 and 1079, [line][pixel].
using Corners = std::array<std::array<uint32_t, 2>, 2>;
constexpr Corners kSpoilt = {{{0x12345678, 0x12345678}, {0x12345678, 0x12345678}}};

class FrameStoreTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        // Line bursts are many; the tests look at the store and the files, not the bytes.
        board().trace().setEnabled(sim::TraceKind::Spi, false);
        fpga = makeFpga(false);
    }
    Image store(int channel) { return storeImage(model().frameStoreWords(channel)); }
    void setCorners(const Corners& words) {
        for (int eye : {LEFT, RIGHT}) {
            model().setDdrWord(eye, 0, 0, words[0][0]);
            model().setDdrWord(eye, 479, 3, words[0][1]);
            model().setDdrWord(eye, 1079 * 512, 0, words[1][0]);
            model().setDdrWord(eye, 1079 * 512 + 479, 3, words[1][1]);
        }
    }
    std::string path(const std::string& name) { return home() + "/" + name; }
    std::unique_ptr<ostrixFpga> fpga;
};

TEST_F(FrameStoreTest, FreezeStopsBufferZeroOfBothChannelsAndUnfreezeRestartsAll) {
    fpga->freezeFrame(1);
    for (int c : {0, 1}) {
        EXPECT_EQ(model().registerValue(c, 0x0C), 0x0001000Eu);
        EXPECT_FALSE(model().frameStoreLive(c));
    }
    EXPECT_NE(log().find("F: FreezeFrame\n"), std::string::npos);
    fpga->freezeFrame(0);
    for (int c : {0, 1}) {
        EXPECT_EQ(model().registerValue(c, 0x0C), 0x000F000Fu);
        EXPECT_TRUE(model().frameStoreLive(c));
    }
    EXPECT_NE(log().find("F: UnFreezeFrame\n"), std::string::npos);
}

TEST_F(FrameStoreTest, DigitalZoomSetsBothControlWordsAndTheMagnifierSlot) {
    fpga->digitalZoom(1);
    EXPECT_TRUE(model().registerValue(0, 0x00) & kZoomBit);
    EXPECT_TRUE(model().registerValue(1, 0x00) & kZoomBit);
    EXPECT_TRUE(fpga->icon(icon_magnifier).visible);
    fpga->digitalZoom(0);
    EXPECT_FALSE(model().registerValue(0, 0x00) & kZoomBit);
    EXPECT_FALSE(model().registerValue(1, 0x00) & kZoomBit);
    EXPECT_FALSE(fpga->icon(icon_magnifier).visible);
}

TEST_F(FrameStoreTest, StoreWordsKeepTheTopEightBitsOfEachColour) {
    fpga->freezeFrame(1);
    const uint32_t words[4] = {0xFFFFFFFF, 0x40000000, 0xABu << 14, 0xCDu << 3};
    const uint8_t bytes[4][3] = {{0xFF, 0xFF, 0xFF}, {0x40, 0, 0}, {0, 0xAB, 0}, {0, 0, 0xCD}};
    for (int lane = 0; lane < 4; ++lane) {
        model().setDdrWord(RIGHT, 0, lane, words[lane]);
    }
    ASSERT_EQ(fpga->frameStoreToPNG(RIGHT, path("c.png")), 0);
    Image png = readPng(path("c.png"));
    ASSERT_EQ(png.width, uint32_t(W));
    ASSERT_EQ(png.height, uint32_t(H));
    ASSERT_EQ(fpga->frameStoreToBMP(RIGHT, path("c.bmp")), 0);
    std::string bmp = testing_support::readFile(path("c.bmp"));
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(png.rgb[3 * i], bytes[i][0]);
        EXPECT_EQ(png.rgb[3 * i + 1], bytes[i][1]);
        EXPECT_EQ(png.rgb[3 * i + 2], bytes[i][2]);
        // The BMP's first stored row is store line 0 without orientation flags: blue first.
        EXPECT_EQ(uint8_t(bmp[54 + 3 * i]), bytes[i][2]);
        EXPECT_EQ(uint8_t(bmp[54 + 3 * i + 2]), bytes[i][0]);
    }
    EXPECT_NE(log().find("F: Written PNG file"), std::string::npos);
}

TEST_F(FrameStoreTest, PngCaptureDisplayedBackAndCapturedAgainIsTheSame) {
    fpga->freezeFrame(1);
    ASSERT_EQ(fpga->frameStoreToPNG(LEFTandRIGHT, path("first.png")), 0);
    const Image first = readPng(path("first.png"));
    ASSERT_EQ(first.width, uint32_t(2 * W));
    EXPECT_EQ(columns(first, W, W), store(RIGHT));
    ASSERT_TRUE(writePng(path("other.png"), pattern(2 * W, H, 5)));
    ASSERT_EQ(fpga->frameStoreDisplayPNG(LEFTandRIGHT, path("other.png")), 0);
    ASSERT_NE(store(LEFT), columns(first, 0, W));
    ASSERT_EQ(fpga->frameStoreDisplayPNG(LEFTandRIGHT, path("first.png")), 0);
    ASSERT_EQ(fpga->frameStoreToPNG(LEFTandRIGHT, path("second.png")), 0);
    EXPECT_EQ(readPng(path("second.png")), first);
}

struct ShowCase {
    const char* what;
    uint32_t width;
    int channel;
    int leftFrom, rightFrom; // source column of each eye, -1 when the eye is not written
};

TEST_F(FrameStoreTest, PngDisplayGivesEachEyeItsPart) {
    fpga->freezeFrame(1);
    const ShowCase cases[] = {
        {"side by side on both", 2 * W, LEFTandRIGHT, 0, W},
        {"side by side on the left", 2 * W, LEFT, 0, -1},
        {"one eye's picture on both", W, LEFTandRIGHT, 0, 0},
        {"one eye's picture on the right", W, RIGHT, -1, 0},
    };
    int seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Image before[2] = {store(LEFT), store(RIGHT)};
        const Image img = pattern(c.width, H, ++seed);
        ASSERT_TRUE(writePng(path("show.png"), img));
        ASSERT_EQ(fpga->frameStoreDisplayPNG(c.channel, path("show.png")), 0);
        EXPECT_EQ(store(LEFT), c.leftFrom < 0 ? before[LEFT] : columns(img, c.leftFrom, W));
        EXPECT_EQ(store(RIGHT), c.rightFrom < 0 ? before[RIGHT] : columns(img, c.rightFrom, W));
    }
}

struct Refused {
    const char* what;
    std::string content;
    const char* message;
};

std::string pngBytes(const Image& img, const std::string& tmp) {
    EXPECT_TRUE(writePng(tmp, img));
    return testing_support::readFile(tmp);
}

TEST_F(FrameStoreTest, PicturesOfTheWrongShapeOrNoPictureAreRefusedAndTheStoreKept) {
    fpga->freezeFrame(1);
    const Image before = store(LEFT);
    const std::string tmp = path("tmp.png");
    const std::string good = pngBytes(pattern(W, H, 1), tmp);
    const Refused cases[] = {
        {"1920 x 1200", pngBytes(pattern(W, 1200, 1), tmp), "ERROR: PNG Image format incorrect"},
        {"1000 x 1080", pngBytes(pattern(1000, H, 1), tmp), "ERROR: PNG Image format incorrect"},
        {"not a PNG", "this is text", "ERROR: PNG Read failed"},
        {"cut short", good.substr(0, good.size() / 2), "ERROR: PNG Read failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        put(path("bad.png"), c.content);
        EXPECT_EQ(fpga->frameStoreDisplayPNG(LEFT, path("bad.png")), -1);
        EXPECT_NE(log().find(c.message), std::string::npos);
    }
    EXPECT_EQ(fpga->frameStoreDisplayPNG(LEFT, path("missing.png")), -1);
    // A truncated file fails only after rows were decoded: nothing reached the store.
    EXPECT_EQ(store(LEFT), before);
}

struct Orientation {
    bool horizontal, vertical;
    int channel;
    int firstLine, firstPixel; // store position of the file's first pixel
};

TEST_F(FrameStoreTest, BmpCaptureFollowsTheOrientationFlagsAndDisplaysBackUnchanged) {
    fpga->freezeFrame(1);
    // Distinct corners, so that the file's first pixel tells where reading started.
    const Corners corners = {{{0x11111111, 0x22222222}, {0x33333333, 0x44444444}}};
    setCorners(corners);
    const Image original[2] = {store(LEFT), store(RIGHT)};
    const Orientation cases[] = {
        {false, false, LEFT, 0, 0},
        {true, false, RIGHT, 0, 1919},
        {false, true, LEFTandRIGHT, 1079, 0},
        {true, true, LEFT, 1079, 1919},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "h " << c.horizontal << " v " << c.vertical);
        fpga->setSaveImageOrientation(c.horizontal, c.vertical);
        ASSERT_EQ(fpga->frameStoreToBMP(c.channel, path("first.bmp")), 0);
        const std::string first = testing_support::readFile(path("first.bmp"));
        const uint32_t width = c.channel == LEFTandRIGHT ? 2 * W : W;
        ASSERT_EQ(first.size(), 54u + width * H * 3);
        const uint32_t word = corners[c.firstLine ? 1 : 0][c.firstPixel ? 1 : 0];
        EXPECT_EQ(uint8_t(first[54]), uint8_t(word >> 3)) << "blue of the first pixel";
        EXPECT_EQ(uint8_t(first[56]), uint8_t(word >> 24)) << "red of the first pixel";
        // Spoil the corners; showing the file must put every pixel back where it was.
        setCorners(kSpoilt);
        ASSERT_EQ(fpga->frameStoreDisplayBMP(c.channel, path("first.bmp")), 0);
        for (int eye : {LEFT, RIGHT}) {
            if (channelSelected(c.channel, eye)) {
                EXPECT_EQ(store(eye), original[eye]) << "eye " << eye;
            }
        }
        ASSERT_EQ(fpga->frameStoreToBMP(c.channel, path("second.bmp")), 0);
        EXPECT_EQ(testing_support::readFile(path("second.bmp")), first);
        setCorners(corners); // the eye not shown gets its corners back too
    }
}

TEST_F(FrameStoreTest, BmpHeadersAreLittleEndianAndFixed) {
    fpga->freezeFrame(1);
    ASSERT_EQ(fpga->frameStoreToBMP(LEFTandRIGHT, path("s.bmp")), 0);
    const std::string f = testing_support::readFile(path("s.bmp"));
    const std::vector<uint8_t> expected = {'B', 'M', 0x36, 0xD8, 0xBD, 0x00, 0, 0, 0,    0,    54, 0,
                                           0,   0, // 12 441 654 bytes, pixels at 54
                                           40,  0,   0,    0,    0x00, 0x0F, 0, 0, 0x38, 0x04, 0,  0,
                                           1,   0,   24,   0, // 3840 x 1080, 1 plane, 24 bits
                                           0,   0,   0,    0,    0,    0,    0, 0, 0,    0,    0,  0,
                                           0,   0,   0,    0,    0,    0,    0, 0, 0,    0,    0,  0};
    ASSERT_GE(f.size(), expected.size());
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 54), expected);
    EXPECT_EQ(f.size(), 12441654u);
}

TEST_F(FrameStoreTest, SmallBmpFillsItsCornerAndTheRestOfItsLinesBlack) {
    fpga->freezeFrame(1);
    const Image before = store(RIGHT);
    std::string bmp(54, '\0');
    bmp[0] = 'B', bmp[1] = 'M', bmp[10] = 54, bmp[14] = 40, bmp[18] = 2, bmp[22] = 3, bmp[26] = 1,
    bmp[28] = 24;
    for (int row = 0; row < 3; ++row) {
        bmp += std::string("\x10\x20\x30\x40\x50\x60\0\0", 8); // two pixels and padding
    }
    put(path("small.bmp"), bmp);
    ASSERT_EQ(fpga->frameStoreDisplayBMP(RIGHT, path("small.bmp")), 0);
    const Image after = store(RIGHT);
    for (int line = 0; line < 4; ++line) {
        SCOPED_TRACE(line);
        const uint8_t* p = &after.rgb[size_t(line) * W * 3];
        const uint8_t* was = &before.rgb[size_t(line) * W * 3];
        if (line < 3) {
            EXPECT_EQ(std::vector<uint8_t>(p, p + 9),
                      (std::vector<uint8_t>{0x30, 0x20, 0x10, 0x60, 0x50, 0x40, 0, 0, 0}));
            EXPECT_EQ(p[3 * 1919], 0);
        } else {
            EXPECT_TRUE(std::equal(p, p + W * 3, was)) << "lines below the picture are kept";
        }
    }
}

TEST_F(FrameStoreTest, BmpLoadFailuresAreNamedAndRefused) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "has zero size"},
        {"MB and more bytes than a header needs..............................", "not a BMP file"},
        {std::string("BM") + std::string(52, '\0'), "has an invalid header"},
    };
    for (const auto& [content, message] : cases) {
        SCOPED_TRACE(message);
        put(path("bad.bmp"), content);
        EXPECT_EQ(fpga->frameStoreDisplayBMP(LEFT, path("bad.bmp")), -1);
        EXPECT_NE(log().find("F: ERROR: bmp image '" + path("bad.bmp") + "' " + message), std::string::npos);
    }
    EXPECT_EQ(fpga->frameStoreDisplayBMP(LEFT, path("none.bmp")), -1);
    EXPECT_NE(log().find("' not found"), std::string::npos);
}

TEST_F(FrameStoreTest, PngCaptureCarriesHowThePictureWasTaken) {
    fpga->setCaptureNotes("Camera gain: 7\nLight ring: 40\n");
    ASSERT_EQ(fpga->frameStoreToPNG(LEFT, path("notes.png")), 0);
    const std::string f = testing_support::readFile(path("notes.png"));
    auto chunk = [](const std::string& key, const std::string& text) { return "tEXt" + key + '\0' + text; };
    for (const std::string& text :
         {chunk("Software", "OstrixPi 5.15"), chunk("Creation Time", ""),
          chunk("Comment", "Eye: left\nFPGA version: 31\nCamera gain: 7\nLight ring: 40\n")}) {
        EXPECT_NE(f.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(readPng(path("notes.png")).width, uint32_t(W));
}

TEST_F(FrameStoreTest, CaptureIntoAMissingFolderFailsAndLeavesNoFile) {
    EXPECT_EQ(fpga->frameStoreToPNG(LEFT, path("gone/x.png")), -1);
    EXPECT_EQ(fpga->frameStoreToBMP(LEFT, path("gone/x.bmp")), -1);
    EXPECT_NE(log().find("F: ERROR: failed to open file '" + path("gone/x.png") + "'"), std::string::npos);
    EXPECT_NE(log().find("F: ERROR: failed to open file '" + path("gone/x.bmp") + "'"), std::string::npos);
    EXPECT_EQ(fpga->frameStoreToPNG(7, path("x.png")), -1);
    EXPECT_FALSE(std::filesystem::exists(path("x.png")));
}

} // namespace
