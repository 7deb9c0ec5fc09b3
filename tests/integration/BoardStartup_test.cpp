// The programs on the real board's backend where the GPIO block cannot be had (no
// /dev/gpiomem, or no permission): each one says so and ends with a failure status before
// it drives a line, so the service manager sees the fault and the board stays untouched.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"

namespace {

using testing_support::OstrixPiProcess;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;

constexpr int kExitStatusMinusOne = 255;
constexpr const char* kGpioMemory = "/dev/gpiomem";

class BoardStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat info {};
        if (::stat(kGpioMemory, &info) == 0) {
            GTEST_SKIP() << "this machine has " << kGpioMemory;
        }
        writeFile(work() + "/ostrix.cfg", readFile(OSTRIX_SOURCE_DIR "/resources/ostrix.cfg"));
    }

    std::string work() const { return dir_.path(); }

    // Runs `program` on the Linux backend (the helper's env sets the platform, as the
    // systemd unit does) and returns its exit status.
    int runOnLinux(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), {"OSTRIX_PLATFORM=linux", std::string(OSTRIX_BIN_DIR "/") + program});
        OstrixPiProcess process("/usr/bin/env", "", work(), std::move(args));
        const int status = process.wait();
        log_ = process.log();
        console_ = process.console();
        return status;
    }

    std::string log_;
    std::string console_;

private:
    TempDir dir_;
};

TEST_F(BoardStartupTest, ControllerWithoutGpioLogsAndExitsBeforeAnyDeviceStep) {
    EXPECT_EQ(runOnLinux("OstrixPi", {}), kExitStatusMinusOne) << console_;
    EXPECT_NE(log_.find("MAIN: ERROR: GPIO set-up failed with errno="), std::string::npos) << log_;
    // Nothing of the bring-up that drives the board has started.
    for (const char* step : {"Initialising I2C", "System Reset", "Configure Clocks", "LCD LED Driver",
                             "F: ", "Copy Warp", "Configure HDMI", "at_wakeup complete"}) {
        EXPECT_EQ(log_.find(step), std::string::npos) << step << " in\n" << log_;
    }
}

TEST_F(BoardStartupTest, FlashProgrammerWithoutGpioExitsBeforeIdentifying) {
    EXPECT_EQ(runOnLinux("qflashprog", {"-e"}), kExitStatusMinusOne) << console_;
    EXPECT_NE(console_.find(" ERROR: GPIO set-up failed with errno="), std::string::npos) << console_;
    EXPECT_EQ(console_.find("RDID"), std::string::npos) << console_;
}

} // namespace
