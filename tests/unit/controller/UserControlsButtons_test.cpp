// The front-panel buttons and LED through the simulated expander on bus 7, timed by the
// test's clock: keys and auto-repeat, the power button and its combinations, alignment
// mode, the release lock-out and the flags that keep keys from the GUI or the main loop.
#include <gtest/gtest.h>

#include "tests/unit/controller/UserControlsFixture.h"

namespace {

using namespace input_testing;
using Messages = std::vector<message_s>;
using sim::UsbInput;

class ButtonsTest : public UserControlsTest {
protected:
    // Releases everything and waits out the lock-out.
    void releaseAll() {
        hold(0);
        passes(kLockOutPolls);
    }
    // Times (ms after the press) at which the held button's key went out as a repeat.
    std::vector<int> repeatTimes(uint8_t button, int forMs) {
        const size_t before = logged("UC: sent msg from Repeat");
        hold(button);
        std::vector<int> times;
        size_t seen = before;
        for (int t = kPollMs; t <= forMs; t += kPollMs) {
            pass();
            const size_t now = logged("UC: sent msg from Repeat");
            if (now != seen) {
                times.push_back(t);
                seen = now;
            }
        }
        return times;
    }
};

TEST_F(ButtonsTest, EachButtonSendsItsKeyOnPressToTheGuiAndTheMainLoop) {
    const struct {
        uint8_t button;
        uint32_t key;
    } cases[] = {
        {kBtn1, UKEY_SELECT}, {kBtn2, UKEY_UP}, {kBtn3, UKEY_DOWN}, {kBtn4, UKEY_LEFT}, {kBtn5, UKEY_RIGHT}};
    for (const auto& c : cases) {
        hold(c.button);
        hold(0);
        EXPECT_EQ(guiMessages(), Messages{keyMsg(c.key)}) << c.key;
        EXPECT_EQ(drainMain(), Messages{keyMsg(c.key)}) << c.key;
    }
    EXPECT_EQ(panel().value(0, sim::FrontPanelExpander::kConfig), 0x3F);
}

TEST_F(ButtonsTest, AHeldButtonRepeatsAfter330MsThenEvery100MsToTheGuiOnly) {
    // Polls every 10 ms; a repeat goes out on the first poll later than its time.
    EXPECT_EQ(repeatTimes(kBtn2, 700), (std::vector<int>{340, 450, 560, 670}));
    EXPECT_EQ(guiMessages(), Messages(5, keyMsg(UKEY_UP)));
    EXPECT_EQ(drainMain(), Messages{keyMsg(UKEY_UP)});
    hold(0);
    passes(20);
    EXPECT_EQ(guiMessages(), Messages{});
}

TEST_F(ButtonsTest, TheButtonPressedFirstKeepsRepeating) {
    hold(kBtn3);
    hold(kBtn3 | kBtn2);
    passes(40);
    EXPECT_EQ(logged("UC: sent msg from Repeat to GUI 01000003:00000000\n"), 1u);
    EXPECT_EQ(logged("UC: sent msg from Repeat to GUI 01000002"), 0u);
    EXPECT_EQ(drainMain(), Messages(2, keyMsg(UKEY_DOWN)));
}

TEST_F(ButtonsTest, PowerHeldOneSecondExactlyDoesNotPowerOffTheNextPollDoesOnce) {
    hold(kPower);
    passes(100); // 1.000 s
    EXPECT_EQ(drainMain(), Messages{});
    pass();
    EXPECT_EQ(drainMain(), (Messages{{tEV_POWER_OFF, 0}}));
    passes(100);
    hold(0);
    EXPECT_EQ(drainMain(), Messages{}) << "a long press gives no power-on on release";
    EXPECT_EQ(guiMessages(), Messages{});
}

TEST_F(ButtonsTest, PowerReleaseGivesPowerOnOrTheCombinationsCommand) {
    const struct {
        uint8_t held;
        int polls;
        uint32_t command; // 0: none
    } cases[] = {
        {kPower, 1, tEV_POWER_ON},
        {kPower, 99, tEV_POWER_ON},
        {kPower, 100, 0},
        {kBtn1 | kBtn3 | kPower, 5, tEV_SYSUPDATE},
        {kBtn4 | kBtn5 | kPower, 5, tEV_SAVELOG},
        {kBtn2 | kPower, 5, 0},
    };
    for (const auto& c : cases) {
        hold(c.held);
        passes(c.polls);
        drainMain(); // the keys of the other buttons
        hold(0);
        const Messages expected = c.command ? Messages{{c.command, 0}} : Messages{};
        EXPECT_EQ(drainMain(), expected) << int(c.held) << " for " << c.polls;
        passes(kLockOutPolls);
    }
}

TEST_F(ButtonsTest, ButtonsAreIgnoredUntilAllReleasedOn26Polls) {
    hold(kPower);
    hold(0);
    drainMain();
    passes(10);
    hold(kBtn2); // a poll with a button down neither counts nor resets the count
    hold(0);
    passes(kLockOutPolls - 10 - 2);
    hold(kBtn3);
    EXPECT_EQ(drainMain(), Messages{});
    hold(0);
    hold(kBtn3);
    EXPECT_EQ(drainMain(), Messages{keyMsg(UKEY_DOWN)});
}

TEST_F(ButtonsTest, BTN1ThenBTN2AndBTN3ThenReleasingBTN1EntersAlignmentMode) {
    hold(kBtn1);
    hold(kBtn1 | kBtn2 | kBtn3);
    passes(5);
    EXPECT_EQ(uc().mode(), NORMAL_MODE) << "all three held changes nothing";
    drainMain();
    guiMessages();
    hold(kBtn2 | kBtn3);
    EXPECT_EQ(uc().mode(), SETUP_MODE_ALIGN);
    EXPECT_EQ(drainMain(), Messages{keyMsg(UKEY_ALIGN_MODE, SETUP_MODE_ALIGN)});
    EXPECT_EQ(guiMessages(), Messages{}) << "the mode change goes to the main loop only";
    releaseAll();

    hold(kBtn2); // other buttons do nothing in a set-up mode
    hold(0);
    EXPECT_EQ(drainMain(), Messages{});
    hold(kBtn1);
    EXPECT_EQ(uc().mode(), NORMAL_MODE);
    EXPECT_EQ(drainMain(), Messages{keyMsg(UKEY_ALIGN_MODE, NORMAL_MODE)});
}

TEST_F(ButtonsTest, BTN2AndBTN3WithoutBTN1DoNotEnterAlignmentMode) {
    hold(kBtn2 | kBtn3);
    hold(kBtn2);
    hold(kBtn2 | kBtn3);
    EXPECT_EQ(uc().mode(), NORMAL_MODE);
}

TEST_F(ButtonsTest, DisabledControlsSendNoKeysButPowerStillReachesTheMainLoop) {
    uc().enable_controls(false);
    hold(kBtn2);
    passes(40);
    hold(0);
    EXPECT_EQ(drainMain(), Messages{});
    EXPECT_EQ(guiMessages(), Messages{});
    hold(kPower);
    hold(0);
    EXPECT_EQ(drainMain(), (Messages{{tEV_POWER_ON, 0}}));
}

TEST_F(ButtonsTest, IgnoredKeypressesReachTheMainLoopAndRepeatsStillTheGui) {
    uc().ignoreKeypresses(true);
    hold(kBtn4);
    passes(34);
    EXPECT_EQ(drainMain(), Messages{keyMsg(UKEY_LEFT)});
    EXPECT_EQ(guiMessages(), Messages{keyMsg(UKEY_LEFT)}) << "only the repeat";
}

TEST_F(ButtonsTest, TheLedIsRefreshedEveryPass) {
    ASSERT_EQ(uc().user_control_led(2), 0);
    EXPECT_EQ(panel().ledCode(), 2);
    panel().powerOn(); // the expander lost its set-up
    EXPECT_EQ(panel().ledCode(), -1);
    pass();
    EXPECT_EQ(panel().ledCode(), 2);
    uc().disable_polling(true);
    panel().powerOn();
    pass();
    EXPECT_EQ(panel().ledCode(), -1);
    EXPECT_EQ(logged("UC: polling is disabled\n"), 1u);
}

TEST_F(ButtonsTest, AFailedReadSkipsThePoll) {
    ASSERT_TRUE(bus().fail(sim::I2cFault{sim::FrontPanelExpander::kChannel, sim::FrontPanelExpander::kAddress,
                                         sim::I2cFaultKind::Read, sim::I2cFault::kAllRegisters, 1}));
    hold(kBtn5);
    EXPECT_EQ(drainMain(), Messages{});
    pass();
    EXPECT_EQ(drainMain(), Messages{keyMsg(UKEY_RIGHT)});
}

TEST_F(ButtonsTest, StartingTheWorkerAgainKeepsTheOneRunning) {
    uc().run_user_controls(0);
    uc().run_user_controls(0); // a wake-up runs the bring-up again
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    EXPECT_TRUE(eventually([&] { return logged("UC: Keypad/Kbd Connected\n") == 1; }));
    user_controls.reset();
    EXPECT_EQ(logged("KBD: NOTE: USB Kbd[0] Connected\n"), 1u);
}

} // namespace

