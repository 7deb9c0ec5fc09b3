// ostrixFpga register access and bring-up against the simulated display FPGA.
#include <gtest/gtest.h>

#include "FpgaFixture.h"

namespace {

constexpr uint32_t kHdmiRxWarpLcd = 0x16; // EnableHDMIRx | EnableWarp | LCDOutputEnable

TEST_F(FpgaTest, ConfiguredFpgaIsNeitherReconfiguredNorReprogrammed) {
    auto fpga = makeFpga();
    EXPECT_NE(log().find("F: FPGA already configured\n"), std::string::npos);
    EXPECT_EQ(log().find("F: nCONFIG Low"), std::string::npos);
    EXPECT_EQ(log().find("F: Looking for"), std::string::npos);
    EXPECT_EQ(shellLog().find("qflashprog"), std::string::npos);
    // Reset released, DDR up and both memory tests passed on the way.
    EXPECT_NE(log().find("F: Reset() done\n"), std::string::npos);
    EXPECT_EQ(log().find("FAILED"), std::string::npos);
}

TEST_F(FpgaTest, ConstructionKeepsReadbackBitsAndWritesControlAndFrameStoreEnables) {
    // Upper bits and zoom/blank set in the FPGA's current control words.
    model().setRegister(0, 0x00, 0xABCD0900);
    model().setRegister(1, 0x00, 0x12340801);
    model().setRegister(0, 0x02, 0x05FFEEDD);
    auto fpga = makeFpga(false);
    EXPECT_EQ(model().registerValue(0, 0x00), 0xABCD0000u | kHdmiRxWarpLcd);
    EXPECT_EQ(model().registerValue(1, 0x00), 0x12340001u | kHdmiRxWarpLcd);
    EXPECT_EQ(fpga->controlShadow(LEFT).word, 0xABCD0000u | kHdmiRxWarpLcd);
    EXPECT_EQ(fpga->overlayShadow(LEFT).word, 0x05FFEEDDu);
    EXPECT_EQ(model().registerValue(0, 0x0C), 0x000F000Fu);
    EXPECT_EQ(model().registerValue(1, 0x0C), 0x000F000Fu);
    EXPECT_EQ(fpga->warpFolder(), "./warp/");
    EXPECT_EQ(fpga->pngCompression(), 9);
    EXPECT_EQ(fpga->backlightScaling(RIGHT), 100u);
}

struct SpeedCase {
    unsigned version;
    bool valid;
    std::vector<std::string> notes;
};

class FpgaSpeedTest : public FpgaTest, public testing::WithParamInterface<SpeedCase> {
    void configure(sim::BoardBuilder& b) override { b.withFpgaVersion(GetParam().version); }
};

TEST_P(FpgaSpeedTest, VersionChoosesTheSpiClock) {
    leaveResetReleased();
    board().trace().clear();
    ostrixFpga fpga("x.jic", false);
    EXPECT_EQ(fpga.versionValid(), GetParam().valid);
    auto notes = spiNotes();
    EXPECT_EQ(notes, GetParam().notes);
    // The version read itself: one 5-byte transfer, answered in bytes 1..4.
    auto first = transfers().at(0);
    EXPECT_EQ(first.out, bytes({0x7F, 0, 0, 0, 0}));
    EXPECT_EQ(first.in[4], GetParam().version & 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Versions, FpgaSpeedTest,
                         testing::Values(SpeedCase{30, true, {"setup 16000000 Hz"}},
                                         SpeedCase{
                                             31, true, {"setup 16000000 Hz", "close", "setup 32000000 Hz"}},
                                         SpeedCase{0xFF, false, {"setup 16000000 Hz"}}));

TEST_F(FpgaTest, ThirtyTwoBitAccessIsOneFiveByteTransferMsbFirst) {
    auto fpga = makeFpga(false);
    fpga->readwriteReg32(WARP_PIXEL_SOURCE_OFFSET_REG(RIGHT), 0x12345678);
    EXPECT_EQ(model().registerValue(1, 0x08), 0x12345678u);
    EXPECT_EQ(model().registerValue(0, 0x08), 0u);
    EXPECT_EQ(fpga->readwriteReg32(SR_FPGA_REV, 0), 31u);
    auto t = transfers();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].out, bytes({0x88, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(t[1].out, bytes({0x7F, 0, 0, 0, 0}));
    EXPECT_EQ(t[1].in, bytes({0, 0, 0, 0, 31}));
}

TEST_F(FpgaTest, Reg128WritesOneSeventeenByteTransferAndReadsFourFiveByteTransfers) {
    auto fpga = makeFpga(false);
    fpga->readwriteReg32(DR_WRITE_ADDRESS_REG(LEFT), 0x2123456);
    const uint32_t words[4] = {0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00};
    fpga->writeReg128(DR_DATA_REG_0(LEFT), words);
    for (int lane = 0; lane < 4; ++lane) {
        EXPECT_EQ(model().ddrWord(0, 0x2123456, lane), words[lane]);
    }
    fpga->readwriteReg32(DR_READ_ADDRESS_REG(LEFT), 0x2123456);
    board().trace().clear();
    uint32_t back[4] = {};
    fpga->readReg128(DR_DATA_REG_0(LEFT), back);
    EXPECT_EQ(std::vector<uint32_t>(back, back + 4), std::vector<uint32_t>(words, words + 4));
    auto t = transfers();
    ASSERT_EQ(t.size(), 4u);
    for (const auto& e : t) {
        EXPECT_EQ(e.out.size(), 5u);
        EXPECT_EQ(e.out[0], 0x14);
    }
}

TEST_F(FpgaTest, LineBurstsRoundTripThroughTheFrameStore) {
    auto fpga = makeFpga(false);
    fpga->frameStoreInputEnable(0); // no live video over the stored line
    std::vector<uint32_t> line(FRAME_STORE_LINE_LEN);
    for (size_t i = 0; i < line.size(); ++i) {
        line[i] = 0xA5000000u + static_cast<uint32_t>(i);
    }
    fpga->readwriteReg32(DR_WRITE_ADDRESS_REG(RIGHT), 512 * 7);
    board().trace().clear();
    fpga->writeVideoLineWords(RIGHT, line.data());
    auto t = transfers();
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[0].out.size(), 961u);
    EXPECT_EQ(t[0].out[0], 0x94);
    std::vector<uint32_t> back(FRAME_STORE_LINE_LEN);
    fpga->readVideoLine(RIGHT, 512 * 7, 7, back.data());
    EXPECT_EQ(back, line);
    // Out-of-range channels move nothing.
    board().trace().clear();
    fpga->writeVideoLineWords(LEFTandRIGHT, line.data());
    fpga->readVideoLine(LEFTandRIGHT, 0, 0, back.data());
    EXPECT_TRUE(transfers().empty());
}

TEST_F(FpgaTest, HalfLinesOfOverlayWordsUse241ByteTransfersAndReadBackAs481) {
    auto fpga = makeFpga(false);
    std::vector<uint16_t> half(FRAME_STORE_LINE_LEN / 2), full(FRAME_STORE_LINE_LEN);
    for (size_t i = 0; i < half.size(); ++i) {
        half[i] = static_cast<uint16_t>(0xF000 + i);
    }
    fpga->readwriteReg32(DR_WRITE_ADDRESS_REG(LEFT), DDR_ADDR_OVERLAY_BUFFER);
    board().trace().clear();
    fpga->writeHalfVideoLineWords16(LEFT, half.data());
    fpga->writeHalfVideoLineWords16(LEFT, half.data());
    auto t = transfers();
    ASSERT_EQ(t.size(), 16u);
    EXPECT_EQ(t[0].out.size(), 241u);
    fpga->readOverlayLine(LEFT, DDR_ADDR_OVERLAY_BUFFER, 0, full.data());
    EXPECT_EQ(transfers().back().out.size(), 481u);
    EXPECT_EQ(full[0], 0xF000);
    EXPECT_EQ(full[959], 0xF000 + 959);
    EXPECT_EQ(full[960], 0xF000);
}

TEST_F(FpgaTest, BothChannelOperationsWriteLeftBeforeRight) {
    auto fpga = makeFpga(false);
    fpga->setEnableWarp(LEFTandRIGHT, false);
    auto t = transfers();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].out[0], 0x00);
    EXPECT_EQ(t[1].out[0], 0x80);
    EXPECT_FALSE(fpga->controlShadow(LEFT).bits.EnableWarp);
    EXPECT_EQ(model().registerValue(1, 0) & 0x4u, 0u);

