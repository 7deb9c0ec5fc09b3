// What the GUI is told about USB sticks and captures: the messages the controller queues
// reach a stand-in GUI through the front-panel object's link.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "controller/core/ImageCapture.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/usb.h"
#include "controller/fpga/fpga.h"
#include "sim/chips/UsbSticks.h"
#include "tests/unit/controller/UserControlsFixture.h"

namespace {

namespace fs = std::filesystem;

message_s shown(uint32_t message, uint32_t ms) {
    return message_s{tEV_MESSAGE | message, ms};
}

class UsbMessagesTest : public input_testing::UserControlsTest {
protected:
    void SetUp() override {
        UserControlsTest::SetUp();
        reset_process_state();
        reset_usb_state();
        std::fill(std::begin(shadow_settings), std::end(shadow_settings), 0);
        guiMessages();
    }
    void TearDown() override {
        fpga.reset();
        reset_usb_state();
        UserControlsTest::TearDown();
    }
    sim::UsbSticks& sticks() { return *board().find<sim::UsbSticks>(); }
    void insert() {
        const std::string folder = root() + "/sim/usb/stick";
        fs::create_directories(folder);
        sticks().insert(1, folder);
    }
    // Every message the GUI got since the last call, in order (the queue is sent one
    // message per pass).
    std::vector<message_s> told() {
        passes(40);
        return guiMessages();
    }
};

TEST_F(UsbMessagesTest, StickInsertedAndRemovedAreShownOnce) {
    insert();
    usb_memory_inserted();
    usb_memory_inserted();
    sticks().remove(1);
    usb_memory_inserted();
    EXPECT_EQ(told(), (std::vector<message_s>{shown(MESS_USB_FLASH_INSERTED, 3000),
                                              shown(MESS_USB_FLASH_REMOVED, 3000)}));
}

TEST_F(UsbMessagesTest, CaptureRefusedWhileAStoredImageIsShownAndWithoutAStick) {
    execute_mode.pngdisplay = 1;
    capture_image();
    EXPECT_EQ(told(), std::vector<message_s>{shown(MESS_IMAGECAPTURE_NOT_AVAILABLE, 3000)});
    EXPECT_TRUE(uc().controlsEnabled());
    execute_mode.pngdisplay = 0;
    capture_image();
    EXPECT_EQ(told(), std::vector<message_s>{shown(MESS_NO_USB_DRIVE, 3000)});
}

TEST_F(UsbMessagesTest, StickThatDoesNotMountIsShownAsNoDrive) {
    insert();
    sticks().setFault(sim::UsbFault::Mount);
    capture_image();
    const std::vector<message_s> got = told();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), shown(MESS_NO_USB_DRIVE, 4000));
}

// A full stick is a failure the user sees: the saving message gives way to "cannot save"
// and nothing clears it as if the picture had been saved.
TEST_F(UsbMessagesTest, FullStickShowsCannotSaveInsteadOfSuccess) {
    fs::create_directories("images");
    fpga = std::make_unique<ostrixFpga>("vp-quickbuild.jic", true);
    insert();
    usb_memory_inserted();
    told();
    sticks().setFault(sim::UsbFault::Full);
    shadow_settings[SETT_IMAGE_SAVE_OPTION] = 3;
    capture_image();
    EXPECT_EQ(told(),
              (std::vector<message_s>{shown(MESS_SAVING_IMAGE, 32000), shown(MESS_CANNOT_SAVE_IMAGE, 3000)}));
}

} // namespace