// A front panel that fails every transfer for 15 s of passes: the first failure is in the
// log with its text and the device list, the repeats are not, and the recovery is.
TEST_F(ButtonsTest, AFailingPanelIsLoggedOnceNotOnEveryPass) {
    constexpr int kFifteenSecondsOfPasses = 1500;
    constexpr size_t kLogBudget = 200 * 1024;
    const size_t before = log().size();
    const std::string devices = "name:init_user_controls";
    const size_t listedBefore = logged(devices);
    for (const auto kind : {sim::I2cFaultKind::Read, sim::I2cFaultKind::Write}) {
        ASSERT_TRUE(
            bus().fail(sim::I2cFault{sim::FrontPanelExpander::kChannel, sim::FrontPanelExpander::kAddress,
                                     kind, sim::I2cFault::kAllRegisters, sim::I2cFault::kAlways}));
    }
    passes(kFifteenSecondsOfPasses);
    EXPECT_LT(log().size() - before, kLogBudget);
    EXPECT_EQ(logged("I2C: ERROR: I2CReadReg8 caller=4 with errno="), 1u);
    EXPECT_EQ(logged(devices) - listedBefore, 2u); // once for the writes, once for the reads

    bus().clearFaults();
    pass();
    EXPECT_EQ(logged("(init_user_controls) by caller 1 ... cleared after "), 1u);
    EXPECT_EQ(logged("(init_user_controls) by caller 4 ... cleared after "), 1u);
}