    board().trace().clear();
    fpga->VideoReset(LEFTandRIGHT);
    std::vector<std::pair<int, uint32_t>> seen;
    for (auto& e : transfers()) {
        seen.emplace_back(e.out[0], e.out[4]);
    }
    const uint32_t base = fpga->controlShadow(LEFT).word;
    std::vector<std::pair<int, uint32_t>> expected = {{0x00, (base | 1) & 0xFF},
                                                      {0x80, (fpga->controlShadow(RIGHT).word | 1) & 0xFF},
                                                      {0x00, base & 0xFF},
                                                      {0x80, fpga->controlShadow(RIGHT).word & 0xFF},
                                                      {0x5F, 1},
                                                      {0x5F, 0},
                                                      {0xDF, 1},
                                                      {0xDF, 0}};
    EXPECT_EQ(seen, expected);
}

TEST_F(FpgaTest, VideoResetOfOneChannelTouchesOnlyIt) {
    auto fpga = makeFpga(false);
    fpga->VideoReset(RIGHT);
    for (auto& e : transfers()) {
        EXPECT_TRUE(e.out[0] & 0x80) << sim::formatEntry(e);
    }
}

TEST_F(FpgaTest, PiWatchdogResetsOnThirdUnchangedCountAndKeepsResetting) {
    auto fpga = makeFpga(false);
    // Let a frame arrive so the count is not the watchdog's starting value.
    while (fpga->readwriteReg32(PI_RX_FRAME_COUNT, 0) == 0) {
        delay(5);
    }
    model().stallPiVideo(true);
    fpga->checkPiDisplay(); // count moved from 0: remembered
    fpga->checkPiDisplay();
    fpga->checkPiDisplay();
    EXPECT_EQ(model().mipiResets(), 0u);
    fpga->checkPiDisplay(); // third call with the same count
    EXPECT_EQ(model().mipiResets(), 1u);
    fpga->checkPiDisplay();
    EXPECT_EQ(model().mipiResets(), 2u);
    EXPECT_NE(log().find("Applying reset to mipi reciever. PiFrameCount = "), std::string::npos);
    model().stallPiVideo(false);
    uint32_t frozen = fpga->readwriteReg32(PI_RX_FRAME_COUNT, 0);
    while (fpga->readwriteReg32(PI_RX_FRAME_COUNT, 0) == frozen) {
        delay(5);
    }
    fpga->checkPiDisplay();
    EXPECT_EQ(fpga->stuckFrames(), 0u);
    EXPECT_EQ(model().mipiResets(), 2u);
}

