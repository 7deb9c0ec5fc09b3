#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <unistd.h>

#include "CameraFixture.h"
#include "common/timeout.h"
#include "platform/platform.h"

using camera_testing::CameraTest;
using sim::CameraFault;

namespace {

constexpr int kPollMs = 20;
constexpr int kLateReplyPolls = 500; // 10 s: the late reply is due after 1.5 s

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

// Sends one page-write line with an encoded payload, as the flash updates do, and waits
// for the board's reply.
cmd_results_t sendPage(CameraBoard& camera, const std::string& data) {
    EXPECT_TRUE(camera.StartMessage(false));
    camera.sendString("FLW 000000 ");
    camera.sendRLEBinary(data.data(), static_cast<uint8_t>(data.size() - 1));
    camera.EndMessage(false);
    cmd_results_t res = camera.waitForResponse(10, false);
    camera.ClosePort(false);
    return res;
}

// ---- Construction, discovery, line settings -----------------------------------------

TEST_F(CameraTest, ConstructionFindsTheBoardAndReadsItsVersions) {
    EXPECT_TRUE(camera().is_available());
    EXPECT_TRUE(camera().is_running());
    uint32_t major = 0, minor = 0, fpga = 0, xl = 0;
    camera().firmware_version(&major, &minor);
    camera().fpga_version(&fpga);
    camera().xl_version(&xl);
    EXPECT_EQ(major, 2u);
    EXPECT_EQ(minor, 7u);
    EXPECT_EQ(fpga, 12u);
    EXPECT_EQ(xl, 3u);
    std::string text = log();
    EXPECT_NE(text.find("CB: Camera Board Software v2.7\n"), std::string::npos);
    EXPECT_NE(text.find("CB: Camera Board FPGA v12\n"), std::string::npos);
    EXPECT_NE(text.find("CB: Camera Board XL v3\n"), std::string::npos);
    EXPECT_FALSE(camera().port_open());
}

TEST_F(CameraTest, PortIsSetTo115200EvenParityRawWithoutFlowControl) {
    camera().setGain(1);
    camera().setGain(2);
    // Anything else (cooked input, output post-processing, XON/XOFF, RTS/CTS, two stop
    // bits) would show.
    EXPECT_EQ(model().lineSettings(), "115200 even");
    // Every open sets the line again; none of them may be reported as failing.
    EXPECT_EQ(log().find("from tcsetattr"), std::string::npos);
}

TEST_F(CameraTest, DiscoveryTakesEitherBoardNameAndTheLastMatchWins) {
    const std::string byId = root() + "/dev/serial/by-id/";
    testing_support::writeFile(byId + "usb-Other_Modem_1-if00", "");
    testing_support::writeFile(byId + "zz-Marovec_QLM_Camera_Board_7-if00", "");
    char name[512] = {};
    ASSERT_EQ(camera().FindPortByName(name, true), 0);
    // Directory order is not alphabetical; whichever matching entry comes last is taken,
    // and it is one of the two board links, never the modem.
    std::string found = name;
    EXPECT_EQ(found.rfind("/dev/serial/by-id/", 0), 0u) << found;
    EXPECT_TRUE(found.find("Marovec_QLM_Camera_Board") != std::string::npos ||
                found.find("Marovec_Ostrix_Camera_Board") != std::string::npos)
        << found;
}

TEST_F(CameraTest, DiscoveryWithoutTheSerialFolderFails) {
    std::filesystem::remove_all(root() + "/dev/serial");
    char name[512] = {};
    EXPECT_EQ(camera().FindPortByName(name, true), -1);
    EXPECT_NE(log().find("CB:No Camera Board detected\n"), std::string::npos);
    EXPECT_EQ(camera().setGain(3), CMD_FAILED);
}

class CameraAbsentTest : public CameraTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        CameraTest::configure(builder);
        builder.withoutCameraBoard();
        withBoard_ = false;
    }
};

TEST_F(CameraAbsentTest, WithoutABoardEveryCommandFailsQuicklyAndVersionsStayZero) {
    EXPECT_FALSE(camera().is_available());
    EXPECT_FALSE(camera().is_running());
    uint32_t major = 1, minor = 1;
    camera().firmware_version(&major, &minor);
    EXPECT_EQ(major, 0u);
    EXPECT_EQ(minor, 0u);
    std::string text = log();
    EXPECT_NE(text.find("CB: Failed to Open Camera Board Port\n"), std::string::npos);
    EXPECT_NE(text.find("CB: ERROR: No Camera Serial Port"), std::string::npos);
    EXPECT_NE(text.find("CB: ERROR: getVersion() failed!"), std::string::npos);
    EXPECT_EQ(camera().setGain(4), CMD_FAILED);
    EXPECT_EQ(camera().isConnected(), 0);
    EXPECT_FALSE(camera().connected());
    EXPECT_TRUE(lines().empty());
}

