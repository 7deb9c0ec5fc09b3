// Display output control against the simulated FPGA: backlight, contrast table,
// sharpness, crosshair, blanking, 3D modes, sync polarity and the enables, asserted on
// the registers and the SPI traffic the FPGA saw.
#include <gtest/gtest.h>

#include "FpgaFixture.h"

namespace {

constexpr int kControl = 0x00;
constexpr int kBacklight = 0x01;
constexpr uint32_t kBlank = 1u << 11;
constexpr uint32_t kHSyncHigh = 1u << 14;
constexpr uint32_t kVSyncHigh = 1u << 15;

struct BacklightCase {
    unsigned percent;
    bool off;
    unsigned leftScale, rightScale;
    int channel;
    int left, right; // -1: not written
};

class BacklightTest : public FpgaTest, public testing::WithParamInterface<BacklightCase> {};

TEST_P(BacklightTest, LevelFollowsPercentScaleAndChannel) {
    const BacklightCase& c = GetParam();
    auto fpga = makeFpga(false);
    model().setRegister(0, kBacklight, 77);
    model().setRegister(1, kBacklight, 77);
    fpga->setBacklightScaling(c.leftScale, c.rightScale);
    fpga->setBacklightBrightness(c.channel, c.percent, c.off);
    EXPECT_EQ(model().registerValue(0, kBacklight), uint32_t(c.left < 0 ? 77 : c.left));
    EXPECT_EQ(model().registerValue(1, kBacklight), uint32_t(c.right < 0 ? 77 : c.right));
}

INSTANTIATE_TEST_SUITE_P(Levels, BacklightTest,
                         testing::Values(BacklightCase{100, false, 100, 100, LEFTandRIGHT, 255, 255},
                                         BacklightCase{100, false, 50, 100, LEFTandRIGHT, 127, 255},
                                         BacklightCase{0, false, 100, 100, LEFTandRIGHT, 6, 6},
                                         BacklightCase{50, false, 100, 10, RIGHT, -1, 13},
                                         BacklightCase{101, false, 100, 100, LEFTandRIGHT, 0, 0},
                                         BacklightCase{80, true, 100, 100, LEFT, 0, -1}));

struct ContrastCase {
    unsigned percent;
    int index, entry;
};

class ContrastTest : public FpgaTest, public testing::WithParamInterface<ContrastCase> {};

TEST_P(ContrastTest, TableEntryIsGreyAndOnBothChannels) {
    auto fpga = makeFpga(false);
    fpga->setContrast(LEFTandRIGHT, static_cast<uint8_t>(GetParam().percent));
    const uint32_t grey = uint32_t(GetParam().entry) * 0x10101;
    EXPECT_EQ(model().lutEntry(0, GetParam().index), grey);
    EXPECT_EQ(model().lutEntry(1, GetParam().index), grey);
}

INSTANTIATE_TEST_SUITE_P(Entries, ContrastTest,
                         testing::Values(ContrastCase{100, 85, 0}, ContrastCase{100, 86, 3},
                                         ContrastCase{100, 170, 252}, ContrastCase{100, 171, 255},
                                         ContrastCase{0, 0, 85}, ContrastCase{0, 255, 170},
                                         ContrastCase{150, 85, 0}, ContrastCase{150, 171, 255}));

TEST_F(FpgaTest, HalfContrastIsTheIdentityAndFullContrastSaturates) {
    auto fpga = makeFpga(false);
    fpga->setContrast(LEFT, 50);
    fpga->setContrast(RIGHT, 100);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(model().lutEntry(0, i), uint32_t(i) * 0x10101) << i;
        uint32_t right = model().lutEntry(1, i) & 0xFF;
        if (i <= 85) {
            EXPECT_EQ(right, 0u) << i;
        } else if (i >= 171) {
            EXPECT_EQ(right, 255u) << i;
        } else {
            EXPECT_GT(right, model().lutEntry(1, i - 1) & 0xFF) << i;
        }
    }
    EXPECT_EQ(fpga->contrastPercent(), 100u);
}

