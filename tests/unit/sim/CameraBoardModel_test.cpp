#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "TempRoot.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"
#include "sim/board/Trace.h"
#include "sim/camera/CameraBoardModel.h"

namespace fs = std::filesystem;
using sim::CameraFault;

namespace {

constexpr int kStatusPin = 35;

// The link as a bare serial port, without the controller's code.
class RawPort {
public:
    explicit RawPort(const std::string& path, speed_t speed = B115200) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            cfsetspeed(&t, speed);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~RawPort() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ok() const { return fd_ >= 0; }
    void send(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
    // Everything that arrives until `ms` pass without a byte.
    std::string receive(int ms = 300) {
        std::string got;
        char buf[1024];
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, ms) > 0) {
            ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) {
                break;
            }
            got.append(buf, static_cast<size_t>(n));
            if (!got.empty() && got.back() == '\n') {
                ms = 50; // the reply is complete; only stragglers may follow
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

class CameraModelTest : public testing_support::SimBoardTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        builder.withCameraBootMs(bootMs_).withManualCameraRail(true);
    }
    void SetUp() override {
        SimBoardTest::SetUp();
        model_ = board().find<sim::CameraBoardModel>();
        ASSERT_NE(model_, nullptr);
    }
    sim::CameraBoardModel& model() { return *model_; }
    std::string byId() const { return root() + "/dev/serial/by-id/"; }
    std::vector<std::string> links() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(byId())) {
            names.push_back(e.path().filename().string());
        }
        return names;
    }
    // One command through a bare port; the reply bytes.
    std::string exchange(const std::string& bytes) {
        EXPECT_TRUE(model().waitForLink(true));
        RawPort port(model().linkPath());
        EXPECT_TRUE(port.ok());
        port.send(bytes);
        return port.receive();
    }

    int bootMs_ = 0;

private:
    sim::CameraBoardModel* model_ = nullptr;
};

// ---- Presence ----------------------------------------------------------------------------

class CameraBootTest : public CameraModelTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        bootMs_ = 1500;
        CameraModelTest::configure(builder);
    }
};

TEST_F(CameraBootTest, TheLinkAppearsOnlyOnceTheBoardHasBootedAndGoesWithTheRail) {
    EXPECT_TRUE(model().present());
    EXPECT_EQ(digitalRead(kStatusPin), LOW); // the board pulls CAM_PWRON_N low while powered
    EXPECT_FALSE(model().linkUp());          // still booting
    ASSERT_TRUE(model().waitForLink(true));
    ASSERT_EQ(links().size(), 1u);
    EXPECT_EQ(links()[0], "usb-Marovec_Ostrix_Camera_Board_OX0001-if00");
    EXPECT_EQ(fs::read_symlink(byId() + links()[0]).string().rfind("/dev/pts/", 0), 0u);

    model().setRail(false);
    EXPECT_FALSE(model().linkUp());
    EXPECT_TRUE(links().empty());
    EXPECT_EQ(digitalRead(kStatusPin), HIGH);

    model().setRail(true);
    EXPECT_EQ(digitalRead(kStatusPin), LOW);
    EXPECT_FALSE(model().linkUp()); // it boots again
    EXPECT_TRUE(model().waitForLink(true));
}

TEST_F(CameraModelTest, UnplugTakesTheLinkAndTheSettingsAway) {
    EXPECT_EQ(exchange("$CG 2A\n"), "#OK\n");
    EXPECT_EQ(model().settings().gain, 0x2Au);
    sim::CommandResult result = board().execute({"camera", "unplug"});
    EXPECT_TRUE(result.ok) << result.text;
    EXPECT_FALSE(model().linkUp());
    EXPECT_TRUE(links().empty());
    EXPECT_EQ(digitalRead(kStatusPin), HIGH);
    EXPECT_EQ(model().settings().gain, 0u);
    EXPECT_TRUE(board().execute({"camera", "plug"}).ok);
    EXPECT_TRUE(model().waitForLink(true));
    EXPECT_EQ(model().settings().gain, 0u);
}

