// Keyboard characters and mouse events as the front-panel object turns them into key
// messages in each mode, and the whole path from a simulated keypad to the GUI.
#include <gtest/gtest.h>

#include "controller/core/SettingHandlers.h"
#include "tests/unit/controller/UserControlsFixture.h"

namespace {

using namespace input_testing;
using Messages = std::vector<message_s>;
using sim::UsbInput;

class InputRoutingTest : public UserControlsTest {
protected:
    void TearDown() override {
        hdr_mode = 0;
        UserControlsTest::TearDown();
    }
    // A character from the keyboard reader, handled by one pass.
    Messages type(char c) {
        uc().keyboard().post(&c);
        pass();
        return drainMain();
    }
    Messages mouse(uint16_t type, uint16_t code, int32_t value) {
        mouseMessage m{type, code, value};
        uc().mouse_reader().post(&m);
        pass();
        return drainMain();
    }
    // Alignment mode by the front-panel buttons.
    void enterAlignment() {
        hold(kBtn1);
        hold(kBtn1 | kBtn2 | kBtn3);
        hold(kBtn2 | kBtn3);
        hold(0);
        passes(kLockOutPolls);
        drainMain();
        ASSERT_EQ(uc().mode(), SETUP_MODE_ALIGN);
    }
};

struct CharCase {
    char c;
    int key; // -1: nothing sent
    uint32_t data;
};

void expectKeys(InputRoutingTest* test, const std::vector<CharCase>& cases, const char* mode,
                const std::function<Messages(char)>& type) {
    for (const CharCase& c : cases) {
        const Messages expected =
            c.key < 0 ? Messages{} : Messages{keyMsg(static_cast<uint32_t>(c.key), c.data)};
        EXPECT_EQ(type(c.c), expected) << mode << " '" << c.c << "'";
    }
}

TEST_F(InputRoutingTest, NormalModeCharacters) {
    const std::vector<CharCase> cases = {
        {'V', UKEY_P1, 0},          {'B', UKEY_P2, 0},
        {'N', UKEY_P3, 0},          {'i', UKEY_UP, 0},
        {'m', UKEY_DOWN, 0},        {'l', UKEY_LEFT, 0},
        {'j', UKEY_RIGHT, 0},       {'k', UKEY_SELECT, 0},
        {'r', UKEY_RING_UP, 0},     {'f', UKEY_RING_DOWN, 0},
        {'s', UKEY_SUBSTAGE_UP, 0}, {'x', UKEY_SUBSTAGE_DOWN, 0},
        {'t', UKEY_GAIN_UP, 0},     {'g', UKEY_GAIN_DOWN, 0},
        {'y', UKEY_EXPOSURE_UP, 0}, {'h', UKEY_EXPOSURE_DOWN, 0},
        {'b', UKEY_P2_SHORT, 0},    {'v', UKEY_P1_SHORT, 0},
        {'n', UKEY_P3_SHORT, 0},    {'q', -1, 0},
    };
    expectKeys(this, cases, "normal", [this](char c) { return type(c); });
    EXPECT_EQ(uc().activePreset(), PRESET03);
    EXPECT_EQ(logged("WARNING: UC unimplemented keypad/kbd button\n"), 1u);
    EXPECT_EQ(guiMessages().size(), cases.size() - 1);
}

TEST_F(InputRoutingTest, SetUpModesAndTheirScreens) {
    enterAlignment();
    std::vector<CharCase> align = {
        {'b', -1, 0}, // screen 1
        {'i', UKEY_ALIGN_UP, 1},
        {'m', UKEY_ALIGN_DOWN, 1},
        {'l', UKEY_ALIGN_LEFT, 1},
        {'j', UKEY_ALIGN_RIGHT, 1},
        {'k', UKEY_ALIGN_RESET, 1},
        {'r', UKEY_ALIGN_ROTL, 1},
        {'f', UKEY_ALIGN_ROTR, 1},
        {'s', UKEY_ALIGN_ROTR, 1},
        {'x', UKEY_ALIGN_ROTL, 1},
        {'t', UKEY_GAIN_UP, 1},
        {'V', -1, 0},
        {'v', -1, 0}, // screen 0
        {'h', UKEY_EXPOSURE_DOWN, 0},
        {'n', UKEY_ALIGN_MODE, SETUP_MODE_DIVERGENT},
    };
    expectKeys(this, align, "align", [this](char c) { return type(c); });
    ASSERT_EQ(uc().mode(), SETUP_MODE_DIVERGENT);
    std::vector<CharCase> divergent = {
        {'i', -1, 0},
        {'l', UKEY_DIVERGENT_IN, 2},
        {'j', UKEY_DIVERGENT_OUT, 2},
        {'k', UKEY_DIVERGENT_RESET, 0},
        {'r', -1, 0},
        {'v', -1, 0},
        {'g', UKEY_GAIN_DOWN, 2},
        {'n', UKEY_ALIGN_MODE, SETUP_MODE_BRIGHTNESS},
    };
    expectKeys(this, divergent, "divergent", [this](char c) { return type(c); });
    ASSERT_EQ(uc().mode(), SETUP_MODE_BRIGHTNESS);
    std::vector<CharCase> brightness = {
        {'l', -1, 0},
        {'k', UKEY_BRIGHTNESS_RESET, 0},
        {'r', UKEY_BRIGHTNESS_RIGHT_INC, 3},
        {'f', UKEY_BRIGHTNESS_RIGHT_DEC, 3},
        {'s', UKEY_BRIGHTNESS_LEFT_INC, 3},
        {'x', UKEY_BRIGHTNESS_LEFT_DEC, 3},
        {'y', UKEY_EXPOSURE_UP, 3},
        {'n', UKEY_ALIGN_MODE, SETUP_MODE_ALIGN},
    };
    expectKeys(this, brightness, "brightness", [this](char c) { return type(c); });
    EXPECT_EQ(uc().mode(), SETUP_MODE_ALIGN);
    EXPECT_EQ(type('i'), Messages{keyMsg(UKEY_ALIGN_UP, 0)});
}

TEST_F(InputRoutingTest, KeypadConnectAndDisconnectAreMessagesInEveryMode) {
    const Messages connected = {{tEV_MESSAGE | MESS_KEYPAD_CONNECTED, 3000}};
    const Messages disconnected = {{tEV_MESSAGE | MESS_KEYPAD_DISCONNECTED, 3000}};
    EXPECT_EQ(type(KBD_CONNECTED), connected);
    enterAlignment();
    EXPECT_EQ(type(KBD_DISCONNECTED), disconnected);
    EXPECT_EQ(logged("UC: Keypad/Kbd Connected\n"), 1u);
    EXPECT_EQ(logged("UC: Keypad/Kbd Disconnected\n"), 1u);
}

TEST_F(InputRoutingTest, MouseButtonsAndWheel) {
    const struct {
        uint16_t type, code;
        int32_t value;
        int hdr;
        int key;
        uint32_t data;
    } cases[] = {
        {EV_KEY, BTN_LEFT, 1, 0, UKEY_P_IMAGECAPTURE, 0},
        {EV_KEY, BTN_LEFT, 0, 0, UKEY_P_IMAGECAPTURE, 0}, // releases too
        {EV_KEY, BTN_MIDDLE, 1, 0, UKEY_P1, 0},
        {EV_KEY, BTN_RIGHT, 0, 0, UKEY_P2, 0},
        {EV_KEY, 113, 1, 0, UKEY_HDR_MODE_TOGGLE, 0},
        {EV_KEY, 113, 0, 0, -1, 0},
        {EV_KEY, 115, 0, 0, UKEY_HDR_RATIO_UP, 0},
        {EV_KEY, 114, 1, 0, UKEY_HDR_RATIO_DOWN, 0},
        {EV_KEY, BTN_SIDE, 1, 0, -1, 0},
        {EV_REL, REL_WHEEL, 2, 0, -1, 0},
        {EV_REL, REL_WHEEL, 2, 1, UKEY_HDR_EXPOSURE_DOWN, 2},
        {EV_REL, REL_WHEEL, -1, 1, UKEY_HDR_EXPOSURE_UP, 0xFFFFFFFF},
        {EV_REL, REL_WHEEL, 0, 1, -1, 0},
    };
    for (const auto& c : cases) {
        hdr_mode = c.hdr;
        const Messages expected =
            c.key < 0 ? Messages{} : Messages{keyMsg(static_cast<uint32_t>(c.key), c.data)};
        EXPECT_EQ(mouse(c.type, c.code, c.value), expected) << c.code << " " << c.value;
    }
}

TEST_F(InputRoutingTest, TheWheelMovesTheDivergentScreen) {
    enterAlignment();
    type('n');
    ASSERT_EQ(uc().mode(), SETUP_MODE_DIVERGENT);
    hdr_mode = 1;
    EXPECT_EQ(mouse(EV_REL, REL_WHEEL, 1), Messages{keyMsg(UKEY_ALIGN_LEFT, 2)});
    EXPECT_EQ(mouse(EV_REL, REL_WHEEL, -4), Messages{keyMsg(UKEY_ALIGN_RIGHT, 2)});
}

TEST_F(InputRoutingTest, AKeyTypedOnTheSimulatedKeypadReachesTheGui) {
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    uc().keyboard().scan_pass();
    pass();
    ASSERT_TRUE(input().key(UsbInput::kKeypad, KEY_T, 1));
    uc().keyboard().scan_pass();
    pass();
    const Messages expected = {{tEV_MESSAGE | MESS_KEYPAD_CONNECTED, 3000}, keyMsg(UKEY_GAIN_UP)};
    EXPECT_EQ(guiMessages(), expected);
    EXPECT_EQ(drainMain(), expected);
    EXPECT_EQ(logged("UC: sent msg from Keypad/kbd to GUI 0100002a:00000000\n"), 1u);
}

} // namespace