// ---- Payload encodings --------------------------------------------------------------

TEST_F(CameraTest, TwoHundredFiftySixEqualBytesTravelAsOneRun) {
    std::string data(256, '\x5A');
    EXPECT_EQ(sendPage(camera(), data), CMD_OK);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "$FLW 000000 *" + bytes({255, 0x5A}) + "\n");
    EXPECT_EQ(model().lastPayload(), std::vector<uint8_t>(data.begin(), data.end()));
}

TEST_F(CameraTest, LiteralsThenARunOfErasedBytes) {
    std::string data = "ABCD" + std::string(10, '\xFF');
    EXPECT_EQ(sendPage(camera(), data), CMD_OK);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "$FLW 000000 !" + bytes({3}) + "ABCD*" + bytes({9, 0xFF}) + "\n");
}

TEST_F(CameraTest, ALoneByteBetweenRunsTravelsAsTwoHexDigits) {
    std::string data = std::string(6, '\x00') + "\x0A" + std::string(7, '\x11');
    EXPECT_EQ(sendPage(camera(), data), CMD_OK);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "$FLW 000000 *" + bytes({5, 0}) + "0A*" + bytes({6, 0x11}) + "\n");
    EXPECT_EQ(model().lastPayload(), std::vector<uint8_t>(data.begin(), data.end()));
}

TEST_F(CameraTest, FourEqualBytesAreNotARun) {
    std::string data = "x" + std::string(4, '\x07') + "y";
    EXPECT_EQ(sendPage(camera(), data), CMD_OK);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "$FLW 000000 !" + bytes({5}) + data + "\n");
}

TEST_F(CameraTest, FiveEqualBytesAtTheEndAreARunAndOneByteBlocksAreHex) {
    EXPECT_EQ(sendPage(camera(), "ab" + std::string(5, 'z')), CMD_OK);
    EXPECT_EQ(sendPage(camera(), "Q"), CMD_OK);
    ASSERT_EQ(lines().size(), 2u);
    EXPECT_EQ(lines()[0], "$FLW 000000 !" + bytes({1}) + "ab*" + bytes({4}) + "z\n");
    EXPECT_EQ(lines()[1], "$FLW 000000 51\n");
}

TEST_F(CameraTest, RandomPagesArriveIntactWhateverTheirRuns) {
    std::mt19937 random(20260101);
    for (int page = 0; page < 40; ++page) {
        std::string data;
        size_t size = 1 + random() % 256;
        while (data.size() < size) {
            // Runs of every length around the threshold, of bytes that include the line end.
            char byte = "\n\x00\xFF!*$#A"[random() % 8];
            data.append(std::min<size_t>(1 + random() % 9, size - data.size()), byte);
        }
        ASSERT_EQ(sendPage(camera(), data), CMD_OK) << "page " << page;
        ASSERT_EQ(model().lastPayload(), std::vector<uint8_t>(data.begin(), data.end())) << "page " << page;
    }
}

TEST_F(CameraTest, EncodersRefuseAClosedPort) {
    EXPECT_EQ(camera().sendRLEBinary("abc", 2), -1);
    EXPECT_EQ(camera().sendBinary("abc", 2), -1);
    EXPECT_EQ(camera().sendRLE('a', 2), -1);
    EXPECT_EQ(camera().sendHexByte(1), -1);
    uint8_t data[] = {1, 2};
    EXPECT_EQ(camera().sendDataArray(data, 2), -1);
    EXPECT_EQ(camera().sendString("x"), 0);
}

TEST_F(CameraTest, DataArraysTravelAsUpperCaseHex) {
    uint8_t data[] = {0x00, 0xAB, 0x7F, 0x10};
    ASSERT_TRUE(camera().StartMessage(false));
    camera().sendString("FRW 0000FF ");
    EXPECT_EQ(camera().sendDataArray(data, 4), 0);
    camera().EndMessage(false);
    EXPECT_EQ(camera().waitForResponse(10, false), CMD_OK);
    camera().ClosePort(false);
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(lines()[0], "$FRW 0000FF 00AB7F10\n");
}

