// The operator's camera gain from a key to the camera board: OstrixPi and the real
// Ostrix_Gui run on one simulated board, ostrix-sim presses a front-panel button or types
// on the keypad, the controller forwards the key to the GUI, the GUI raises the gain (by
// the gain hotkey or through the menu) and answers with the new value, and the controller
// sends it to the camera board over its serial link.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/messages.h"
#include "tests/support/EndToEnd.h"

namespace {

using testing_support::contains;
using testing_support::OstrixPiProcess;
using testing_support::readFile;
using testing_support::waitUntil;

// The factory gain; the gain hotkey is on P1 short.
constexpr uint32_t kFactoryGain = 5;
constexpr const char* kGuiSettings = "#QLM settings Text 99\nSETT_PRESET_P1_SHORT=1\n";

std::string gainCommand(uint32_t gain) {
    char text[8];
    std::snprintf(text, sizeof text, "CG %02X", gain);
    return text;
}

class MenuEndToEndTest : public testing_support::EndToEndTest {
protected:
    std::string configuration() const override { return kLiveCameraConfiguration; }
    void SetUp() override {
        EndToEndTest::SetUp();
        installColourCorrection();
        prepareGui(kGuiSettings);
    }

    // Both programs up, the GUI first as on the board, the settings collected.
    void startBoth() {
        gui_ = startGui();
        ASSERT_TRUE(guiAnnounced(*gui_));
        controller_ = startController();
        ASSERT_TRUE(settingsCollected(*controller_));
        ASSERT_TRUE(waitUntil([&] { return camera().settings().gain == kFactoryGain; }));
    }
    void TearDown() override {
        if (controller_) {
            EXPECT_EQ(controller_->stop(), 0);
        }
        if (gui_) {
            EXPECT_EQ(gui_->stop(), 0);
        }
    }

    // Sends one key with ostrix-sim (`args`) and returns once the GUI has taken `key`.
    void send(std::vector<std::string> args, uint32_t key) {
        const std::string seen = taken(key);
        const size_t before = OstrixPiProcess::count(gui_->console(), seen);
        ASSERT_EQ(sim(args), 0);
        ASSERT_TRUE(waitUntil([&] { return OstrixPiProcess::count(gui_->console(), seen) > before; }))
            << args[0] << " " << args[1] << "\n"
            << controller_->log();
    }
    static std::string taken(uint32_t key) {
        char line[64];
        std::snprintf(line, sizeof line, "GUI: ProcessCommand %x:0\n", unsigned(tEV_KEY | key));
        return line;
    }
    void typeKey(const std::string& code, uint32_t key) { send({"key", code}, key); }
    void plugKeypad() {
        ASSERT_EQ(sim({"keypad", "plug"}), 0);
        ASSERT_TRUE(controller_->waitForLog("UC: Keypad/Kbd Connected\n")) << controller_->log();
    }
    // The GUI's answer as the controller's main loop receives it.
    bool controllerGot(const std::string& message, size_t times = 1) {
        return controller_->waitForLog("MAIN: got message " + message + "\n", times);
    }

    std::unique_ptr<OstrixPiProcess> gui_;
    std::unique_ptr<OstrixPiProcess> controller_;
};

TEST_F(MenuEndToEndTest, UpWithTheGainHotkeyRaisesTheCameraGain) {
    startBoth();
    ASSERT_FALSE(HasFatalFailure());
    // The keypad's P1 key, pressed briefly, selects the gain hotkey in the GUI.
    plugKeypad();
    ASSERT_EQ(sim({"key", "KEY_V"}), 0);
    ASSERT_TRUE(waitUntil([&] { return contains(gui_->console(), "GUI:P1 SHORT 1"); })) << gui_->console();

    // UP on the front panel. A button held past a third of a second repeats, and two
    // ostrix-sim runs can take that long: every UP the controller sends raises the gain.
    ASSERT_EQ(sim({"button", "BTN2", "press"}), 0);
    ASSERT_EQ(sim({"button", "BTN2", "release"}), 0);
    ASSERT_TRUE(controller_->waitForLog("UC: sent msg from Buttons to GUI 01000002:00000000\n"));
    EXPECT_TRUE(waitUntil([&] { return contains(gui_->console(), "GUI:Increase Camera Gain from 5"); }))
        << gui_->console();
    uint32_t expected = 0;
    const bool settled = waitUntil([&] {
        const std::string log = controller_->log();
        const size_t ups = OstrixPiProcess::count(log, "to GUI 01000002:00000000\n");
        expected = kFactoryGain + uint32_t(ups);
        return camera().settings().gain == expected &&
               OstrixPiProcess::count(gui_->console(), taken(UKEY_UP)) == ups;
    });
    ASSERT_TRUE(settled) << controller_->log();
    char answer[32];
    std::snprintf(answer, sizeof answer, "a0000035:%08x", expected);
    EXPECT_TRUE(controllerGot(answer)) << controller_->log();
    EXPECT_TRUE(controller_->waitForLog("CB:setGain " + std::to_string(expected) + "\n"));
    EXPECT_TRUE(cameraReceived(gainCommand(expected)));
    // The GUI keeps the value it sent.
    EXPECT_TRUE(waitUntil([&] {
        return contains(readFile(guiFolder() + "/QLM_GUI.settings"),
                        "\nSETT_CAMERA_GAIN=" + std::to_string(expected) + "\n");
    }));
}

TEST_F(MenuEndToEndTest, TheMenuWalkToCameraGainRaisesIt) {
    startBoth();
    ASSERT_FALSE(HasFatalFailure());
    // Typed on the keypad, whose keys come once: SELECT opens the menu at its first item,
    // DOWN goes to Camera, RIGHT into it at Camera Gain, SELECT edits the bar and RIGHT
    // raises it; only the change is sent to the controller.
    plugKeypad();
    typeKey("KEY_K", UKEY_SELECT);
    typeKey("KEY_M", UKEY_DOWN);
    typeKey("KEY_J", UKEY_RIGHT);
    typeKey("KEY_K", UKEY_SELECT);
    typeKey("KEY_J", UKEY_RIGHT);
    EXPECT_TRUE(controllerGot("a0000035:00000006")) << controller_->log();
    EXPECT_EQ(OstrixPiProcess::count(gui_->console(), "GUI: Sent message a0000035"), 1u) << gui_->console();
    ASSERT_TRUE(waitUntil([&] { return camera().settings().gain == kFactoryGain + 1; }));
    EXPECT_TRUE(cameraReceived(gainCommand(kFactoryGain + 1)));
}

} // namespace
