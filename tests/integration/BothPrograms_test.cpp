// The controller and the GUI as the board runs them: two processes on one simulated
// board, finding each other through the fixed UDP ports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "OstrixPiProcess.h"
#include "TempRoot.h"
#include "sim/board/Board.h"

namespace {

using testing_support::OstrixPiProcess;
constexpr size_t kImplementedSettings = 54;
constexpr const char* kCollected = "MAIN: GUI settings collected";
constexpr const char* kRequest = "MAIN: Sent setting request to GUI (";

class BothPrograms : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root_.path()), "");
        std::filesystem::create_directories(guiFolder());
        std::filesystem::copy_file(OSTRIX_SOURCE_DIR "/resources/ostrix.cfg", home() + "/ostrix.cfg");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // Qt's offscreen platform keeps its screen objects to the end; that is Qt's, not ours.
        setenv("LSAN_OPTIONS", "suppressions=" OSTRIX_SOURCE_DIR "/tests/support/lsan-qt.supp", 1);
    }
    std::string home() const { return root_.path() + "/home/pi/Ostrix"; }
    // The GUI gets a folder of its own so that the two consoles stay apart.
    std::string guiFolder() const { return root_.path() + "/gui"; }
    std::unique_ptr<OstrixPiProcess> startGui() {
        return std::make_unique<OstrixPiProcess>(OSTRIX_BIN_DIR "/Ostrix_Gui", root_.path(), guiFolder());
    }
    std::unique_ptr<OstrixPiProcess> startController() {
        return std::make_unique<OstrixPiProcess>(OSTRIX_BIN_DIR "/OstrixPi", root_.path(), home());
    }
    // Waits until the GUI's console holds `text`.
    static bool waitForConsole(OstrixPiProcess& p, const std::string& text) {
        constexpr int kPolls = 600;
        for (int i = 0; i < kPolls && p.running(); ++i) {
            if (p.console().find(text) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return p.console().find(text) != std::string::npos;
    }

    testing_support::TempDir root_;
};

TEST_F(BothPrograms, ControllerCollectsEverySettingFromTheRealGui) {
    // The GUI is up and has announced itself before the controller starts, as on the board.
    auto gui = startGui();
    ASSERT_TRUE(waitForConsole(*gui, "GUI: Startup message sent")) << gui->console();
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
    ASSERT_TRUE(waitForConsole(*gui, "GUI: Startup message sent")) << gui->console();
    auto controller = startController();
    ASSERT_TRUE(controller->waitForLog(kCollected)) << controller->log();

    // The GUI stops: the controller keeps running its loop and logging.
    gui->stop();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(controller->running());

    // A new GUI comes up and the old controller is still its peer; then the controller
    // stops and the GUI runs on.
    gui = startGui();
    ASSERT_TRUE(waitForConsole(*gui, "GUI: Startup message sent")) << gui->console();
    EXPECT_EQ(controller->stop(), 0);
    EXPECT_NE(controller->log().find("Application terminated"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_TRUE(gui->running()) << gui->console();
    EXPECT_EQ(gui->stop(), 0);
}

} // namespace
