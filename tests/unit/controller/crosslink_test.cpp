// The video bridges against the simulated board: configuration through the programming
// tool, the revision, and the splash picture as the bridge reassembles it.
#include "controller/devices/crosslink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>

#include "I2cFixture.h"
#include "controller/devices/i2c.h"
#include "controller/image/bitmap.h"
#include "sim/chips/VideoBridge.h"

namespace {

constexpr int kBridgeBus[2] = {2, 1};

// A 24-bit BMP stored top row first, coloured by `shade` (0 black .. 255 white).
void writeBmp(const std::string& path, int width, int height, const std::function<uint8_t(int, int)>& shade) {
    const int rowBytes = (width * 3 + 3) / 4 * 4;
    std::string s(54 + size_t(rowBytes) * height, '\0');
    auto le = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            s[at + i] = char(v >> (8 * i));
        }
    };
    s[0] = 'B';
    s[1] = 'M';
    le(2, uint32_t(s.size()), 4);
    le(10, 54, 4);
    le(14, 40, 4);
    le(18, uint32_t(width), 4);
    le(22, uint32_t(-height), 4);
    le(26, 1, 2);
    le(28, 24, 2);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t v = shade(x, y);
            for (int c = 0; c < 3; ++c) {
                s[54 + size_t(y) * rowBytes + x * 3 + c] = char(v);
            }
        }
    }
    std::ofstream(path, std::ios::binary) << s;
}

class CrosslinkTest : public I2cDeviceTest {
protected:
    void SetUp() override {
        I2cDeviceTest::SetUp();
        std::filesystem::create_directories("resources");
        ASSERT_EQ(i2c_->initialise_i2c(), 0);
    }
    void TearDown() override {
        bridge_.reset();
        I2cDeviceTest::TearDown();
    }
    crosslink& make(chan_t chan) {
        bridge_ = std::make_unique<crosslink>(i2c_.get(), chan, "issue2_pcb_data.iea", "issue2_pcb_data.ied");
        return *bridge_;
    }
    sim::VideoBridge& chip(chan_t chan) {
        for (sim::VideoBridge* b : board().findAll<sim::VideoBridge>()) {
            if (b->name() == (chan == LEFT ? "bridge-left" : "bridge-right")) {
                return *b;
            }
        }
        throw std::runtime_error("no bridge");
    }
    // Runs the programming tool as the controller does, from the home folder.
    void configureBoth() {
        for (chan_t chan : {LEFT, RIGHT}) {
            ASSERT_EQ(make(chan).configure(), 0);
        }
    }
    // Block writes of image data the bridge on `bus` saw (command byte 2 first).
    std::vector<std::vector<uint8_t>> imageBlocks(int bus) {
        std::vector<std::vector<uint8_t>> blocks;
        for (const sim::TraceEntry& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.channel == bus && e.address == CROSSLINK_I2C_ADDRESS && !e.out.empty() &&
                e.out[0] == 0x02 && e.out.size() > 2) {
                blocks.push_back(e.out);
            }
        }
        return blocks;
    }
    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    }

    std::unique_ptr<crosslink> bridge_;
};

TEST_F(CrosslinkTest, AnUnconfiguredBridgeDoesNotAnswerUntilItsToolHasRun) {
    crosslink& left = make(LEFT);
    EXPECT_EQ(left.version(), 0);
    EXPECT_EQ(left.configure(), 0);
    EXPECT_EQ(left.version(), sim::VideoBridge::kRevision);
    EXPECT_NE(log().find("XL: ConfPASS"), std::string::npos);
    // The tool was given both files, the bridge's bus and its reset line.
    const std::string shellLog = testing_support::readFile(root() + "/var/log/ostrix-sim/shell.log");
    EXPECT_NE(shellLog.find("CrosslinkProgrammer issue2_pcb_data.iea issue2_pcb_data.ied 2 30"),
              std::string::npos);
    board().powerCycle();
    EXPECT_EQ(left.version(), 0) << "the configuration does not survive a power cycle";
}

