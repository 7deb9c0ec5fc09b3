#include <gtest/gtest.h>

#include <algorithm>

#include "CameraFixture.h"

using camera_testing::CameraTest;
using sim::CameraFault;

namespace {

std::string gg(uint32_t r, uint32_t g, uint32_t b) {
    char text[64];
    snprintf(text, sizeof text, "GG %08x %08x %08x", r, g, b);
    return text;
}

// ---- Command texts ------------------------------------------------------------------

TEST_F(CameraTest, SettingCommandsTravelInTheirExactFormat) {
    camera().setGain(5);
    camera().setGain(300);
    camera().setExposureTime(0xAB);
    camera().setBlackLevel(7);
    camera().setSharpness(0x1F);
    camera().setContrast(16);
    camera().invertHorizontalOutput(true);
    camera().invertVerticalOutput(false);
    camera().setShutterPosition(0x1FF); // sent as one byte
    camera().setShutterAutobrightness(false);
    camera().setAutobrightnessReferenceFrame();
    camera().setChromaAutoCorrect(true);
    camera().setHDRmode(2);
    camera().setHDRratio(0x1a);
    camera().setHDRexposure(0x1234);
    camera().setHDRGammaIndex(0x0c);
    camera().setHDRColourEnhancement(3);
    std::vector<std::string> expected = {
        "$CG 05\n",  "$CG 12C\n", "$CE AB\n",        "$CB 07\n",  "$CS 1F\n", "$CC 10\n",
        "$CH 01\n",  "$CV 00\n",  "$UI ff\n",        "$UHE 0\n",  "$UHC 0\n", "$GA 01\n",
        "$CDM 02\n", "$CDR 1a\n", "$CDE 00002468\n", "$CDG 0c\n", "$CDC 03\n"};
    EXPECT_EQ(lines(), expected);
    sim::CameraSettings s = model().settings();
    EXPECT_EQ(s.gain, 300u);
    EXPECT_EQ(s.shutterPosition, 0xFFu);
    EXPECT_EQ(s.hdrExposure, 0x2468u);
    EXPECT_EQ(s.referenceFrames, 1u);
    std::string text = log();
    EXPECT_NE(text.find("CB:setGain 300\n"), std::string::npos);
    EXPECT_NE(text.find("CB: invertHorizontalOutput 1\n"), std::string::npos);
    EXPECT_NE(text.find("CB: SetShutterPosition 511\n"), std::string::npos);
    EXPECT_NE(text.find("CB: Set HDR Mode OK\n"), std::string::npos);
}

TEST_F(CameraTest, NegativeValuesTravelAsTwosComplementAndNegativeHdrValuesStayHome) {
    camera().setColourCorrectionWhiteBalance(-1, 256, 0);
    camera().setColourCorrectionBlackLevel(1, -2, 3);
    camera().setColourCorrectionMatrix({256, -16, 0, 0, 256, 0, 0, 0, 256});
    EXPECT_EQ(camera().setHDRGammaIndex(-1), CMD_OK);
    EXPECT_EQ(camera().setHDRColourEnhancement(-5), CMD_OK);
    EXPECT_EQ(camera().setColourCorrectionMatrix({1, 2, 3}), CMD_INVALID_PARAM);
    std::vector<std::string> expected = {
        "GL ffffffff 00000100 00000000", "GN 00000001 fffffffe 00000003",
        "GM 00000100 fffffff0 00000000 00000000 00000100 00000000 00000000 00000000 00000100"};
    EXPECT_EQ(commands(), expected);
    sim::CameraSettings s = model().settings();
    EXPECT_EQ(s.ccWhiteBalance[0], -1);
    EXPECT_EQ(s.ccMatrix[1], -16);
}

TEST_F(CameraTest, AcknowledgedSettingsNeedExactlyOkPlainExchangesAnyReply) {
    model().overrideReply("CB", "DONE", 1);
    EXPECT_EQ(camera().setBlackLevel(9), CMD_FAILED);
    model().overrideReply("GA", "DONE", 1);
    EXPECT_EQ(camera().setChromaAutoCorrect(true), CMD_OK);
    model().setFault(CameraFault::Bad);
    EXPECT_EQ(camera().setChromaAutoCorrect(true), CMD_FAILED);
    EXPECT_EQ(camera().setHDRmode(1), CMD_FAILED);
    EXPECT_NE(log().find("CB: Set HDR Mode FAIL\n"), std::string::npos);
}

TEST_F(CameraTest, LastBlackLevelAndContrastFollowOnlyAcceptedValues) {
    EXPECT_EQ(camera().setBlackLevel(4), CMD_OK);
    EXPECT_EQ(camera().setContrast(6), CMD_OK);
    model().setFault(CameraFault::Bad);
    EXPECT_EQ(camera().setBlackLevel(40), CMD_FAILED);
    EXPECT_EQ(camera().setContrast(60), CMD_FAILED);
    EXPECT_EQ(camera().get_last_black_level(), 4u);
    EXPECT_EQ(camera().get_last_contrast(), 6u);
    // The requested values are kept for the next wake-up all the same.
    model().setFault(CameraFault::None);
    clearLines();
    camera().wake_up(false);
    std::vector<std::string> sent = commands();
    EXPECT_NE(std::find(sent.begin(), sent.end(), "CB 28"), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), "CC 3C"), sent.end());
}