TEST_F(CameraModelTest, PowerCycleRestartsTheBoard) {
    EXPECT_EQ(exchange("$CC 05\n"), "#OK\n");
    model().setZoom(9);
    board().powerCycle();
    EXPECT_EQ(model().settings().contrast, 0u);
    EXPECT_EQ(exchange("$ZX\n"), "#ZX 0\n");
}

class CameraNotFittedTest : public CameraModelTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        CameraModelTest::configure(builder);
        builder.withoutCameraBoard();
    }
};

TEST_F(CameraNotFittedTest, ABoardWithoutCameraNeverShowsALink) {
    EXPECT_FALSE(model().waitForLink(true, 200));
    EXPECT_TRUE(links().empty());
    EXPECT_EQ(digitalRead(kStatusPin), HIGH);
}

class CameraStaleLinkTest : public CameraModelTest {
protected:
    void configure(sim::BoardBuilder& builder) override {
        CameraModelTest::configure(builder);
        builder.with("camera.rail", "off");
        // Left behind by a program that died while serving the link.
        fs::create_directories(root() + "/dev/serial/by-id");
        fs::create_symlink("/dev/pts/4242",
                           root() + "/dev/serial/by-id/usb-Marovec_Ostrix_Camera_Board_OX0001-if00");
    }
};

TEST_F(CameraStaleLinkTest, AStaleLinkIsRemovedWhenTheBoardIsServedAgain) {
    for (int i = 0; i < 200 && !links().empty(); ++i) {
        usleep(10000);
    }
    EXPECT_TRUE(links().empty());
    EXPECT_FALSE(model().present());
}

// Two programs on one board, without the fixture: the first one's board goes away here.
TEST(CameraHostTest, AnotherProgramTakesTheLinkOverWhenTheFirstEnds) {
    testing_support::TempDir root;
    sim::Board& first = sim::BoardBuilder(root.path()).withCameraBootMs(0).withManualCameraRail(true).build();
    ASSERT_TRUE(first.find<sim::CameraBoardModel>()->waitForLink(true));
    // A second program on the same board: it waits while the first serves the link.
    sim::Board second(root.path(), sim::BoardConfig::load(sim::Board::configPath(root.path())));
    second.startServices();
    auto* secondModel = second.find<sim::CameraBoardModel>();
    {
        RawPort port(secondModel->linkPath());
        port.send("$CG 01\n");
        EXPECT_EQ(port.receive(), "#OK\n");
    }
    EXPECT_EQ(second.trace().count(sim::TraceKind::Serial), 0u);

    platform::setBackend(nullptr); // the first program ends
    for (int i = 0; i < 300 && second.trace().count(sim::TraceKind::Serial) == 0; ++i) {
        usleep(10000);
    }
    ASSERT_TRUE(secondModel->waitForLink(true));
    RawPort port(secondModel->linkPath());
    port.send("$CG 02\n");
    EXPECT_EQ(port.receive(), "#OK\n");
    EXPECT_EQ(secondModel->settings().gain, 2u);
    EXPECT_GT(second.trace().count(sim::TraceKind::Serial), 0u);
}

// ---- Framing and replies -------------------------------------------------------------------

TEST_F(CameraModelTest, BytesBeforeTheStartAreIgnoredAndEachLineIsAnswered) {
    EXPECT_EQ(exchange("noise\n$CG 1F\n$CE 03\n"), "#OK\n#OK\n");
    sim::CameraSettings s = model().settings();
    EXPECT_EQ(s.gain, 0x1Fu);
    EXPECT_EQ(s.exposureTime, 3u);
    std::vector<std::string> recent = model().recentCommands();
    EXPECT_EQ(recent, (std::vector<std::string>{"CG 1F", "CE 03"}));
}

