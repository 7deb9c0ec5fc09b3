// The camera board seen from outside the controller: OstrixPi runs on the simulated
// board with a stand-in GUI; a setting changed in the GUI reaches the camera board over
// its serial link, and the board comes back with its settings after being unplugged.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/Board.h"
#include "sim/CameraBoardModel.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

extern char** environ;

namespace {

using testing_support::readFile;
using testing_support::writeFile;

constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kWaitLimit = std::chrono::seconds(60);
constexpr uint32_t kGain = 0x2A;

template <typename Condition> bool waitFor(Condition condition) {
    const auto limit = std::chrono::steady_clock::now() + kWaitLimit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

class CameraEndToEndTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }
    std::string log() const { return readFile(home() + "/log/QLM_logfile_0001.log"); }
    bool logged(const std::string& text) const { return log().find(text) != std::string::npos; }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        writeFile(home() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n[CAMERA]\ntest_pattern = 0\n");
        writeFile(home() + "/standard.cc",
                  readFile(std::string(OSTRIX_SOURCE_DIR) + "/resources/standard.cc"));
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        if (HasFailure()) {
            std::cerr << "OstrixPi log:\n" << log() << readFile(dir_.path() + "/stdout.txt");
        }
    }

    // Starts OstrixPi on the board in the root, in its home folder. Everything the child
    // needs is built before fork().
    void start() {
        const std::string program = std::string(OSTRIX_BIN_DIR) + "/OstrixPi";
        const std::string out = dir_.path() + "/stdout.txt";
        const std::string dir = home();
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("OSTRIX_PLATFORM=", 0) != 0 && entry.rfind("OSTRIX_SYSROOT=", 0) != 0) {
                env.push_back(entry);
            }
        }
        env.push_back("OSTRIX_PLATFORM=sim");
        env.push_back("OSTRIX_SYSROOT=" + root());
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::string arg0 = program;
        char* argv[] = {arg0.data(), nullptr};
        pid_ = fork();
        if (pid_ == 0) {
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || chdir(dir.c_str()) != 0) {
                _exit(126);
            }
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            execve(program.c_str(), argv, envp.data());
            _exit(127);
        }
    }

    int stop() {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The camera board as the board's shared state shows it, read without serving it.
    sim::CameraBoardModel& camera() {
        if (!board_) {
            board_ =
                std::make_unique<sim::Board>(root(), sim::BoardConfig::load(sim::Board::configPath(root())));
        }
        return *board_->find<sim::CameraBoardModel>();
    }
    bool cameraReceived(const std::string& command) {
        for (const std::string& c : camera().recentCommands()) {
            if (c == command) {
                return true;
            }
        }
        return false;
    }

private:
    testing_support::TempDir dir_;
    pid_t pid_ = -1;
    std::unique_ptr<sim::Board> board_;
};

TEST_F(CameraEndToEndTest, CameraGainFromTheGuiReachesTheCameraBoard) {
    StandInGui gui;
    start();
    ASSERT_TRUE(waitFor([&] { return logged("MAIN: GUI settings collected\n"); }));
    // The board came up with the power manager's camera rail and answered at start-up.
    EXPECT_TRUE(logged("CB: Port Opened OK.\n"));
    EXPECT_TRUE(logged("CB: Camera Board Software v2.7\n"));
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAM_VERSION, 0x00020007));
    EXPECT_TRUE(gui.hasReceived(uint32_t{tEV_VERSIONINFO} | CAMFPGA_VERSION, 12));
    EXPECT_EQ(camera().settings().shutterAngles[29], 1800u); // the default list at start-up

    gui.send(tEV_ACTION | SETT_CAMERA_GAIN, kGain);
    ASSERT_TRUE(waitFor([&] { return camera().settings().gain == kGain; }));
    EXPECT_TRUE(cameraReceived("CG 2A"));
    EXPECT_EQ(camera().lineSettings(), "115200");
    EXPECT_TRUE(waitFor([&] { return logged("CB:setGain 42\n"); }));
    EXPECT_TRUE(logged("CAMERA Gain Settings\n"));
    EXPECT_EQ(stop(), 0);
}

TEST_F(CameraEndToEndTest, ARepluggedBoardGetsTheCurrentSettingsBack) {
    StandInGui gui([](int index) { return index == SETT_CAMERA_EXPOSURE_TIME ? int32_t{0x33} : int32_t{0}; });
    start();
    ASSERT_TRUE(waitFor([&] { return logged("MAIN: GUI settings collected\n"); }));
    ASSERT_EQ(camera().settings().exposureTime, 0x33u);

    sim::CommandResult unplugged = camera().command({"camera", "unplug"}).value();
    ASSERT_TRUE(unplugged.ok);
    ASSERT_TRUE(waitFor([&] { return logged("CB: Camera Board removed\n"); }));
    EXPECT_EQ(camera().settings().exposureTime, 0u);
    camera().command({"camera", "plug"});
    ASSERT_TRUE(waitFor([&] { return logged("CB:Camera Board new connection\n"); }));
    EXPECT_TRUE(
        waitFor([&] { return gui.hasReceived(uint32_t{tEV_MESSAGE} | MESS_PREPARING_CAMERA_BOARD, 15000); }));
    // The wake-up waits as long as the real board needs to boot (15 s) before it sends.
    ASSERT_TRUE(waitFor([&] { return camera().settings().exposureTime == 0x33u; }));
    EXPECT_TRUE(waitFor([&] { return gui.hasReceived(uint32_t{tEV_MESSAGE} | MESS_NONE, 0); }));
    EXPECT_EQ(stop(), 0);
}

} // namespace