// ---- Colour gains ----------------------------------------------------------------------

TEST_F(CameraTest, ColourGainStepsMapToTheExponentialTable) {
    const uint32_t table[11] = {0, 28, 49, 84, 147, 256, 446, 776, 1351, 2353, 4095};
    for (uint32_t step = 0; step <= 10; ++step) {
        clearLines();
        ASSERT_EQ(camera().setColourGain(CameraBoard::GREEN, step), CMD_OK);
        ASSERT_EQ(commands().size(), 1u);
        EXPECT_EQ(commands()[0], gg(256, table[step], 256)) << "step " << step;
    }
    EXPECT_EQ(model().settings().colourGains[1], 4095u);
}

TEST_F(CameraTest, UnityColourGainsAndOutOfRangeSteps) {
    EXPECT_EQ(camera().setColourGain(CameraBoard::RED, 5), CMD_OK);
    EXPECT_EQ(camera().setColourGain(CameraBoard::GREEN, 11), CMD_FAILED);
    EXPECT_EQ(camera().setColourGain(static_cast<CameraBoard::PRIMARIES>(3), 5), CMD_INVALID_PARAM);
    EXPECT_EQ(commands(), std::vector<std::string>{"GG 00000100 00000100 00000100"});
    EXPECT_NE(log().find("CB: red gain 256.000000\n"), std::string::npos);
    // The refused step left the remembered one alone.
    clearLines();
    camera().setColourGain(CameraBoard::BLUE, 0);
    EXPECT_EQ(commands(), std::vector<std::string>{gg(256, 256, 0)});
}

// ---- White balance ---------------------------------------------------------------------

TEST_F(CameraTest, WhiteBalanceBeforeAnyResultSendsNothing) {
    EXPECT_EQ(camera().setWhiteBalance(), CMD_BAD);
    EXPECT_TRUE(lines().empty());
    EXPECT_NE(log().find("CB: White balance settings not valid\n"), std::string::npos);
}

TEST_F(CameraTest, AutomaticWhiteBalanceResultIsKeptAndResent) {
    model().setWhiteBalanceResult(true, 0x1A2, 0x100, 0x0F3);
    uint16_t valid = 0;
    uint32_t r = 0, g = 0, b = 0;
    ASSERT_EQ(camera().whiteBalance(&valid, &r, &g, &b), CMD_OK);
    EXPECT_EQ(valid, 1);
    EXPECT_EQ(r, 0x1A2u);
    EXPECT_EQ(g, 0x100u);
    EXPECT_EQ(b, 0x0F3u);
    EXPECT_NE(log().find("CB: Valid AWB results received\n"), std::string::npos);
    clearLines();
    EXPECT_EQ(camera().setWhiteBalance(), CMD_OK);
    EXPECT_EQ(commands(), std::vector<std::string>{"CWS 01 000001A2 00000100 000000F3"});
    EXPECT_NE(log().find("CB: command $CWS 01 000001A2 00000100 000000F3\n"), std::string::npos);
}

TEST_F(CameraTest, AnInvalidWhiteBalanceResultLeavesTheCallerAlone) {
    model().setWhiteBalanceResult(false, 1, 2, 3);
    uint16_t valid = 7;
    uint32_t r = 7, g = 7, b = 7;
    EXPECT_EQ(camera().whiteBalance(&valid, &r, &g, &b), CMD_OK);
    EXPECT_EQ(valid, 7);
    EXPECT_EQ(r, 7u);
    EXPECT_EQ(camera().setWhiteBalance(), CMD_BAD);
    model().setFault(CameraFault::Bad, 1);
    EXPECT_EQ(camera().whiteBalance(&valid, &r, &g, &b), CMD_FAILED);
}

TEST_F(CameraTest, ForcedWhiteBalanceIsSentAtOnce) {
    EXPECT_EQ(camera().forceWhiteBalanceSettings(256, 256, 256), CMD_OK);
    EXPECT_EQ(commands(), std::vector<std::string>{"CWS 01 00000100 00000100 00000100"});
    sim::CameraSettings s = model().settings();
    EXPECT_EQ(s.whiteBalanceValid, 1);
    EXPECT_EQ(s.whiteBalance[2], 256u);
}

