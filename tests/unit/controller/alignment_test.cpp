// Stereo alignment: the alignment file and the alignment, divergence and backlight keys,
// with their effect on the simulated display FPGA.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "FpgaFixture.h"
#include "common/messages.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/alignment.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"

namespace {

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

class AlignmentTest : public FpgaTest {
protected:
    void SetUp() override {
        FpgaTest::SetUp();
        reset_process_state();
        reset_controller_keys();
    }
    void TearDown() override {
        fpga.reset();
        FpgaTest::TearDown();
    }
    void withFpga() { fpga = makeFpga(false); }
    static void key(uint32_t code, uint32_t data) { handle_key(message_s{tEV_KEY | code, data}); }
    int32_t pixelOffsetRegister(int channel) {
        return static_cast<int32_t>(model().registerValue(channel, 0x08));
    }
    int32_t lineOffsetRegister(int channel) {
        return static_cast<int32_t>(model().registerValue(channel, 0x09));
    }
};

TEST_F(AlignmentTest, FileMissingOneWarpKeyResetsTheSixWarpValuesOnly) {
    put("qlm-align.cfg",
        "[WARP]\nWarpPixelSourceOffsetLeft = 4\nWarpPixelSourceOffsetRight = -3\n"
        "WarpLineSourceOffsetLeft = 2\nWarpLineSourceOffsetRight = 1\nWarpRotationLeft = 0.4\n"
        "separation = 6\n[BACKLIGHT]\nBacklightScaleLeft = 55\nBacklightScaleRight = 70\n");
    WarpPixelSourceOffset[LEFT] = 9;
    WarpRotation[RIGHT] = 1;
    EXPECT_EQ(read_alignment_file("qlm-align.cfg"), 0);
    EXPECT_EQ(WarpPixelSourceOffset[LEFT], 0);
    EXPECT_EQ(WarpLineSourceOffset[LEFT], 0);
    EXPECT_EQ(WarpRotation[LEFT], 0.0f);
    EXPECT_EQ(WarpRotation[RIGHT], 0.0f);
    EXPECT_EQ(StereoSeparation, 6);
    EXPECT_EQ(backlightScale[LEFT], 55u);
    EXPECT_EQ(backlightScale[RIGHT], 70u);
    EXPECT_NE(log().find("MAIN: Reading Alignment File qlm-align.cfg\n"), std::string::npos);
    EXPECT_NE(log().find("MAIN: Reading Alignment File End\n"), std::string::npos);
}

TEST_F(AlignmentTest, MissingGroupsAndFileFallBackToStartValues) {
    put("a.cfg", "[WARP]\nWarpPixelSourceOffsetLeft = 4\nWarpPixelSourceOffsetRight = -3\n"
                 "WarpLineSourceOffsetLeft = 2\nWarpLineSourceOffsetRight = 1\nWarpRotationLeft = -1.4\n"
                 "WarpRotationRight = 0.2\n[BACKLIGHT]\nBacklightScaleLeft = 55\n");
    StereoSeparation = 3;
    backlightScale[LEFT] = 20;
    EXPECT_EQ(read_alignment_file("a.cfg"), 0);
    EXPECT_EQ(WarpPixelSourceOffset[RIGHT], -3);
    EXPECT_FLOAT_EQ(WarpRotation[LEFT], -1.4f);
    EXPECT_EQ(StereoSeparation, 0);
    EXPECT_EQ(backlightScale[LEFT], 100u) << "one scale missing resets both";
    EXPECT_EQ(read_alignment_file("none.cfg"), -2);
    EXPECT_EQ(WarpPixelSourceOffset[RIGHT], -3);
    EXPECT_NE(log().find("MAIN: ERROR: Alignment File does not exist"), std::string::npos);
}

TEST_F(AlignmentTest, ValuesOutsideTheKeysRangesAreLimited) {
    put("a.cfg", "[WARP]\nWarpPixelSourceOffsetLeft = 400\nWarpPixelSourceOffsetRight = -31\n"
                 "WarpLineSourceOffsetLeft = 2\nWarpLineSourceOffsetRight = 1\nWarpRotationLeft = 9\n"
                 "WarpRotationRight = nan\nseparation = -4\n[BACKLIGHT]\nBacklightScaleLeft = 0\n"
                 "BacklightScaleRight = 1000\n");
    EXPECT_EQ(read_alignment_file("a.cfg"), 0);
    EXPECT_EQ(WarpPixelSourceOffset[LEFT], 30);
    EXPECT_EQ(WarpPixelSourceOffset[RIGHT], -30);
    EXPECT_EQ(WarpRotation[LEFT], 2.0f);
    EXPECT_EQ(WarpRotation[RIGHT], 0.0f);
    EXPECT_EQ(StereoSeparation, 0);
    EXPECT_EQ(backlightScale[LEFT], 10u);
    EXPECT_EQ(backlightScale[RIGHT], 100u);
}

TEST_F(AlignmentTest, LeavingAlignmentModeAlwaysWritesTheFileWhole) {
    key(UKEY_ALIGN_MODE, 0);
    EXPECT_EQ(testing_support::readFile("qlm-align.cfg"),
              "[WARP]\nWarpPixelSourceOffsetLeft = 0\nWarpPixelSourceOffsetRight = "
              "0\nWarpLineSourceOffsetLeft = 0\n"
              "WarpLineSourceOffsetRight = 0\nWarpRotationLeft = 0\nWarpRotationRight = 0\nseparation = 0\n"
              "[BACKLIGHT]\nBacklightScaleLeft = 100\nBacklightScaleRight = 100\n");
    EXPECT_NE(log().find("MAIN: saving alignment data\n"), std::string::npos);
    EXPECT_NE(shellLog().find("sudo chmod 666 qlm-align.cfg\n"), std::string::npos);

    WarpPixelSourceOffset[RIGHT] = -7;
    WarpRotation[LEFT] = -1.4f;
    StereoSeparation = 2;
    backlightScale[RIGHT] = 35;
    key(UKEY_ALIGN_MODE, 0);
    std::string text = testing_support::readFile("qlm-align.cfg");
    EXPECT_NE(text.find("WarpPixelSourceOffsetRight = -7\n"), std::string::npos);
    EXPECT_NE(text.find("WarpRotationLeft = -1.4\n"), std::string::npos);
    EXPECT_NE(text.find("separation = 2\n"), std::string::npos);
    EXPECT_NE(text.find("BacklightScaleRight = 35\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("qlm-align.cfg.tmp"));
    // What was saved reads back the same.
    reset_controller_keys();
    ASSERT_EQ(read_alignment_file("qlm-align.cfg"), 0);
    EXPECT_EQ(WarpPixelSourceOffset[RIGHT], -7);
    EXPECT_FLOAT_EQ(WarpRotation[LEFT], -1.4f);
    EXPECT_EQ(backlightScale[RIGHT], 35u);
}

TEST_F(AlignmentTest, UnwritableFileIsReportedAndTheOldOneStays) {
    put("qlm-align.cfg", "old");
    std::filesystem::create_directory("qlm-align.cfg.tmp"); // blocks the temporary file
    key(UKEY_ALIGN_MODE, 0);
    EXPECT_EQ(testing_support::readFile("qlm-align.cfg"), "old");
    EXPECT_NE(log().find("MAIN: ERROR: MAIN: could not open alignment file"), std::string::npos);
}

TEST_F(AlignmentTest, ModeKeySetsTheFpgaSetUpMode) {
    withFpga();
    key(UKEY_ALIGN_MODE, 2);
    EXPECT_TRUE(fpga->icon(icon_divergentmode).visible);
    EXPECT_FALSE(std::filesystem::exists("qlm-align.cfg"));
    key(UKEY_ALIGN_MODE, 0);
    EXPECT_FALSE(fpga->icon(icon_divergentmode).visible);
    EXPECT_TRUE(std::filesystem::exists("qlm-align.cfg"));
}

TEST_F(AlignmentTest, FortyPressesRightStopAtThirtyWithoutSeparation) {
    withFpga();
    StereoSeparation = 5;
    for (int i = 0; i < 40; ++i) {
        key(UKEY_ALIGN_RIGHT, 0);
    }
    EXPECT_EQ(WarpPixelSourceOffset[LEFT], 30);
    EXPECT_EQ(pixelOffsetRegister(0), 30);
    EXPECT_NE(log().find("MAIN: Align Right, Pixel Offset 30\n"), std::string::npos);
    for (int i = 0; i < 61; ++i) {
        key(UKEY_ALIGN_LEFT, 3); // only the lowest bit picks the channel: right
    }
    EXPECT_EQ(WarpPixelSourceOffset[RIGHT], -30);
    EXPECT_EQ(pixelOffsetRegister(1), -30);
}

TEST_F(AlignmentTest, UpAndDownApplyTheSeparationAndIgnoreChannelsAboveOne) {
    withFpga();
    StereoSeparation = 4;
    WarpPixelSourceOffset[RIGHT] = 10;
    key(UKEY_ALIGN_UP, 1);
    EXPECT_EQ(lineOffsetRegister(1), 1);
    EXPECT_EQ(pixelOffsetRegister(1), 14);
    EXPECT_NE(log().find("MAIN: Align Up, Line Offset 1\nMAIN: Align Up, Left:Right Offset 0:1\n"),
              std::string::npos);
    key(UKEY_ALIGN_DOWN, 0);
    key(UKEY_ALIGN_DOWN, 0);
    EXPECT_EQ(lineOffsetRegister(0), -2);
    EXPECT_EQ(pixelOffsetRegister(0), -4);
    board().trace().clear();
    key(UKEY_ALIGN_UP, 2);
    key(UKEY_ALIGN_DOWN, 2);
    key(UKEY_ALIGN_RESET, 2);
    key(UKEY_ALIGN_ROTR, 2);
    key(UKEY_ALIGN_ROTL, 2);
    EXPECT_TRUE(transfers().empty());
    for (const char* ignored : {"UP ignored", "DOWN ignored", "ROTR ignored", "ROTL ignored", "ignored\n"}) {
        EXPECT_NE(log().find(std::string("MAIN: Alignment Keypress ") + ignored), std::string::npos)
            << ignored;
    }
}

TEST_F(AlignmentTest, RotationStopsAtTheLimit) {
    withFpga();
    WarpRotation[RIGHT] = 1.9f;
    key(UKEY_ALIGN_ROTR, 1);
    EXPECT_EQ(WarpRotation[RIGHT], 2.0f);
    EXPECT_NE(log().find("F: setDisplayRotation(2.0)\n"), std::string::npos);
    key(UKEY_ALIGN_ROTR, 1);
    EXPECT_EQ(WarpRotation[RIGHT], 2.0f);
    warp_rotation_step = 0.5f;
    WarpRotation[LEFT] = -1.8f;
    key(UKEY_ALIGN_ROTL, 0);
    EXPECT_EQ(WarpRotation[LEFT], -2.0f);
    EXPECT_FLOAT_EQ(fpga->warpRotation(LEFT), -2.0f);
}

TEST_F(AlignmentTest, ResetClearsTheChannelAndAppliesItWithSeparation) {
    withFpga();
    StereoSeparation = 3;
    WarpPixelSourceOffset[RIGHT] = 9;
    WarpLineSourceOffset[RIGHT] = -4;
    WarpRotation[RIGHT] = 1.2f;
    key(UKEY_ALIGN_RESET, 1);
    EXPECT_EQ(pixelOffsetRegister(1), 3);
    EXPECT_EQ(lineOffsetRegister(1), 0);
    EXPECT_EQ(fpga->warpRotation(RIGHT), 0.0f);
    EXPECT_NE(log().find("MAIN: Align Reset\n"), std::string::npos);
}

TEST_F(AlignmentTest, DivergenceKeysShiftBothEyesApart) {
    withFpga();
    WarpPixelSourceOffset[LEFT] = 1;
    WarpPixelSourceOffset[RIGHT] = -1;
    key(UKEY_DIVERGENT_IN, 0);
    EXPECT_EQ(StereoSeparation, 0);
    key(UKEY_DIVERGENT_OUT, 0);
    key(UKEY_DIVERGENT_OUT, 0);
    EXPECT_EQ(pixelOffsetRegister(0), -1);
    EXPECT_EQ(pixelOffsetRegister(1), 1);
    EXPECT_NE(
        log().find("MAIN: Align Diverge, Left Pixel Offset -1\nMAIN: Align Diverge, Right Pixel Offset 1\n"),
        std::string::npos);
    const size_t diverged = count(log(), "MAIN: Align Diverge");
    key(UKEY_DIVERGENT_RESET, 0);
    EXPECT_EQ(pixelOffsetRegister(0), 1);
    EXPECT_EQ(pixelOffsetRegister(1), -1);
    EXPECT_EQ(count(log(), "MAIN: Align Diverge"), diverged); // a reset applies without reporting
}

TEST_F(AlignmentTest, BacklightKeysGiveTheFpgaBothScales) {
    withFpga();
    key(UKEY_BRIGHTNESS_LEFT_DEC, 0);
    key(UKEY_BRIGHTNESS_RIGHT_DEC, 0);
    key(UKEY_BRIGHTNESS_RIGHT_DEC, 0);
    EXPECT_EQ(fpga->backlightScaling(LEFT), 99u);
    EXPECT_EQ(fpga->backlightScaling(RIGHT), 98u);
    key(UKEY_BRIGHTNESS_RESET, 0);
    EXPECT_EQ(fpga->backlightScaling(RIGHT), 100u);
    EXPECT_EQ(pixelOffsetRegister(0), 0) << "only the scales change";
}

} // namespace