TEST_F(CameraModelTest, PayloadItemsMayCarryTheLineEnd) {
    // "41", then "!" with three raw line ends, then "*" repeating a line end four times.
    std::string page =
        "$GW 000100 41!" + std::string(1, '\x02') + "\n\n\n*" + std::string(1, '\x03') + "\n\n";
    EXPECT_EQ(exchange(page), "#OK\n");
    EXPECT_EQ(model().lastPayload(), (std::vector<uint8_t>{0x41, '\n', '\n', '\n', '\n', '\n', '\n', '\n'}));
    // Not a hexadecimal pair: the page is refused, and the framing still holds.
    EXPECT_EQ(exchange("$GW 000100 ZZ\n$CG 01\n"), "#BAD\n#OK\n");
}

TEST_F(CameraModelTest, UnknownMalformedAndOverLongCommandsAreRejected) {
    EXPECT_EQ(exchange("$XYZ\n"), "#BAD\n");
    EXPECT_EQ(exchange("$CG\n"), "#BAD\n");
    EXPECT_EQ(exchange("$CG 1 2\n"), "#BAD\n");
    EXPECT_EQ(exchange("$CG 1G\n"), "#BAD\n");
    EXPECT_EQ(exchange("$UHW 1f 0010\n"), "#BAD\n"); // 31 shutter angles do not exist
    EXPECT_EQ(exchange("$CG 01\r\n"), "#BAD\n");     // a line end translated on the way out
    EXPECT_EQ(exchange("$CG " + std::string(5000, '0') + "\n"), "#BAD\n");
    EXPECT_EQ(exchange("$CG 01\n"), "#OK\n");
}

TEST_F(CameraModelTest, QueriesAnswerWithTheBoardsState) {
    model().setZoom(-3);
    model().setStatusWord(0x1234ABCD);
    EXPECT_EQ(exchange("$UV\n"), "#UV 02 07\n");
    EXPECT_EQ(exchange("$GV\n"), "#GV 0c\n");
    EXPECT_EQ(exchange("$XV\n"), "#XV 03\n");
    EXPECT_EQ(exchange("$US\n"), "#US 1234ABCD\n");
    EXPECT_EQ(exchange("$ZX\n"), "#ZX -3\n");
    EXPECT_EQ(exchange("$CW\n"), "#CW 01 00000100 00000100 00000100\n");
    EXPECT_EQ(model().settings().whiteBalanceValid, 1);
}

TEST_F(CameraModelTest, AtAnotherBaudRateTheBoardHearsNothing) {
    ASSERT_TRUE(model().waitForLink(true));
    RawPort port(model().linkPath(), B9600);
    port.send("$CG 05\n");
    EXPECT_EQ(port.receive(200), "");
    EXPECT_EQ(model().lineSettings().substr(0, 4), "9600"); // the port is otherwise left as it was
    EXPECT_EQ(model().settings().gain, 0u);
}

TEST_F(CameraModelTest, FaultsHitTheGivenRepliesOnly) {
    model().setFault(CameraFault::Bad, 2, 1);
    EXPECT_EQ(exchange("$CG 01\n"), "#OK\n");
    EXPECT_EQ(exchange("$CG 02\n"), "#BAD\n");
    EXPECT_EQ(exchange("$CG 03\n"), "#BAD\n");
    EXPECT_EQ(exchange("$CG 04\n"), "#OK\n");
    EXPECT_EQ(model().settings().gain, 4u);
    model().setFault(CameraFault::Cut, 1);
    EXPECT_EQ(exchange("$GV\n"), "#GV");
    model().setFault(CameraFault::Garbage, 1);
    EXPECT_EQ(exchange("$GV\n"), std::string("\x00\xff\x13noise\r\n", 10) + "#GV 0c\n");
    model().setFault(CameraFault::Long, 1);
    std::string longReply = exchange("$GV\n");
    EXPECT_EQ(longReply.size(), 702u);
    EXPECT_EQ(longReply.substr(0, 7), "#GV 0c ");
    model().setFault(CameraFault::Silence);
    EXPECT_EQ(exchange("$GV\n"), "");
    EXPECT_EQ(exchange("$GV\n"), "");
    model().setFault(CameraFault::None);
    EXPECT_EQ(exchange("$GV\n"), "#GV 0c\n");
}

