// The simulated front panel as the Pi's I2C controller sees it on switch channel 7:
// buttons pull their input pins low, the LED code shows on the output pins.
#include <gtest/gtest.h>

#include "TempRoot.h"
#include "platform/platform.h"
#include "platform/wiringPi.h"
#include "sim/chips/FrontPanel.h"

namespace {

constexpr uint8_t kSwitch = 0x70;
constexpr int kChannel7 = 0x80;

class FrontPanelTest : public testing_support::SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        pinModeAlt(2, FSEL_ALT0);
        pinModeAlt(3, FSEL_ALT0);
        switchFd_ = wiringPiI2CSetup(kSwitch);
        ASSERT_EQ(wiringPiI2CWrite(switchFd_, kChannel7), 0);
        fd_ = wiringPiI2CSetup(sim::FrontPanelExpander::kAddress);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        platform::i2cClose(fd_);
        platform::i2cClose(switchFd_);
        SimBoardTest::TearDown();
    }
    sim::FrontPanelExpander& panel() { return *board().find<sim::FrontPanelExpander>(); }
    int input() { return wiringPiI2CReadReg8(fd_, sim::FrontPanelExpander::kInput); }

    int switchFd_ = -1;
    int fd_ = -1;
};

TEST_F(FrontPanelTest, EachButtonPullsItsOwnPinLow) {
    EXPECT_EQ(input(), 0xFF);
    const struct {
        const char* name;
        int pins;
    } buttons[] = {{"BTN1", 0xDF}, {"BTN2", 0xEF}, {"BTN3", 0xF7},
                   {"BTN4", 0xFB}, {"BTN5", 0xFD}, {"POWER", 0xFE}};
    for (const auto& b : buttons) {
        ASSERT_TRUE(board().execute({"button", b.name, "press"}).ok) << b.name;
        EXPECT_EQ(input(), b.pins) << b.name;
        ASSERT_TRUE(board().execute({"button", b.name, "release"}).ok);
    }
    panel().hold(0x21); // BTN1 and power
    EXPECT_EQ(input(), 0xDE);
    // A chord changes in one step: the alignment entry holds three, then lets BTN1 go.
    panel().hold(0);
    ASSERT_TRUE(board().execute({"button", "BTN2+BTN3+BTN1", "press"}).ok);
    EXPECT_EQ(input(), 0xC7);
    ASSERT_TRUE(board().execute({"button", "BTN1", "release"}).ok);
    EXPECT_EQ(input(), 0xE7);
}

TEST_F(FrontPanelTest, TheLedShowsOnlyOnceItsPinsAreOutputs) {
    ASSERT_EQ(wiringPiI2CWriteReg8(fd_, sim::FrontPanelExpander::kOutput, 0x80), 0);
    EXPECT_EQ(panel().ledCode(), -1);
    ASSERT_EQ(wiringPiI2CWriteReg8(fd_, sim::FrontPanelExpander::kConfig, 0x3F), 0);
    EXPECT_EQ(panel().ledCode(), 2);
    panel().press(0);
    EXPECT_EQ(input(), 0x80 | 0x1F); // outputs read back, BTN1 low
    EXPECT_NE(board().statusJson().find("\"front_panel\":{\"pressed\":[\"BTN1\"],\"led\":2}"),
              std::string::npos);
}

TEST_F(FrontPanelTest, BadButtonCommandsAreRefused) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"button"},
                                               {"button", "BTN7", "press"},
                                               {"button", "BTN1", "push"},
                                               {"button", "BTN1"},
                                               {"button", "BTN1+", "press"},
                                               {"button", "BTN1+BTN9", "press"},
                                               {"button", "+", "press"}}) {
        EXPECT_FALSE(board().execute(args).ok) << args.size();
    }
    EXPECT_EQ(panel().held(), 0);
}

} // namespace