TEST_F(FpgaTest, SharpnessAboveFiveIsStoredButNeverWrittenEvenAtWakeUp) {
    auto fpga = makeFpga(false);
    fpga->setSharpness(3);
    EXPECT_EQ(model().registerValue(0, 0x0F), 3u);
    EXPECT_EQ(model().registerValue(1, 0x0F), 3u);
    board().trace().clear();
    fpga->setSharpness(6);
    EXPECT_EQ(fpga->sharpness(), 6u);
    EXPECT_TRUE(transfers().empty());
    fpga->wake_up();
    for (auto& t : transfers()) {
        EXPECT_NE(t.out[0] & 0x7F, 0x0F);
    }
    EXPECT_EQ(model().registerValue(0, 0x0F), 3u);
}

TEST_F(FpgaTest, CrosshairSizeCodesAndColour) {
    auto fpga = makeFpga(false);
    const std::pair<unsigned, uint32_t> codes[] = {{1, 3}, {2, 1}, {0, 0}, {7, 0}};
    for (auto [size, code] : codes) {
        fpga->setCrosshairSize(size);
        EXPECT_EQ(model().registerValue(0, 0x0D), code) << size;
        EXPECT_EQ(model().registerValue(1, 0x0D), code) << size;
    }
    fpga->setCrosshairColour(0xF8FC00);
    EXPECT_EQ(model().registerValue(0, 0x0E), 0xF8FC00u);
    EXPECT_EQ(model().registerValue(1, 0x0E), 0xF8FC00u);
}

TEST_F(FpgaTest, BlankingAnAlreadyBlankedChannelWritesNothing) {
    auto fpga = makeFpga(false);
    fpga->setScreenBlanking(LEFT, true);
    EXPECT_TRUE(model().registerValue(0, kControl) & kBlank);
    EXPECT_FALSE(model().registerValue(1, kControl) & kBlank);
    board().trace().clear();
    fpga->setScreenBlanking(LEFT, true);
    EXPECT_TRUE(transfers().empty());
    fpga->setScreenBlanking(LEFTandRIGHT, true); // only the right one changes
    auto t = transfers();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].out[0], 0x80);
    EXPECT_TRUE(model().registerValue(1, kControl) & kBlank);
    fpga->setScreenBlanking(LEFTandRIGHT, false);
    EXPECT_FALSE(model().registerValue(0, kControl) & kBlank);
    EXPECT_FALSE(model().registerValue(1, kControl) & kBlank);
}

TEST_F(FpgaTest, ThreeDModesTakeTwoBitsOnBothChannelsLeftFirst) {
    auto fpga = makeFpga(false);
    fpga->set3DMode(6);
    fpga->setOutput3DMode(5);
    for (int c = 0; c < 2; ++c) {
        uint32_t control = model().registerValue(c, kControl);
        EXPECT_EQ((control >> 9) & 3, 2u);
        EXPECT_EQ((control >> 12) & 3, 1u);
    }
    board().trace().clear();
    fpga->set3DMode(0);
    auto t = transfers();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].out[0], 0x00);
    EXPECT_EQ(t[1].out[0], 0x80);
}

struct SyncCase {
    uint32_t hHigh, hLow, vHigh, vLow;
    bool hActiveHigh, vActiveHigh;
};

class SyncPolarityTest : public FpgaTest, public testing::WithParamInterface<SyncCase> {};

TEST_P(SyncPolarityTest, TheLeftInputsShortPulseSetsBothChannels) {
    const SyncCase& c = GetParam();
    auto fpga = makeFpga(false);
    model().setSyncTimes(0, c.hHigh, c.hLow, c.vHigh, c.vLow);
    // The right input measures the opposite: it is logged, not applied.
    model().setSyncTimes(1, c.hLow, c.hHigh, c.vLow, c.vHigh);
    fpga->syncPolarityUpdate();
    for (int ch = 0; ch < 2; ++ch) {
        uint32_t control = model().registerValue(ch, kControl);
        EXPECT_EQ(bool(control & kHSyncHigh), c.hActiveHigh) << ch;
        EXPECT_EQ(bool(control & kVSyncHigh), c.vActiveHigh) << ch;
    }
    EXPECT_NE(log().find(std::string("F  LEFT: Vsync ") + (c.vActiveHigh ? "HIGH" : " LOW")),
              std::string::npos)
        << log();
}