TEST_F(CrosslinkTest, AFailingToolIsRunThreeTimesAndItsStatusReturned) {
    ASSERT_TRUE(board().execute({"bridge", "right", "fault", "configure"}).ok);
    crosslink& right = make(RIGHT);
    const int status = right.configure();
    EXPECT_NE(status, 0);
    EXPECT_EQ(count(log(), "XL: Retrying"), 2u);
    EXPECT_NE(log().find("XL: ConfFAIL"), std::string::npos);
    const std::string shellLog = testing_support::readFile(root() + "/var/log/ostrix-sim/shell.log");
    EXPECT_EQ(count(shellLog, "CrosslinkProgrammer "), 3u);
    EXPECT_FALSE(chip(RIGHT).configured());
}

TEST_F(CrosslinkTest, PicturesGoAsBlocksOfThirtyTwoPackedRows) {
    configureBoth();
    struct Case {
        const char* what;
        int width, height;
        uint8_t shade;
        size_t blocks;
        uint8_t dataByte;
    };
    const Case cases[] = {
        {"black 128 x 64", 128, 64, 0, 2, 0xFF},
        {"white 128 x 64", 128, 64, 255, 2, 0x00},
        {"only black is dark: the darkest grey is lit", 64, 32, 1, 1, 0x00},
        {"rows after the last whole block stay unsent", 64, 40, 0, 1, 0xFF},
    };
    crosslink& left = make(LEFT);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        board().trace().clear();
        writeBmp("picture.bmp", c.width, c.height, [&](int, int) { return c.shade; });
        ASSERT_EQ(left.write_bmp_file("picture.bmp"), 0);
        const auto blocks = imageBlocks(kBridgeBus[LEFT]);
        ASSERT_EQ(blocks.size(), c.blocks);
        for (const auto& block : blocks) {
            ASSERT_EQ(block.size(), 1 + 32 * size_t(c.width / 8));
            EXPECT_EQ(std::count(block.begin() + 1, block.end(), c.dataByte),
                      std::ptrdiff_t(block.size() - 1));
        }
    }
    EXPECT_EQ(left.write_bmp_file("missing.bmp"), -1);
    EXPECT_NE(log().find("XL: ERROR: splash image 'missing.bmp' not found"), std::string::npos);
}

TEST_F(CrosslinkTest, SwitchingTheSplashOffWithoutAPictureWritesOnlyTheControlRegister) {
    configureBoth();
    crosslink& left = make(LEFT);
    board().trace().clear();
    EXPECT_EQ(left.splash_screen(false, ""), 0);
    for (const sim::TraceEntry& e : board().trace().entries(sim::TraceKind::I2c)) {
        if (e.address == CROSSLINK_I2C_ADDRESS && e.in.empty()) {
            ASSERT_FALSE(e.out.empty());
            EXPECT_EQ(e.out[0], 0x00) << sim::formatEntry(e);
        }
    }
    EXPECT_FALSE(chip(LEFT).splashOn());
    EXPECT_EQ(chip(LEFT).bytesReceived(), 0u);
}

TEST_F(CrosslinkTest, TheBridgeReassemblesTheSplashPictureThatWasSent) {
    configureBoth();
    // A picture with edges in every direction: a diagonal, a frame and a checkerboard.
    const int width = sim::VideoBridge::kSplashWidth;
    const int height = sim::VideoBridge::kSplashHeight;
    writeBmp("resources/test_splash.bmp", width, height, [](int x, int y) -> uint8_t {
        const bool dark = x == y || x == 0 || y == height - 1 || ((x / 8 + y / 8) % 2 == 0 && x > 160);
        return dark ? 0 : 255;
    });
    crosslink& right = make(RIGHT);
    EXPECT_EQ(right.splash_screen(true, "test_splash.bmp"), 0);
    EXPECT_TRUE(chip(RIGHT).splashOn());
    EXPECT_NE(log().find("XL: splash state 01"), std::string::npos);

    uint32_t rows = 0;
    const std::vector<uint32_t> received = chip(RIGHT).picture(rows);
    ASSERT_EQ(rows, uint32_t(height));
    bitmap sent;
    ASSERT_EQ(sent.load("resources/test_splash.bmp"), BM_OK);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool lit = sent.pixelColour(unsigned(x), unsigned(y)).bright(3);
            differing += (received[size_t(y) * width + x] == 0xFFFFFFFFu) != lit;
        }
    }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(chip(LEFT).bytesReceived(), 0u) << "the other bridge saw nothing";
}

} // namespace
