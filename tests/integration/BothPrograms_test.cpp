// The controller and the GUI as the board runs them: two processes on one simulated
// board, finding each other through the fixed UDP ports.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/EndToEnd.h"

namespace {

using testing_support::OstrixPiProcess;
constexpr size_t kImplementedSettings = 55;
constexpr const char* kCollected = "MAIN: GUI settings collected";
constexpr const char* kRequest = "MAIN: Sent setting request to GUI (";

class BothPrograms : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override {
        return testing_support::readFile(OSTRIX_SOURCE_DIR "/resources/ostrix.cfg");
    }
    void SetUp() override {
        EndToEndTest::SetUp();
        prepareGui();
    }
};

TEST_F(BothPrograms, ControllerCollectsEverySettingFromTheRealGui) {
    // The GUI is up and has announced itself before the controller starts, as on the board.
    auto gui = startGui();
    ASSERT_TRUE(guiAnnounced(*gui));
    auto controller = startController();
    ASSERT_TRUE(controller->waitForLog(kCollected)) << controller->log();
    // The last answers come after the last request: they complete the start-up.
    ASSERT_TRUE(controller->waitForLog("Settings initialisation complete"));
    std::string log = controller->log();
    std::string beforeCollected = log.substr(0, log.find(kCollected));
    EXPECT_EQ(OstrixPiProcess::count(beforeCollected, kRequest), kImplementedSettings);
    EXPECT_EQ(OstrixPiProcess::count(log, "Settings initialisation complete"), 1u);
    EXPECT_EQ(OstrixPiProcess::count(log, kCollected), 1u);
    EXPECT_EQ(controller->stop(), 0);
    EXPECT_EQ(gui->stop(), 0);
}

TEST_F(BothPrograms, EitherProgramRunsOnWhenTheOtherStops) {
    auto gui = startGui();
    ASSERT_TRUE(guiAnnounced(*gui));
    auto controller = startController();
    ASSERT_TRUE(controller->waitForLog(kCollected)) << controller->log();

    // The GUI stops: the controller keeps running its loop and logging.
    gui->stop();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(controller->running());

    // A new GUI comes up and the old controller is still its peer; then the controller
    // stops and the GUI runs on.
    gui = startGui();
    ASSERT_TRUE(guiAnnounced(*gui));
    EXPECT_EQ(controller->stop(), 0);
    EXPECT_NE(controller->log().find("Application terminated"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(gui->running()) << gui->console();
    EXPECT_EQ(gui->stop(), 0);
}

} // namespace
