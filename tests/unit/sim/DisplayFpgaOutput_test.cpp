// The simulated FPGA's output stage seen from the test side: the overlay store as the
// panels show it and saved as a picture, measured sync times, faulty DDR cells, and the
// output registers in the board's status.
#include <gtest/gtest.h>

#include <vector>

#include "TempRoot.h"
#include "platform/wiringPi.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/Pictures.h"

namespace {

constexpr uint32_t kOverlay = 0x01F00000;

class FpgaOutputModelTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        ASSERT_GE(wiringPiSPISetup(0, 16000000), 0);
    }
    sim::DisplayFpga& fpga() { return *board().find<sim::DisplayFpga>(); }
    uint32_t transfer(int reg, uint32_t value) {
        unsigned char b[5] = {static_cast<unsigned char>(reg), static_cast<unsigned char>(value >> 24),
                              static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 8),
                              static_cast<unsigned char>(value)};
        wiringPiSPIDataRW(0, b, 5);
        return uint32_t(b[1]) << 24 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 8 | b[4];
    }
    // A burst of 16-bit pixels to the data port of a channel.
    void sendPixels(int channel, const std::vector<uint16_t>& pixels) {
        std::vector<unsigned char> b(1 + 2 * pixels.size());
        b[0] = static_cast<unsigned char>(0x14 | (channel ? 0x80 : 0));
        for (size_t k = 0; k < pixels.size(); ++k) {
            b[1 + 2 * k] = static_cast<unsigned char>(pixels[k] >> 8);
            b[2 + 2 * k] = static_cast<unsigned char>(pixels[k]);
        }
        wiringPiSPIDataRW(0, b.data(), static_cast<int>(b.size()));
    }
};

TEST_F(FpgaOutputModelTest, TheFirstPixelOfEachPairShowsFromTheLowHalf) {
    transfer(0x10, kOverlay + 3 * 512 + 1); // line 3, from x 8
    sendPixels(0, {0x1111, 0x2222, 0x3333, 0x4444});
    EXPECT_EQ(fpga().overlayPixel(0, 8, 3), 0x2222);
    EXPECT_EQ(fpga().overlayPixel(0, 9, 3), 0x1111);
    EXPECT_EQ(fpga().overlayPixel(0, 10, 3), 0x4444);
    EXPECT_EQ(fpga().overlayPixel(0, 11, 3), 0x3333);
    EXPECT_EQ(fpga().overlayPixel(1, 8, 3), 0);
}

TEST_F(FpgaOutputModelTest, AShortBurstKeepsTheLanesItSent) {
    transfer(0x90, kOverlay);
    sendPixels(1, {0xF800, 0xF800, 0x001F, 0x001F}); // two lanes of a 128-bit word
    transfer(0x90, kOverlay + 512);                  // the next row starts before the word is full
    EXPECT_EQ(fpga().overlayPixel(1, 0, 0), 0xF800);
    EXPECT_EQ(fpga().overlayPixel(1, 1, 0), 0xF800);
    EXPECT_EQ(fpga().overlayPixel(1, 3, 0), 0x001F);
}

TEST_F(FpgaOutputModelTest, SaveOverlayWritesTheStoreAsThePanelShowsIt) {
    transfer(0x10, kOverlay + 1079 * 512 + 239); // the last word of the last line
    sendPixels(0, std::vector<uint16_t>(8, 0x07E0));
    const std::string path = home() + "/overlay.png";
    ASSERT_TRUE(board().execute({"framestore", "save", "--overlay", "left", path}).ok);
    const testing_support::RgbImage picture = testing_support::readPng(path);
    ASSERT_EQ(picture.width, 1920u);
    ASSERT_EQ(picture.height, 1080u);
    const std::vector<uint8_t>& rgb = picture.rgb;
    const uint8_t* last = &rgb[rgb.size() - 3];
    EXPECT_EQ(last[0], 0);
    EXPECT_EQ(last[1], 0xFF);
    EXPECT_EQ(last[2], 0);
    EXPECT_EQ(rgb[(1079 * 1920 + 1911) * 3 + 1], 0); // the pixel before that word
    EXPECT_FALSE(board().execute({"framestore", "save", "--overlay", "middle", path}).ok);
}

TEST_F(FpgaOutputModelTest, SyncTimesAreSetPerChannelAndRead) {
    ASSERT_TRUE(board().execute({"fpga", "sync", "right", "2156", "44", "100", "2000"}).ok);
    EXPECT_EQ(transfer(0xBD, 0), (44u << 16) | 2156u);
    EXPECT_EQ(transfer(0xBE, 0), 100u);
    EXPECT_EQ(transfer(0xBF, 0), 2000u);
    EXPECT_NE(transfer(0x3E, 0), 100u); // the left input keeps its own
    EXPECT_FALSE(board().execute({"fpga", "sync", "right", "1", "2", "3"}).ok);
    EXPECT_FALSE(board().execute({"fpga", "sync", "up", "1", "2", "3", "4"}).ok);
}

TEST_F(FpgaOutputModelTest, ADdrFaultSetsBitsOnReadOfOneCellUntilCleared) {
    const uint32_t address = kOverlay + 10;
    fpga().setDdrWord(0, address, 2, 0x00001000);
    ASSERT_TRUE(board().execute({"fpga", "ddr-fault", "0", std::to_string(address), "2", "0x0F"}).ok);
    EXPECT_EQ(fpga().ddrWord(0, address, 2), 0x0000100Fu);
    EXPECT_EQ(fpga().ddrWord(0, address, 1), 0u);
    EXPECT_EQ(fpga().ddrWord(1, address, 2), 0u);
    EXPECT_FALSE(board().execute({"fpga", "ddr-fault", "0", "1", "4", "1"}).ok); // no lane 4
    ASSERT_TRUE(board().execute({"fpga", "ddr-fault", "clear"}).ok);
    EXPECT_EQ(fpga().ddrWord(0, address, 2), 0x00001000u);
}

TEST_F(FpgaOutputModelTest, StatusShowsTheOutputStage) {
    transfer(0x80, (1u << 11) | (2u << 9) | (1u << 12) | (1u << 15) | (1u << 6));
    transfer(0xA0, 10);
    transfer(0xA1, 0x5A5A5A);
    std::string status = board().statusJson();
    for (const char* entry :
         {"\"blanked\":true", "\"input_3d_mode\":2", "\"output_3d_mode\":1", "\"vsync_active_high\":true",
          "\"hsync_active_high\":false", "\"overlay_enable\":true", "\"pi_video_enable\":false",
          "\"hsync_high\":44", "\"ddr_faults\":0"}) {
        EXPECT_NE(status.find(entry), std::string::npos) << entry;
    }
    EXPECT_NE(status.find("\"contrast_lut\":{\"0\":0,\"32\":0"), std::string::npos);
    EXPECT_EQ(fpga().lutEntry(1, 10), 0x5A5A5Au);
}

} // namespace
