#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TempRoot.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"
#include "sim/board/ControlServer.h"

namespace fs = std::filesystem;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

constexpr int kSda = 2;
constexpr int kScl = 3;
constexpr int kResetPin = 16;

class BoardTest : public testing_support::SimBoardTest {};

TEST_F(BoardTest, I2cLinesAreOpenDrainWithPullUps) {
    EXPECT_EQ(digitalRead(kSda), HIGH);
    board().pins().drive(kSda, sim::Drive::Low); // a chip acknowledges
    EXPECT_EQ(digitalRead(kSda), LOW);
    pinMode(kSda, OUTPUT);
    digitalWrite(kSda, HIGH); // the Pi cannot win against a chip pulling low
    EXPECT_EQ(digitalRead(kSda), LOW);
    board().pins().drive(kSda, sim::Drive::None);
    EXPECT_EQ(digitalRead(kSda), HIGH);
    digitalWrite(kSda, LOW);
    EXPECT_EQ(digitalRead(kSda), LOW);
    pinMode(kSda, INPUT); // released: the pull-up takes it high
    EXPECT_EQ(digitalRead(kSda), HIGH);
}

TEST_F(BoardTest, PlainInputsFollowPullsAndChips) {
    EXPECT_EQ(digitalRead(kResetPin), LOW);
    pullUpDnControl(kResetPin, PUD_UP);
    EXPECT_EQ(digitalRead(kResetPin), HIGH);
    board().pins().drive(kResetPin, sim::Drive::Low);
    EXPECT_EQ(digitalRead(kResetPin), LOW);
    EXPECT_EQ(digitalRead(-1), LOW);
    EXPECT_EQ(digitalRead(sim::kPinCount), LOW);
}

TEST_F(BoardTest, EdgeHooksSeeEachChangeOnce) {
    std::vector<std::pair<int, int>> edges;
    int id = board().pins().addEdgeHook(kScl, [&](int pin, int level) { edges.emplace_back(pin, level); });
    pinMode(kScl, OUTPUT);       // output low: falls
    digitalWrite(kScl, LOW);     // no change
    digitalWrite(kScl, HIGH);    // rises
    pinModeAlt(kScl, FSEL_ALT0); // released to the pull-up: no change
    board().pins().removeEdgeHook(id);
    digitalWrite(kScl, LOW);
    pinMode(kScl, OUTPUT);
    ASSERT_EQ(edges.size(), 2u);
    EXPECT_EQ(edges[0], std::make_pair(kScl, LOW));
    EXPECT_EQ(edges[1], std::make_pair(kScl, HIGH));
    EXPECT_EQ(board().trace().entries(sim::TraceKind::Gpio).size(), 3u);
}