INSTANTIATE_TEST_SUITE_P(Timings, SyncPolarityTest,
                         testing::Values(SyncCase{44, 2156, 11000, 2464000, true, true},
                                         SyncCase{2156, 44, 11000, 2464000, false, true},
                                         SyncCase{44, 2156, 2464000, 11000, true, false},
                                         SyncCase{0, 0, 0, 0, false, false}));

TEST_F(FpgaTest, SyncUpdateWarnsOfABadMagicNibbleAndGoesOn) {
    model().command({"fpga", "status-stuck", "0x0F"});
    auto fpga = makeFpga(false);
    fpga->syncPolarityUpdate();
    EXPECT_NE(log().find("F  LEFT: read FPGA magic 4-bits, expected 0xA, got 0x0"), std::string::npos);
    EXPECT_NE(log().find("F RIGHT: Vsync"), std::string::npos);
}

TEST_F(FpgaTest, HdmiOutputIsWrittenOnlyWhenItsBitChanges) {
    auto fpga = makeFpga(false);
    board().trace().clear();
    fpga->enableHDMITx(RIGHT, 2); // bit 0 clear: as it is
    EXPECT_TRUE(transfers().empty());
    fpga->enableHDMITx(RIGHT, 3);
    auto t = transfers();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].out[0], 0x80);
    EXPECT_TRUE(model().registerValue(1, kControl) & (1u << 5));
    EXPECT_FALSE(model().registerValue(0, kControl) & (1u << 5));
}

TEST_F(FpgaTest, PiVideoAndOverlayEnablesCopyTheLeftWordToTheRight) {
    auto fpga = makeFpga(false);
    fpga->setScreenBlanking(RIGHT, true);
    fpga->enablePiVideo(true);
    EXPECT_EQ(model().registerValue(1, kControl), model().registerValue(0, kControl));
    EXPECT_TRUE(model().registerValue(0, kControl) & (1u << 7));
    EXPECT_FALSE(model().registerValue(1, kControl) & kBlank);
    fpga->enableVideoOverlay(true);
    EXPECT_TRUE(model().registerValue(1, kControl) & (1u << 6));
    fpga->enablePiVideo(false);
    EXPECT_FALSE(model().registerValue(1, kControl) & (1u << 7));
    EXPECT_TRUE(model().registerValue(1, kControl) & (1u << 6));
}

TEST_F(FpgaTest, WakeUpReappliesTheOverlayAndOutputShadows) {
    auto fpga = makeFpga(false);
    fpga->setGUIbgcolour(0x008080);
    fpga->setMenubgcolour(0xFF8000);
    fpga->setMenubgtransparency(50);
    fpga->setGUIPosition(4);
    fpga->setCrosshairColour(0x00FC00);
    fpga->setCrosshairSize(1);
    fpga->setContrast(LEFTandRIGHT, 100);
    fpga->setSharpness(2);
    const int regs[] = {0x02, 0x03, 0x04, 0x05, 0x07, 0x0D, 0x0E, 0x0F};
    uint32_t before[2][8];
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < 8; ++i) {
            before[c][i] = model().registerValue(c, regs[i]);
        }
    }
    const uint32_t lut = model().lutEntry(1, 100);
    board().powerCycle();
    leaveResetReleased();
    fpga->wake_up();
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(model().registerValue(c, regs[i]), before[c][i]) << c << " reg " << regs[i];
        }
    }
    EXPECT_EQ(model().lutEntry(1, 100), lut);
    EXPECT_EQ(model().overlayPixel(0, 960, 540), 0x0410);
}

} // namespace
