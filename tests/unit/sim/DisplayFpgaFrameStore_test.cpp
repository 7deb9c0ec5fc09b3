// The simulated frame stores seen from the test side: saving what a store holds.
#include <gtest/gtest.h>

#include <vector>

#include "TempRoot.h"
#include "platform/wiringPi.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"
#include "tests/support/Pictures.h"

namespace {

class FrameStoreModelTest : public testing_support::SimBoardTest {
protected:
    sim::DisplayFpga& fpga() { return *board().find<sim::DisplayFpga>(); }
    // Writes a channel's frame store enables: 15 runs every buffer, 14 freezes buffer 0.
    void enableInputs(int channel, unsigned char inputs) {
        ASSERT_GE(wiringPiSPISetup(0, 16000000), 0);
        unsigned char enable[5] = {static_cast<unsigned char>(0x0C | (channel ? 0x80 : 0)), 0, 0x0F, 0,
                                   inputs};
        wiringPiSPIDataRW(0, enable, 5);
    }
};

TEST_F(FrameStoreModelTest, SaveWritesTheFrozenStoreOfTheChosenEye) {
    enableInputs(0, 15);
    enableInputs(1, 15);
    enableInputs(1, 14);
    EXPECT_FALSE(fpga().frameStoreLive(1));
    EXPECT_TRUE(fpga().frameStoreLive(0));
    fpga().setDdrWord(1, 512 * 2 + 1, 2, 0xFFC00000 | (0x55u << 14) | (0x2Au << 3)); // line 2, pixel 6
    const std::string path = home() + "/right.png";
    ASSERT_TRUE(board().execute({"framestore", "save", "right", path}).ok);
    const testing_support::RgbImage picture = testing_support::readPng(path);
    ASSERT_EQ(picture.width, uint32_t(sim::kTestPictureWidth));
    const std::vector<uint8_t>& rgb = picture.rgb;
    const uint8_t* p = &rgb[(2 * sim::kTestPictureWidth + 6) * 3];
    EXPECT_EQ(p[0], 0xFF);
    EXPECT_EQ(p[1], 0x55);
    EXPECT_EQ(p[2], 0x2A);
    // Every other pixel is the frozen live picture of the right eye.
    const uint32_t word = fpga().frameStoreWords(1)[100];
    EXPECT_EQ(rgb[300], uint8_t(word >> 24));
    EXPECT_EQ(rgb[301], uint8_t(word >> 14));
    // Running live again, the store shows the input, but its memory keeps the frozen frame
    // a capture saved.
    enableInputs(1, 15);
    ASSERT_TRUE(board().execute({"framestore", "save", "--frozen", "right", path}).ok);
    EXPECT_EQ(testing_support::readPng(path).rgb, rgb);
}

TEST_F(FrameStoreModelTest, SaveNeedsAnEyeAndAFile) {
    EXPECT_FALSE(board().execute({"framestore", "save", "both", home() + "/x.png"}).ok);
    EXPECT_FALSE(board().execute({"framestore", "save", "left"}).ok);
    EXPECT_FALSE(board().execute({"framestore", "save", "--thawed", "left", home() + "/x.png"}).ok);
    EXPECT_FALSE(board().execute({"framestore"}).ok);
    EXPECT_FALSE(board().execute({"framestore", "save", "left", home() + "/no/such/folder/x.png"}).ok);
    EXPECT_NE(board().execute({"help"}).text.find("framestore save left|right FILE.png"), std::string::npos);
}

} // namespace