// ---- Shutter angles --------------------------------------------------------------------

TEST_F(CameraTest, ThirtyShutterAnglesAreThirtyExchanges) {
    const char* angles = "60,120,180,240,300,360,420,480,540,600,660,720,780,840,900,960,1020,1080,1140,"
                         "1200,1260,1320,1380,1440,1500,1560,1620,1680,1740,1800,1860";
    EXPECT_EQ(camera().setShutterAngles(angles), CMD_OK);
    std::vector<std::string> sent = commands();
    ASSERT_EQ(sent.size(), 30u); // a 31st value is ignored
    EXPECT_EQ(sent.front(), "UHW 01 003c");
    EXPECT_EQ(sent[9], "UHW 0a 0258");
    EXPECT_EQ(sent.back(), "UHW 1e 0708");
    EXPECT_EQ(model().settings().shutterAngles[29], 1800u);
}

TEST_F(CameraTest, ShutterAnglesTakeHexAndOctalPieces) {
    std::string angles = "0x10,010,9";
    for (int i = 3; i < 30; ++i) {
        angles += ",1";
    }
    EXPECT_EQ(camera().setShutterAngles(angles), CMD_OK);
    std::vector<std::string> sent = commands();
    ASSERT_EQ(sent.size(), 30u);
    EXPECT_EQ(sent[0], "UHW 01 0010");
    EXPECT_EQ(sent[1], "UHW 02 0008");
    EXPECT_EQ(sent[2], "UHW 03 0009");
}

TEST_F(CameraTest, ShortMissingAndMalformedShutterAngleLists) {
    EXPECT_EQ(camera().setShutterAngles(""), CMD_INVALID_PARAM);
    EXPECT_TRUE(lines().empty());
    EXPECT_EQ(camera().setShutterAngles("10,20,30"), CMD_INVALID_PARAM);
    EXPECT_EQ(commands().size(), 3u); // the values that exist were sent
    EXPECT_NE(log().find("CB: exception - setting shutter angle\n"), std::string::npos);
    clearLines();
    EXPECT_EQ(camera().setShutterAngles("10,abc,30"), CMD_INVALID_PARAM);
    EXPECT_TRUE(lines().empty());
    // An empty argument re-sends the remembered list.
    clearLines();
    EXPECT_EQ(camera().setShutterAngles(""), CMD_INVALID_PARAM);
    EXPECT_TRUE(lines().empty()); // "10,abc,30" is remembered and still malformed
}

TEST_F(CameraTest, AFailedShutterAngleStopsTheList) {
    std::string angles = "1";
    for (int i = 1; i < 30; ++i) {
        angles += "," + std::to_string(i + 1);
    }
    model().setFault(CameraFault::Bad, 1, 4);
    EXPECT_EQ(camera().setShutterAngles(angles), CMD_FAILED);
    EXPECT_EQ(commands().size(), 5u);
    EXPECT_NE(log().find("CB: failed to set shutter angle at index 4 to 5\n"), std::string::npos);
}

// ---- Test pattern, zoom, lens aberration -----------------------------------------------

TEST_F(CameraTest, TestPatternGoesToBothSensors) {
    EXPECT_EQ(camera().setTestPatternReg(2), CMD_OK);
    EXPECT_EQ(commands(), (std::vector<std::string>{"CRLW 308c 02", "CRRW 308c 02"}));
    sim::CameraSettings s = model().settings();
    EXPECT_EQ(s.testPattern[0], 2);
    EXPECT_EQ(s.testPattern[1], 2);
    model().setFault(CameraFault::Bad, 1);
    EXPECT_EQ(camera().setTestPatternReg(1), CMD_OK); // the right one was taken
    model().setFault(CameraFault::Bad, 2);
    EXPECT_EQ(camera().setTestPatternReg(1), CMD_FAILED);
}

TEST_F(CameraTest, LensAberrationPointsAreUploadedInOrderUntilOneFails) {
    EXPECT_EQ(camera().uploadLensAbberationPoints(), CMD_OK); // an empty list
    camera().setLensAberrationPoint("0 0 100");
    camera().setLensAberrationPoint("1 -5 200");
    camera().setLensAberrationPoint("2 7 300");
    EXPECT_EQ(camera().uploadLensAbberationPoints(), CMD_OK);
    EXPECT_EQ(commands(), (std::vector<std::string>{"ZK 0 0 100", "ZK 1 -5 200", "ZK 2 7 300"}));
    clearLines();
    model().setFault(CameraFault::Bad, 1, 1);
    EXPECT_EQ(camera().uploadLensAbberationPoints(), CMD_FAILED);
    EXPECT_EQ(commands().size(), 2u);
    camera().resetLensAberrationPoints();
    clearLines();
    EXPECT_EQ(camera().uploadLensAbberationPoints(), CMD_OK);
    EXPECT_TRUE(lines().empty());
}