// ---- Responses ------------------------------------------------------------------------

TEST_F(CameraTest, RejectedEmptyAndMissingRepliesGiveTheirResults) {
    model().setFault(CameraFault::Bad, 1);
    ASSERT_TRUE(camera().StartMessage(false));
    camera().sendString("CG 01");
    camera().EndMessage(false);
    EXPECT_EQ(camera().waitForResponse(10, false), CMD_FAILED);

    model().setFault(CameraFault::Empty, 1);
    camera().sendString("$CG 01\n");
    EXPECT_EQ(camera().waitForResponse(10, false), CMD_LENGTH);

    model().setFault(CameraFault::Silence, 1);
    camera().sendString("$CG 01\n");
    EXPECT_EQ(camera().waitForResponse(2, false), CMD_TIMEOUT);
    EXPECT_NE(log().find("CB: Timeout waiting for message start"), std::string::npos);

    camera().sendString("$CG 01\n");
    EXPECT_EQ(camera().waitForResponse(10, false), CMD_OK);
    EXPECT_STREQ(camera().response(), "OK");
    camera().ClosePort(false);
}

TEST_F(CameraTest, AReplyCutMidLineTimesOutAndTheNextCommandWorks) {
    model().setFault(CameraFault::Cut, 1);
    EXPECT_EQ(camera().setGain(2), CMD_FAILED);
    EXPECT_NE(log().find("CB: ERROR: Timeout during message reception\n"), std::string::npos);
    EXPECT_EQ(camera().setGain(3), CMD_OK);
    EXPECT_FALSE(camera().port_open());
}

TEST_F(CameraTest, AnOverLongReplyIsCutAt639CharactersAndTheLinkStaysUsable) {
    model().setFault(CameraFault::Long, 1);
    uint8_t fpga = 0;
    EXPECT_EQ(camera().getFPGAVersion(&fpga), 0); // the reply's start still parses
    EXPECT_EQ(fpga, 12);
    EXPECT_EQ(strlen(camera().response()), 639u);
    EXPECT_EQ(std::string(camera().response()).substr(0, 6), "GV 0c ");
    EXPECT_EQ(camera().setGain(9), CMD_OK);
    EXPECT_STREQ(camera().response(), "OK");
}

TEST_F(CameraTest, NoiseBeforeTheReplyIsSkipped) {
    model().setFault(CameraFault::Garbage, 1);
    uint8_t major = 0, minor = 0;
    EXPECT_EQ(camera().getVersion(&major, &minor), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 7);
}

TEST_F(CameraTest, ABoardThatBabblesWithoutAReplyCannotHoldTheController) {
    model().setFault(CameraFault::Babble, 1);
    uint8_t xl = 0;
    // The noise never stops on its own; the query's 0.1 s still bounds the wait.
    EXPECT_EQ(camera().getXLVersion(&xl), -1);
    EXPECT_NE(log().find("CB: ERROR: getXLVersion() failed!"), std::string::npos);
    EXPECT_EQ(camera().setGain(6), CMD_OK);
}

