// The keyboard reader against the simulated USB keyboards and keypad: discovery and hot
// plug, the characters of immediate and preset keys with their timing, whole and partial
// records, and a device whose event-bit query fails.
#include "controller/input/Kbd.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/unit/controller/InputFixture.h"

namespace {

using sim::UsbInput;

class KbdTest : public input_testing::InputTest {
protected:
    void SetUp() override {
        InputTest::SetUp();
        kbd = std::make_unique<Kbd>();
        kbd->set_clock(clock.clock());
    }
    void TearDown() override {
        kbd.reset();
        InputTest::TearDown();
    }

    // Every character queued so far.
    std::string chars() {
        std::string out;
        char c = 0;
        while (kbd->popMessage(&c) == 1) {
            out += c;
        }
        return out;
    }
    // Plugs a device in and lets the reader open it; its connect character is dropped.
    void connect(int slot) {
        ASSERT_TRUE(input().plug(slot));
        kbd->scan_pass();
        ASSERT_EQ(chars(), std::string(1, KBD_CONNECTED));
    }
    void key(uint16_t code, int32_t value, int slot = UsbInput::kKeypad) {
        ASSERT_TRUE(input().key(slot, code, value));
        kbd->scan_pass();
    }

    std::unique_ptr<Kbd> kbd;
};

const std::string kConnected(1, KBD_CONNECTED);
const std::string kDisconnected(1, KBD_DISCONNECTED);

TEST_F(KbdTest, APluggedKeypadIsAnnouncedAndItsCapsLockLit) {
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    EXPECT_EQ(input().capsLock(UsbInput::kKeypad), 0);
    EXPECT_EQ(kbd->scan_pass(), 1);
    EXPECT_EQ(chars(), kConnected);
    EXPECT_EQ(input().capsLock(UsbInput::kKeypad), 1);
    EXPECT_EQ(logged("KBD: NOTE: USB Kbd[0] Connected\n"), 1u);
    EXPECT_EQ(logged("KBD: Event 00120013\n"), 1u); // SYN, KEY, MSC, LED, REP
    EXPECT_EQ(logged("KBD: Has Buttons Event - 1\n"), 1u);
    EXPECT_EQ(logged("KBD: file exists\n"), 1u);
}

TEST_F(KbdTest, ImmediateKeysGiveTheirCharacterOnPressAndEveryRepeat) {
    connect(UsbInput::kKeypad);
    const struct {
        uint16_t code;
        char c;
    } keys[] = {{KEY_R, 'r'}, {KEY_T, 't'}, {KEY_Y, 'y'}, {KEY_I, 'i'}, {KEY_S, 's'},
                {KEY_F, 'f'}, {KEY_G, 'g'}, {KEY_H, 'h'}, {KEY_J, 'j'}, {KEY_K, 'k'},
                {KEY_L, 'l'}, {KEY_X, 'x'}, {KEY_M, 'm'}};
    for (const auto& k : keys) {
        key(k.code, 1);
        key(k.code, 2);
        key(k.code, 2);
        key(k.code, 0);
        EXPECT_EQ(chars(), std::string(3, k.c)) << k.c;
    }
    key(KEY_Q, 1); // not one of the system's keys
    key(KEY_Q, 0);
    EXPECT_EQ(chars(), "");
}

TEST_F(KbdTest, PresetKeysAreShortOnReleaseAndLongOnceAfterOneAndAHalfSeconds) {
    connect(UsbInput::kKeypad);
    const struct {
        uint16_t code;
        char shortPress, longPress;
    } keys[] = {{KEY_V, 'v', 'V'}, {KEY_B, 'b', 'B'}, {KEY_N, 'n', 'N'}};
    for (const auto& k : keys) {
        key(k.code, 1);
        clock.advance(1500); // exactly 1.5 s is still short
        key(k.code, 2);
        key(k.code, 0);
        EXPECT_EQ(chars(), std::string(1, k.shortPress));

        key(k.code, 1);
        for (int held = 250; held <= 2000; held += 250) {
            clock.advance(250);
            key(k.code, 2);
        }
        EXPECT_EQ(chars(), std::string(1, k.longPress));
        key(k.code, 0);
        EXPECT_EQ(chars(), "") << "nothing on release after a long press";
    }
}

TEST_F(KbdTest, TheFirstKeyHeldWinsUntilItIsReleased) {
    connect(UsbInput::kKeypad);
    key(KEY_I, 1);
    key(KEY_J, 1);
    key(KEY_J, 0); // another key's release does not end the held one
    key(KEY_I, 2);
    key(KEY_I, 0);
    key(KEY_J, 1);
    EXPECT_EQ(chars(), "iiij");
}

TEST_F(KbdTest, ASixthKeyboardWaitsForAFreeSlot) {
    for (int slot = 0; slot < 6; ++slot) {
        ASSERT_TRUE(input().plug(slot));
    }
    EXPECT_EQ(kbd->scan_pass(), Kbd::MAX_KBDS);
    EXPECT_EQ(chars(), std::string(Kbd::MAX_KBDS, KBD_CONNECTED));
    for (int slot = 0; slot < Kbd::MAX_KBDS; ++slot) {
        EXPECT_NE(kbd->name_of(slot), input().byPathLink(5)) << slot;
    }
    ASSERT_TRUE(input().unplug(2));
    kbd->scan_pass();
    EXPECT_EQ(chars(), kDisconnected);
    kbd->scan_pass();
    EXPECT_EQ(chars(), kConnected);
    EXPECT_EQ(kbd->name_of(2), input().byPathLink(5));
}

TEST_F(KbdTest, KeyboardsPluggedBesideAKnownOneAreFound) {
    connect(2);
    ASSERT_TRUE(input().plug(UsbInput::kKeypad)); // sorts before keyboard 2
    ASSERT_TRUE(input().plug(3));                 // sorts after it
    EXPECT_EQ(kbd->scan_pass(), 3);
    EXPECT_EQ(chars(), kConnected + kConnected);
}

TEST_F(KbdTest, UnplugWhileReadingIsReportedOnceAndTheReaderIdles) {
    connect(UsbInput::kKeypad);
    key(KEY_I, 1); // held while unplugged
    ASSERT_TRUE(input().unplug(UsbInput::kKeypad));
    EXPECT_EQ(kbd->scan_pass(), 0);
    EXPECT_EQ(chars(), "i" + kDisconnected);
    EXPECT_EQ(logged("KBD: ERROR: Errno 19"), 1u);
    EXPECT_EQ(logged("KBD: USB Kbd Disconnected\n"), 1u);
    for (int pass = 0; pass < 5; ++pass) {
        EXPECT_EQ(kbd->scan_pass(), 0); // nothing open: the thread sleeps between passes
    }
    EXPECT_EQ(chars(), "");

    connect(UsbInput::kKeypad);
    key(KEY_J, 1);
    EXPECT_EQ(chars(), "j") << "the replugged keypad starts with no key held";
}

TEST_F(KbdTest, WholeRecordsAreReadAsSuchAndAPartialOneIsRefused) {
    connect(UsbInput::kKeypad);
    // Three key presses and releases in one read.
    std::vector<input_event> events;
    for (uint16_t code : {uint16_t{KEY_T}, uint16_t{KEY_G}, uint16_t{KEY_Y}}) {
        events.push_back(input_event{{}, EV_KEY, code, 1});
        events.push_back(input_event{{}, EV_KEY, code, 0});
    }
    ASSERT_TRUE(input().send(UsbInput::kKeypad, events));
    kbd->scan_pass();
    EXPECT_EQ(chars(), "tgy");

    // A 16-byte frame is a whole record only where records are 16 bytes long.
    const std::vector<uint8_t> sixteen(16, 0);
    ASSERT_TRUE(input().sendRaw(UsbInput::kKeypad, sixteen));
    kbd->scan_pass();
    EXPECT_EQ(logged("KBD: Received incomplete frame\n"), sizeof(input_event) == 16 ? 0u : 1u);
    std::vector<uint8_t> partial(sizeof(input_event) + sizeof(input_event) / 2, 0);
    ASSERT_TRUE(input().sendRaw(UsbInput::kKeypad, partial));
    kbd->scan_pass();
    EXPECT_EQ(logged("KBD: Received incomplete frame\n"), sizeof(input_event) == 16 ? 1u : 2u);
    EXPECT_EQ(chars(), "");
}

TEST_F(KbdTest, ADisabledReaderQueuesNothingAndPutsCapsLockOut) {
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    kbd->enable(false);
    kbd->scan_pass();
    key(KEY_I, 1);
    key(KEY_I, 0);
    ASSERT_TRUE(input().unplug(UsbInput::kKeypad));
    kbd->scan_pass();
    EXPECT_EQ(chars(), "");
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    kbd->scan_pass();
    EXPECT_EQ(input().capsLock(UsbInput::kKeypad), 0);
    kbd->enable(true);
    EXPECT_EQ(input().capsLock(UsbInput::kKeypad), 1);
}

TEST_F(KbdTest, AKeyboardThatCannotBeQueriedIsLeftAloneUntilItGoes) {
    input().failEventBits(UsbInput::kKeypad, true);
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    for (int pass = 0; pass < 5; ++pass) {
        EXPECT_EQ(kbd->scan_pass(), 0);
    }
    EXPECT_EQ(chars(), "");
    EXPECT_EQ(logged("KBD: ERROR: ioctl error"), 1u);
    ASSERT_TRUE(input().plug(1)); // the other slots still work
    kbd->scan_pass();
    EXPECT_EQ(chars(), kConnected);

    input().failEventBits(UsbInput::kKeypad, false);
    ASSERT_TRUE(input().unplug(UsbInput::kKeypad));
    kbd->scan_pass();
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    kbd->scan_pass();
    EXPECT_EQ(chars(), kConnected);
}

} // namespace