TEST_F(BoardTest, StateIsSharedByEveryProgramOnTheBoardUntilPowerCycle) {
    pinMode(kResetPin, OUTPUT);
    digitalWrite(kResetPin, HIGH);
    // A second program on the same board (same system root) sees the level.
    sim::Board other(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
    EXPECT_EQ(other.pins().read(kResetPin), HIGH);
    EXPECT_EQ(other.pins().function(kResetPin), FSEL_OUTP);
    other.powerCycle();
    EXPECT_EQ(digitalRead(kResetPin), LOW);
    EXPECT_EQ(board().pins().function(kResetPin), FSEL_INPT);
    EXPECT_EQ(digitalRead(kSda), HIGH); // board pull-ups survive a power cycle
}

TEST_F(BoardTest, ControlSocketRunsCommandsOnTheHostingProgram) {
    ASSERT_TRUE(board().startControlServer());
    std::string socket = sim::Board::controlSocketPath(root());
    sim::CommandResult result;
    ASSERT_TRUE(sim::sendControlCommand(socket, {"temp", "71500"}, result));
    EXPECT_TRUE(result.ok) << result.text;
    EXPECT_EQ(readFile(root() + "/sys/class/thermal/thermal_zone0/temp"), "71500\n");
    ASSERT_TRUE(sim::sendControlCommand(socket, {"status"}, result));
    EXPECT_NE(result.text.find("\"temperature_mC\":71500"), std::string::npos) << result.text;
    ASSERT_TRUE(sim::sendControlCommand(socket, {"temp", "hot"}, result));
    EXPECT_FALSE(result.ok);
    ASSERT_TRUE(sim::sendControlCommand(socket, {"no-such-command"}, result));
    EXPECT_FALSE(result.ok);
    // A second program on the board waits while the first serves, and takes over when
    // the first ends.
    sim::Board other(root(), sim::BoardConfig{});
    EXPECT_FALSE(other.startControlServer());
    board().stopControlServer();
    constexpr int kTries = 200;
    for (int i = 0; i < kTries && !other.servingControl(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(other.servingControl());
    ASSERT_TRUE(sim::sendControlCommand(socket, {"temp", "30000"}, result));
    EXPECT_TRUE(result.ok);
}

TEST_F(BoardTest, NoServerMeansNoAnswer) {
    sim::CommandResult result;
    EXPECT_FALSE(sim::sendControlCommand(sim::Board::controlSocketPath(root()), {"status"}, result));
}

TEST_F(BoardTest, AStatusOfSomeModelsHoldsThoseAndTheTemperatureAlone) {
    ASSERT_TRUE(board().execute({"temp", "51000"}).ok);
    const std::string some = board().statusJson({"power", "front-panel"});
    for (const char* key : {"\"power\":", "\"front_panel\":", "\"temperature_mC\":51000"}) {
        EXPECT_NE(some.find(key), std::string::npos) << key;
    }
    for (const char* key : {"\"flash\":", "\"fpga\":", "\"pins\":", "\"camera\":"}) {
        EXPECT_EQ(some.find(key), std::string::npos) << key;
        EXPECT_NE(board().statusJson().find(key), std::string::npos) << key;
    }
}

TEST_F(BoardTest, InitRootLaysOutTheSystemFolders) {
    for (const char* p : {"dev/serial/by-id", "dev/input/by-path", "media/usb", "home/pi/Ostrix",
                          "sys/class/thermal/thermal_zone0/temp", "var/lib/ostrix-sim/board.cfg"}) {
        EXPECT_TRUE(fs::exists(fs::path(root()) / p)) << p;
    }
}

TEST_F(BoardTest, BoardOptionsReachEveryProgram) {
    sim::BoardConfig config;
    config.set("fpga.version", "0x1F");
    config.set("camera.fitted", "no");
    ASSERT_TRUE(config.save(sim::Board::configPath(root())));
    auto loaded = sim::BoardConfig::load(sim::Board::configPath(root()));
    EXPECT_EQ(loaded.getInt("fpga.version", 0), 31);
    EXPECT_FALSE(loaded.getBool("camera.fitted", true));
    EXPECT_EQ(loaded.getInt("missing", 7), 7);
}

class ShellStandInTest : public testing_support::SimBoardTest {};

TEST_F(ShellStandInTest, MountLinksTheStickAndUmountPutsTheFolderBack) {
    std::string stick = root() + "/sim/usb/stick one";
    writeFile(stick + "/update/readme.txt", "hello");
    writeFile(platform::sysPath("/dev/sda1"), stick);
    std::string dev = platform::shellQuote(platform::sysPath("/dev/sda1"));
    std::string point = platform::shellQuote(platform::sysPath("/media/usb"));
    ASSERT_EQ(platform::shell("sudo mount " + dev + " " + point), 0);
    EXPECT_EQ(readFile(platform::sysPath("/media/usb/update/readme.txt")), "hello");
    EXPECT_NE(platform::shell("sudo mount " + dev + " " + point + " 2>/dev/null"), 0); // already mounted
    ASSERT_EQ(platform::shell("sudo umount " + point), 0);
    EXPECT_TRUE(fs::is_directory(platform::sysPath("/media/usb")));
    EXPECT_FALSE(fs::is_symlink(platform::sysPath("/media/usb")));
    EXPECT_TRUE(fs::exists(stick + "/update/readme.txt")); // nothing on the stick was lost
    std::string log = readFile(root() + "/var/log/ostrix-sim/shell.log");
    EXPECT_NE(log.find("mount "), std::string::npos);
    EXPECT_NE(log.find("umount "), std::string::npos);
}

TEST_F(ShellStandInTest, MountWithoutStickFails) {
    std::string cmd = "sudo mount " + platform::shellQuote(platform::sysPath("/dev/sda1")) + " " +
                      platform::shellQuote(platform::sysPath("/media/usb")) + " 2>/dev/null";
    EXPECT_NE(platform::shell(cmd), 0);
    EXPECT_TRUE(fs::is_directory(platform::sysPath("/media/usb")));
}

} // namespace