// ---- Control commands and status ---------------------------------------------------------

TEST_F(CameraModelTest, ControlCommandsSteerTheBoardAndRejectBadArguments) {
    EXPECT_TRUE(board().execute({"camera", "zoom", "12"}).ok);
    EXPECT_TRUE(board().execute({"camera", "status", "7f"}).ok);
    EXPECT_TRUE(board().execute({"camera", "awb", "1", "0x120", "256", "200"}).ok);
    EXPECT_TRUE(board().execute({"camera", "reply", "UV", "UV 09 09"}).ok);
    EXPECT_EQ(exchange("$UV\n"), "#UV 09 09\n");
    EXPECT_TRUE(board().execute({"camera", "reply", "UV"}).ok);
    EXPECT_EQ(exchange("$UV\n"), "#UV 02 07\n");
    EXPECT_EQ(exchange("$CW\n"), "#CW 01 00000120 00000100 000000C8\n");
    EXPECT_TRUE(board().execute({"camera", "fault", "empty", "1"}).ok);
    EXPECT_EQ(exchange("$ZX\n"), "#\n");
    EXPECT_EQ(exchange("$ZX\n"), "#ZX 12\n");
    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"camera"},
                                               {"camera", "zoom", "x"},
                                               {"camera", "fault", "wobble"},
                                               {"camera", "fault", "bad", "-1"},
                                               {"camera", "rail", "maybe"},
                                               {"camera", "status", "xyz"},
                                               {"camera", "awb", "1", "2"}}) {
        sim::CommandResult r = board().execute(bad);
        EXPECT_FALSE(r.ok) << bad.size();
        EXPECT_NE(r.text.find("camera fault KIND"), std::string::npos);
    }
}

TEST_F(CameraModelTest, StatusShowsTheLinkAndEverySettingTheBoardWasGiven) {
    exchange("$CG 12C\n$UHW 02 0078\n$ZK 1 2 3\n$CRRW 308c 02\n");
    std::string status = board().statusJson();
    EXPECT_NE(status.find("\"camera\":{"), std::string::npos) << status;
    EXPECT_NE(status.find("\"link_up\":true"), std::string::npos);
    EXPECT_NE(status.find("\"gain\":300"), std::string::npos);
    EXPECT_NE(status.find("\"shutter_angles\":[0,120,0"), std::string::npos);
    EXPECT_NE(status.find("\"aberration_points\":[\"1 2 3\"]"), std::string::npos);
    EXPECT_NE(status.find("\"test_pattern\":[-1,2]"), std::string::npos);
    EXPECT_NE(status.find("\"recent_commands\":[\"CG 12C\",\"UHW 02 0078\",\"ZK 1 2 3\",\"CRRW 308c 02\"]"),
              std::string::npos);
}

TEST_F(CameraModelTest, EveryExchangeIsTracedWithItsBusTime) {
    exchange("$CG 01\n");
    auto lines = board().trace().entries(sim::TraceKind::Serial);
    auto it =
        std::find_if(lines.begin(), lines.end(), [](const sim::TraceEntry& e) { return !e.out.empty(); });
    ASSERT_NE(it, lines.end());
    EXPECT_EQ(std::string(it->out.begin(), it->out.end()), "$CG 01\n");
    EXPECT_EQ(std::string(it->in.begin(), it->in.end()), "#OK\n");
    EXPECT_NEAR(it->busSeconds, 11 * 11 / 115200.0, 1e-9);
}

} // namespace