// ---- Colour-correction profiles --------------------------------------------------------

TEST_F(CameraTest, AProfileFileIsAppliedKeyByKeyInItsFixedOrder) {
    testing_support::writeFile("./standard.cc", "[COLOUR_CORRECTION]\n"
                                                "black_level = 1, 2, 3\n"
                                                "cc_matrix = 256,0,0, 0,256,0, 0,0,256\n"
                                                "white_balance = 300, 256, -4\n"
                                                "camera_contrast = 12\n"
                                                "camera_black_level = 10\n");
    EXPECT_EQ(camera().setColourCorrectionProfile(0), CMD_FAILED); // whatever the file did
    std::vector<std::string> expected = {
        "CB 0A", "CC 0C", "GL 0000012c 00000100 fffffffc",
        "GM 00000100 00000000 00000000 00000000 00000100 00000000 00000000 00000000 00000100",
        "GN 00000001 00000002 00000003"};
    EXPECT_EQ(commands(), expected);
    EXPECT_EQ(camera().get_last_black_level(), 10u);
    EXPECT_EQ(camera().get_last_contrast(), 12u);
    EXPECT_EQ(camera().setColourCorrectionParameters("standard.cc"), CMD_OK);
}

TEST_F(CameraTest, AProfileWithoutWhiteBalanceStopsAfterContrast) {
    testing_support::writeFile("./slitlamp.cc", "[COLOUR_CORRECTION]\n"
                                                "camera_black_level = 3\n"
                                                "camera_contrast = 4\n"
                                                "cc_matrix = 1,2,3,4,5,6,7,8,9\n"
                                                "black_level = 1, 2, 3\n");
    EXPECT_EQ(camera().setColourCorrectionProfile(1), CMD_FAILED);
    EXPECT_EQ(commands(), (std::vector<std::string>{"CB 03", "CC 04"}));
    clearLines();
    // A matrix of the wrong size ends the sequence after the white balance.
    testing_support::writeFile("./slitlamp.cc", "[COLOUR_CORRECTION]\n"
                                                "camera_black_level = -1\n"
                                                "white_balance = 1,2,3\n"
                                                "cc_matrix = 1,2,3\n"
                                                "black_level = 1, 2, 3\n");
    EXPECT_EQ(camera().setColourCorrectionParameters("slitlamp.cc"), CMD_OK);
    EXPECT_EQ(commands(), (std::vector<std::string>{"GL 00000001 00000002 00000003"}));
}

TEST_F(CameraTest, AMissingProfileFileOrUnknownProfileChangesNothing) {
    EXPECT_EQ(camera().setColourCorrectionProfile(0), CMD_FAILED);
    EXPECT_EQ(camera().setColourCorrectionProfile(2), CMD_FAILED);
    EXPECT_EQ(camera().setColourCorrectionProfile(-1), CMD_FAILED);
    EXPECT_TRUE(lines().empty());
    EXPECT_NE(log().find("CB: setColourCorrectionParameters from standard.cc\n"), std::string::npos);
}

TEST_F(CameraTest, TheShippedProfilesAreCompleteAndKeepWhiteWhite) {
    for (const char* name : {"standard.cc", "slitlamp.cc"}) {
        testing_support::writeFile(
            std::string("./") + name,
            testing_support::readFile(std::string(OSTRIX_SOURCE_DIR) + "/resources/" + name));
    }
    for (int profile = 0; profile < CameraBoard::MaxCCProfiles; ++profile) {
        clearLines();
        camera().setColourCorrectionProfile(profile);
        ASSERT_EQ(commands().size(), 5u) << profile;
        sim::CameraSettings s = model().settings();
        for (int row = 0; row < 3; ++row) {
            EXPECT_EQ(s.ccMatrix[3 * row] + s.ccMatrix[3 * row + 1] + s.ccMatrix[3 * row + 2], 256)
                << "profile " << profile << " row " << row;
        }
    }
}

TEST_F(CameraTest, WakeUpReappliesTheSelectedProfileLast) {
    testing_support::writeFile("./slitlamp.cc", "[COLOUR_CORRECTION]\ncamera_contrast = 4\n");
    camera().setColourCorrectionProfile(1);
    camera().forceWhiteBalanceSettings(1, 2, 3);
    clearLines();
    camera().wake_up(false);
    std::vector<std::string> sent = commands();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent.back(), "CC 04");
    EXPECT_NE(std::find(sent.begin(), sent.end(), "CWS 01 00000001 00000002 00000003"), sent.end());
    EXPECT_NE(log().find("CB: wake_up setWhiteBalance\n"), std::string::npos);
}

} // namespace
