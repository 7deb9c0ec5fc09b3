// USB memory end to end: OstrixPi runs on the simulated board with a stand-in GUI,
// ostrix-sim plugs a stick in, the GUI's capture request leaves the stereo picture on the
// stick, and the image-source setting shows it again in the frame store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "tests/support/EndToEnd.h"
#include "tests/support/Pictures.h"
#include "tests/unit/link/StandInGui.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readPng;
using testing_support::RgbImage;

constexpr int kMessageMs = 3000;
constexpr int kStereoPicture = 3; // save option: one side-by-side picture
constexpr uint32_t W = 1920;
constexpr uint32_t H = 1080;

class UsbEndToEndTest : public testing_support::EndToEndTest {
protected:
    std::string stick() const { return scratch() + "/stick"; }
    void SetUp() override {
        EndToEndTest::SetUp();
        fs::create_directories(stick());
    }
};

TEST_F(UsbEndToEndTest, CapturedPictureGoesToTheStickAndComesBack) {
    StandInGui gui([](int index) { return index == SETT_IMAGE_SAVE_OPTION ? kStereoPicture : 0; });
    auto controller = startController();
    ASSERT_TRUE(settingsCollected(*controller));

    ASSERT_EQ(sim({"usb", "insert", stick()}), 0);
    EXPECT_TRUE(gui.waitFor(tEV_MESSAGE | MESS_USB_FLASH_INSERTED, kMessageMs));

    gui.send(tEV_KEY | UKEY_P_IMAGECAPTURE, 0);
    ASSERT_TRUE(controller->waitForLog("MAIN: Total Image Capture time ")) << controller->log();
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(stick())) {
        files.push_back(e.path().filename().string());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(files[0].size() - 6), "_S.png");
    const RgbImage captured = readPng(stick() + "/" + files[0]);
    ASSERT_EQ(captured.width, 2 * W);
    ASSERT_EQ(captured.height, H);
    EXPECT_NE(testing_support::readFile(stick() + "/" + files[0]).find("Eye: left and right"),
              std::string::npos);
    EXPECT_TRUE(gui.waitFor(tEV_MESSAGE | MESS_SAVING_IMAGE, 32000, kMessageMs));

    gui.send(tEV_ACTION | SETT_IMAGE_SOURCE, 1);
    ASSERT_TRUE(controller->waitForLog("MAIN: Left and Right ")) << controller->log();
    ASSERT_TRUE(controller->waitForLog("F: Frame Store write took ")) << controller->log();
    const std::string shown = scratch() + "/shown.png";
    ASSERT_EQ(sim({"framestore", "save", "left", shown}), 0);
    EXPECT_EQ(readPng(shown), testing_support::columns(captured, 0, W));

    ASSERT_EQ(sim({"usb", "remove"}), 0);
    EXPECT_TRUE(gui.waitFor(tEV_MESSAGE | MESS_USB_FLASH_REMOVED, kMessageMs));
    EXPECT_EQ(controller->stop(), 0);
}

} // namespace