// The board answers the zoom query after the controller stopped waiting for it; that line
// must not pass for the answer of the next command.
TEST_F(CameraTest, AReplyAfterTheControllerGaveUpIsNotTheNextCommandsAnswer) {
    model().setZoom(37);
    model().setFault(CameraFault::Late, 1);
    uint32_t zoom = 0;
    EXPECT_EQ(camera().getZoom(&zoom), CMD_FAILED);
    auto lateReplySent = [this] {
        for (const auto& e : board().trace().entries(sim::TraceKind::Serial)) {
            if (e.text == "late reply sent") {
                return true;
            }
        }
        return false;
    };
    for (int i = 0; i < kLateReplyPolls && !lateReplySent(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    ASSERT_TRUE(lateReplySent());
    uint8_t major = 0, minor = 0;
    EXPECT_EQ(camera().getVersion(&major, &minor), 0);
    EXPECT_EQ(major, 2);
    EXPECT_EQ(minor, 7);
}

TEST_F(CameraTest, OkRepliesAreCountedAndReportedByTheThousand) {
    ASSERT_TRUE(camera().OpenPort(false));
    for (int i = 0; i < 2500; ++i) {
        camera().sendString("$CG 01\n");
        ASSERT_EQ(camera().waitForResponse(10, false), CMD_OK) << i;
    }
    EXPECT_EQ(camera().pending_oks(), 2500u);
    camera().ClosePort(false);
    EXPECT_EQ(camera().pending_oks(), 0u);
    std::string text = log();
    EXPECT_EQ(count(text, "#OK\n"), 1u);
    EXPECT_EQ(count(text, "#OK x 1000,\n"), 1u);
    EXPECT_EQ(count(text, "#OK x 2000,\n"), 1u);
    EXPECT_EQ(count(text, "#OK x 2500\n"), 1u);
}

TEST_F(CameraTest, TheNextOtherReplyReportsTheRunningOkCount) {
    ASSERT_TRUE(camera().OpenPort(false));
    for (int i = 0; i < 3; ++i) {
        camera().sendString("$CG 01\n");
        ASSERT_EQ(camera().waitForResponse(10, false), CMD_OK);
    }
    camera().sendString("$GV\n");
    EXPECT_EQ(camera().waitForResponse(10, true), CMD_OK);
    camera().ClosePort(false);
    std::string text = log();
    EXPECT_NE(text.find("#OK x 3.\n"), std::string::npos);
    EXPECT_NE(text.find("#GV 0c\n"), std::string::npos);
    EXPECT_EQ(count(text, "#OK x 3\n"), 0u); // nothing left for the close to report
}

TEST_F(CameraTest, GetOkAcceptsOnlyTheExactReply) {
    model().overrideReply("CG", "OKAY", 1);
    EXPECT_EQ(camera().setGain(1), CMD_FAILED);
    EXPECT_NE(log().find("CB: getOK() failed caller setGain\n"), std::string::npos);
    EXPECT_EQ(camera().setGain(1), CMD_OK);
    EXPECT_NE(log().find("CB: getOK() passed caller setGain\n"), std::string::npos);
}

// ---- Queries ----------------------------------------------------------------------------

TEST_F(CameraTest, StatusWordIsReadFromAnElevenCharacterReply) {
    model().setStatusWord(0x15A);
    STATUS_T st{};
    ASSERT_EQ(camera().getStatus(&st), CMD_OK);
    EXPECT_EQ(st.word, 0x15Au);
    EXPECT_EQ(st.bits.fpga_l_booted, 1u);
    EXPECT_EQ(st.bits.crosslink_booted, 0u);
    EXPECT_EQ(st.bits.flash_r_error, 1u);
}

TEST_F(CameraTest, StatusRepliesOfTheWrongLengthOrNotHexAreRejected) {
    STATUS_T st{};
    st.word = 0xDEAD;
    for (const char* reply : {"US 0000001", "US 000000011", "XS 00000001", "US 0000000g", "US 0000 001"}) {
        model().overrideReply("US", reply, 1);
        EXPECT_EQ(camera().getStatus(&st), CMD_BAD) << reply;
        EXPECT_EQ(st.word, 0xDEADu) << reply;
    }
    model().overrideReply("US", "US01 020304", 1); // blanks may come before any byte pair
    EXPECT_EQ(camera().getStatus(&st), CMD_OK);
    EXPECT_EQ(st.word, 0x01020304u);
    model().setFault(CameraFault::Bad, 1);
    EXPECT_EQ(camera().getStatus(&st), CMD_BAD);
    EXPECT_NE(log().find("CB: ERROR Failed to Get Status\n"), std::string::npos);
}

TEST_F(CameraTest, ZoomIsReadQuietly) {
    model().setZoom(37);
    uint32_t zoom = 0;
    size_t before = log().size();
    EXPECT_EQ(camera().getZoom(&zoom), CMD_OK);
    EXPECT_EQ(zoom, 37u);
    EXPECT_EQ(log().size(), before);
    model().setFault(CameraFault::Silence, 1);
    EXPECT_EQ(camera().getZoom(&zoom), CMD_FAILED);
    EXPECT_NE(log().find("CB: ERROR: getZoom() failed!"), std::string::npos);
    EXPECT_EQ(zoom, 37u);
}

// ---- Hot plug and power ---------------------------------------------------------------

TEST_F(CameraTest, UnplugIsReportedOnceAndReplugOnceWithEverySettingResent) {
    camera().setGain(0x21);
    camera().invertHorizontalOutput(true);
    camera().setExposureTime(0x30);
    camera().setShutterAngles(
        "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30");
    camera().setLensAberrationPoint("10 20 30");

    model().unplug();
    EXPECT_EQ(camera().isConnected(), -1);
    EXPECT_EQ(camera().isConnected(), 0);
    EXPECT_FALSE(camera().is_running());
    EXPECT_NE(log().find("CB: Camera Board removed\n"), std::string::npos);
    EXPECT_EQ(model().settings().gain, 0u); // a board without power forgets

    model().plug();
    ASSERT_TRUE(model().waitForLink(true));
    EXPECT_EQ(camera().isConnected(), 1);
    EXPECT_EQ(camera().isConnected(), 0);
    clearLines();
    camera().updateSettings();
    EXPECT_TRUE(camera().is_running());

    std::vector<std::string> sent = commands();
    std::vector<std::string> expected = {"CG 21", "CH 01", "CV 00", "CE 30",
                                         "CB 00", "CS 00", "CC 00", "ZK 10 20 30"};
    // No white balance (none valid yet), then the 30 shutter angles.
    for (int i = 1; i <= 30; ++i) {
        char cmd[32];
        snprintf(cmd, sizeof cmd, "UHW %02x %04x", i, i);
        expected.push_back(cmd);
    }
    expected.insert(expected.end(), {"UI 00", "UHE 1", "UV", "GV", "XV"});
    EXPECT_EQ(sent, expected);
    sim::CameraSettings s = model().settings();
    EXPECT_EQ(s.gain, 0x21u);
    EXPECT_EQ(s.horizontalMirror, 1);
    EXPECT_EQ(s.shutterAngles[29], 30u);
    EXPECT_EQ(s.aberrationCount, 1u);
}

TEST_F(CameraTest, ABoardPluggedInAfterStartUpGetsItsSettingsToo) {
    model().unplug();
    CameraBoard late(nullptr, nullptr, nullptr);
    late.setWaits(CameraBoard::Waits{0, 2000, 0});
    EXPECT_FALSE(late.is_available());
    late.setGain(0x44); // remembered while the board is away
    model().plug();
    ASSERT_TRUE(model().waitForLink(true));
    ASSERT_EQ(late.isConnected(), 1);
    late.updateSettings();
    EXPECT_TRUE(late.is_running());
    EXPECT_EQ(model().settings().gain, 0x44u);
}

TEST_F(CameraTest, PowerOffThatRemovesPowerKeepsThePortAvailableForTheWakeUp) {
    camera().setCameraRail([this](bool on) { model().setRail(on); });
    camera().setGain(0x12);
    camera().shut_down();
    EXPECT_FALSE(camera().is_running());
    EXPECT_FALSE(model().present());
    EXPECT_TRUE(camera().is_available()); // CAM_PWRON_N went high: the board is off
    EXPECT_NE(log().find("CB:Camera Board OFF\n"), std::string::npos);

    camera().setWaits(CameraBoard::Waits{50, 2000, 0});
    camera().PowerOn(true);
    EXPECT_TRUE(model().present());
    camera().wake_up(true);
    EXPECT_TRUE(camera().is_running());
    EXPECT_EQ(model().settings().gain, 0x12u);
    EXPECT_NE(log().find("CB:Camera Board ON\n"), std::string::npos);
}

TEST_F(CameraTest, PowerOffWhileTheBoardStaysPoweredDropsTheAvailability) {
    camera().setCameraRail([](bool) {}); // no power manager: the rail cannot be switched
    camera().shut_down();
    EXPECT_FALSE(camera().is_available());
    clearLines();
    camera().wake_up(true);
    EXPECT_TRUE(lines().empty());
    EXPECT_TRUE(camera().connected()); // asking again finds it
}

TEST_F(CameraTest, TheBootWaitHoldsEveryCommandUntilItRunsOut) {
    camera().setWaits(CameraBoard::Waits{300, 2000, 0});
    camera().PowerOn(false);
    timer_t probe = no_timeout();
    start_timeout("test", &probe, 250, 0);
    EXPECT_EQ(camera().setGain(1), CMD_OK);
    EXPECT_EQ(timeout_expired(&probe, 0, 0), 1); // the command went out after the wait
    delete_timeout(&probe);
    EXPECT_NE(log().find("CB: waiting for Camera Board boot\n"), std::string::npos);
}

TEST_F(CameraTest, AnUnpluggedBoardFailsTheCommandInFlightAndLeavesNoOpenPort) {
    ASSERT_TRUE(camera().OpenPort(false));
    model().unplug();
    camera().sendString("$CG 01\n");
    EXPECT_NE(camera().waitForResponse(10, false), CMD_OK);
    camera().ClosePort(false);
    EXPECT_FALSE(camera().port_open());
    EXPECT_EQ(camera().setGain(1), CMD_FAILED);
}

} // namespace