TEST_F(FpgaTest, ShiftIsWrittenAsSignedWordsAndWakeUpReappliesGeometry) {
    auto fpga = makeFpga(false);
    fpga->setDisplayShift(LEFT, -5, 7);
    auto t = transfers();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].out, bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFB}));
    EXPECT_EQ(t[1].out, bytes({0x09, 0, 0, 0, 7}));
    fpga->setDisplayShift(LEFTandRIGHT, 1, 1); // not a single channel: nothing
    EXPECT_EQ(transfers().size(), 2u);

    // Standby lost the registers; wake-up writes them back from the shadows.
    model().setRegister(0, 0x08, 0);
    model().setRegister(0, 0x09, 0);
    model().setRegister(0, 0x0C, 0);
    fpga->wake_up();
    EXPECT_EQ(model().registerValue(0, 0x08), 0xFFFFFFFBu);
    EXPECT_EQ(model().registerValue(0, 0x09), 7u);
    EXPECT_EQ(model().registerValue(0, 0x0C), 0x000F000Fu);
    EXPECT_NE(log().find("F: Warp DDR Checks complete\n"), std::string::npos);
}

TEST_F(FpgaTest, OptionSettersClampAndStore) {
    auto fpga = makeFpga(false);
    fpga->setPngCompression(12);
    EXPECT_EQ(fpga->pngCompression(), 9);
    fpga->setPngCompression(-1);
    EXPECT_EQ(fpga->pngCompression(), 0);
    fpga->setSaveImageOrientation(true, false);
    EXPECT_TRUE(fpga->horizontalInvert());
    EXPECT_FALSE(fpga->verticalInvert());
    fpga->setBacklightScaling(40, 90);
    EXPECT_EQ(fpga->backlightScaling(LEFT), 40u);
    EXPECT_EQ(fpga->backlightScaling(RIGHT), 90u);
    EXPECT_TRUE(transfers().empty());
}

TEST_F(FpgaTest, AlignmentModesSwapTheSetUpIcons) {
    auto fpga = makeFpga(false);
    fpga->alignmentmode(1);
    EXPECT_TRUE(fpga->icon(icon_alignmentmode).visible);
    fpga->alignmentmode(2);
    EXPECT_FALSE(fpga->icon(icon_alignmentmode).visible);
    EXPECT_TRUE(fpga->icon(icon_divergentmode).visible);
    fpga->alignmentmode(3);
    EXPECT_FALSE(fpga->icon(icon_divergentmode).visible);
    EXPECT_TRUE(fpga->icon(icon_brightnessmode).visible);
    fpga->alignmentmode(1);
    EXPECT_FALSE(fpga->icon(icon_brightnessmode).visible);
    fpga->alignmentmode(0);
    for (int i = icon_alignmentmode; i <= icon_brightnessmode; ++i) {
        EXPECT_FALSE(fpga->icon(i).visible);
    }
    EXPECT_FALSE(fpga->icon(icon_magnifier).visible);
}

// ---- Bring-up faults ----

class FpgaMemTestFailTest : public FpgaTest {
    void configure(sim::BoardBuilder& b) override { b.withFpgaMemTestFailing("right"); }
};

