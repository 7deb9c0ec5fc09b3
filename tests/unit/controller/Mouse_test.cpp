// The mouse reader's own thread against the simulated USB mouse: clicks and the wheel,
// other events, unplugging and plugging in again.
#include "controller/input/Mouse.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/unit/controller/InputFixture.h"

namespace {

using sim::UsbInput;

class MouseTest : public input_testing::InputTest {
protected:
    void TearDown() override {
        mouse.reset();
        InputTest::TearDown();
    }
    void connect() {
        ASSERT_TRUE(input().plug(UsbInput::kMouse));
        mouse = std::make_unique<Mouse>();
        ASSERT_TRUE(eventually([&] { return mouse->is_open(); }));
    }
    // Waits for `n` events.
    std::vector<mouseMessage> events(size_t n) {
        std::vector<mouseMessage> out;
        eventually([&] {
            mouseMessage m{};
            while (mouse->popMessage(&m) == 1) {
                out.push_back(m);
            }
            return out.size() >= n;
        });
        return out;
    }
    bool command(const std::vector<std::string>& args) { return board().execute(args).ok; }

    std::unique_ptr<Mouse> mouse;
};

TEST_F(MouseTest, AClickGivesPressAndReleaseAndTheWheelItsSteps) {
    connect();
    EXPECT_EQ(logged("MSE: Event 00000017\n"), 1u); // SYN, KEY, REL, MSC
    ASSERT_TRUE(command({"mouse", "left"}));
    ASSERT_TRUE(command({"mouse", "wheel", "-3"}));
    const std::vector<mouseMessage> got = events(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].type, EV_KEY);
    EXPECT_EQ(got[0].code, BTN_LEFT);
    EXPECT_EQ(got[0].value, 1);
    EXPECT_EQ(got[1].code, BTN_LEFT);
    EXPECT_EQ(got[1].value, 0);
    EXPECT_EQ(got[2].type, EV_REL);
    EXPECT_EQ(got[2].code, REL_WHEEL);
    EXPECT_EQ(got[2].value, -3);
    EXPECT_EQ(logged("MSE: WHEEL -3\n"), 1u);
}

TEST_F(MouseTest, OtherEventsAreLoggedButNotPassedOn) {
    connect();
    ASSERT_TRUE(
        input().send(UsbInput::kMouse, {input_event{{}, EV_REL, REL_X, 5}, input_event{{}, EV_SYN, 0, 0}}));
    ASSERT_TRUE(eventually([&] { return logged("MSE: EV type = 2 code = 0 value = 5\n") == 1; }));
    mouseMessage m{};
    EXPECT_EQ(mouse->popMessage(&m), 0);
    ASSERT_TRUE(input().sendRaw(UsbInput::kMouse, std::vector<uint8_t>(sizeof(input_event) - 1, 0)));
    EXPECT_TRUE(eventually([&] { return logged("MSE: Received incomplete frame\n") == 1; }));
}

TEST_F(MouseTest, AnUnpluggedMouseIsClosedAndFoundAgainWhenPluggedIn) {
    connect();
    ASSERT_TRUE(input().unplug(UsbInput::kMouse));
    ASSERT_TRUE(eventually([&] { return !mouse->is_open(); }));
    EXPECT_EQ(logged("MSE: ERROR: Errno 19"), 1u);
    ASSERT_TRUE(input().plug(UsbInput::kMouse));
    ASSERT_TRUE(eventually([&] { return mouse->is_open(); }));
    ASSERT_TRUE(command({"mouse", "right"}));
    EXPECT_EQ(events(2).size(), 2u);
}

TEST_F(MouseTest, AMouseThatCannotBeQueriedIsNotRead) {
    input().failEventBits(UsbInput::kMouse, true);
    ASSERT_TRUE(input().plug(UsbInput::kMouse));
    mouse = std::make_unique<Mouse>();
    ASSERT_TRUE(eventually([&] { return logged("MSE: ERROR: ioctl error") >= 1; }));
    EXPECT_FALSE(mouse->is_open());
    // Not tried again while it stays plugged in; a mouse plugged in anew is.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(logged("MSE: ERROR: ioctl error"), 1u);
    input().failEventBits(UsbInput::kMouse, false);
    ASSERT_TRUE(input().unplug(UsbInput::kMouse));
    ASSERT_TRUE(input().plug(UsbInput::kMouse));
    EXPECT_TRUE(eventually([&] { return mouse->is_open(); }));
}

} // namespace