TEST_F(FpgaMemTestFailTest, FailedMemoryTestIsReportedAndBringUpGoesOn) {
    auto fpga = makeFpga();
    EXPECT_NE(log().find("F: ERROR: Memory Test RIGHT FAILED"), std::string::npos);
    EXPECT_EQ(log().find("Memory Test LEFT FAILED"), std::string::npos);
    EXPECT_NE(log().find("F: Constructor complete\n"), std::string::npos);
}

class FpgaOldVersionTest : public FpgaTest {
    void configure(sim::BoardBuilder& b) override { b.withFpgaVersion(14); }
};

TEST_F(FpgaOldVersionTest, VersionsBeforeFifteenHaveNoMemoryTest) {
    auto fpga = makeFpga(false);
    EXPECT_EQ(fpga->waitMemoryTestComplete(LEFT), 1);
    for (auto& e : transfers()) {
        EXPECT_NE(e.out[0], 0x30) << "no status poll expected";
    }
}

class FpgaDdrNeverReadyTest : public FpgaTest {
    void configure(sim::BoardBuilder& b) override { b.withFpgaDdrNeverReady(); }
};

TEST_F(FpgaDdrNeverReadyTest, DdrWaitTimesOutWithAnError) {
    auto fpga = makeFpga(false);
    EXPECT_EQ(fpga->waitDDRInitDone(), -1);
    EXPECT_NE(log().find("F: ERROR: Timeout waiting for DDR Initialisation"), std::string::npos);
    EXPECT_NE(log().find("F: waitDDRInitDone() RIGHT status = a000"), std::string::npos);
}

class FpgaStatusStuckTest : public FpgaTest {
    void configure(sim::BoardBuilder& b) override { b.withFpgaStatusStuck(0x0A); }
};

TEST_F(FpgaStatusStuckTest, CalibratedWithoutPllLockEndsTheProcess) {
    auto fpga = makeFpga(false);
    EXPECT_EXIT(fpga->waitDDRInitDone(), testing::ExitedWithCode(1), "");
}

class FpgaUnconfiguredTest : public FpgaTest {
    void configure(sim::BoardBuilder& b) override { b.withFpgaConfigurationFailing(); }
};

TEST_F(FpgaUnconfiguredTest, ConfigurationTimeoutFallsBackToReprogrammingTheFlash) {
    // A stand-in flash programmer that records how it was called.
    testing_support::writeFile(home() + "/qflashprog", "#!/bin/sh\necho \"$@\" > qflashprog.args\n");
    std::filesystem::permissions(home() + "/qflashprog", std::filesystem::perms::owner_all);
    testing_support::writeFile(home() + "/my image.jic", "image");
    leaveResetReleased();
    ostrixFpga fpga("my image.jic", false);
    std::string l = log();
    EXPECT_NE(l.find("F: nCONFIG Low\nF: nCONFIG High\n"), std::string::npos);
    EXPECT_NE(
        l.find("F: fpga reconfiguration timeout\nF: Reprogram FPGA PROM\nF: Looking for my image.jic\n"),
        std::string::npos);
    EXPECT_EQ(testing_support::readFile(home() + "/qflashprog.args"), "-p my image.jic\n");
    // Nothing answers on the bus of an unconfigured FPGA.
    EXPECT_FALSE(fpga.versionValid());
}

TEST_F(FpgaUnconfiguredTest, MissingFlashProgrammerIsReportedAsAFailure) {
    testing_support::writeFile(home() + "/vp.jic", "image");
    auto fpgaLess = [&] {
        leaveResetReleased();
        ostrixFpga fpga("vp.jic", false);
    };
    fpgaLess();
    EXPECT_NE(log().find("F: ERROR: qflashprog failed with status"), std::string::npos);
}

TEST_F(FpgaTest, ReconfigurePulsesNConfigAndWaitsForConfDone) {
    // The FPGA lost its configuration (nCONFIG held low by someone): CONF_DONE is low.
    pinMode(CFG_nCONFIG_Pin, OUTPUT);
    digitalWrite(CFG_nCONFIG_Pin, LOW);
    ASSERT_EQ(digitalRead(CFG_CONF_DONE_Pin), LOW);
    leaveResetReleased();
    ostrixFpga fpga("vp.jic", false);
    std::string l = log();
    EXPECT_NE(l.find("F: nCONFIG High\n"), std::string::npos);
    EXPECT_NE(l.find("F: reconfigured\n"), std::string::npos);
    EXPECT_EQ(l.find("F: Reprogram FPGA PROM"), std::string::npos);
    EXPECT_EQ(digitalRead(CFG_CONF_DONE_Pin), HIGH);
    EXPECT_TRUE(fpga.versionValid());
}

} // namespace
