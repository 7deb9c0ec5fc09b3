// The simulated USB keyboards, keypad and mouse: device nodes and links as hot plug makes
// and removes them, the records a reader gets, the event-bit query and its fault.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "TempRoot.h"
#include "platform/platform.h"
#include "sim/chips/UsbInput.h"

namespace {

using sim::UsbInput;
namespace fs = std::filesystem;

class UsbInputTest : public testing_support::SimBoardTest {
protected:
    void TearDown() override {
        if (fd_ >= 0) {
            close(fd_);
        }
        SimBoardTest::TearDown();
    }
    UsbInput& input() { return *board().find<UsbInput>(); }
    void openReader(int slot) {
        fd_ = open(input().byPathLink(slot).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd_, 0);
    }
    std::vector<input_event> readEvents() {
        std::vector<input_event> events(256);
        const ssize_t n = platform::inputRead(fd_, events.data(), events.size() * sizeof(input_event));
        EXPECT_EQ(n % static_cast<ssize_t>(sizeof(input_event)), 0);
        events.resize(n > 0 ? static_cast<size_t>(n) / sizeof(input_event) : 0);
        return events;
    }
    static std::vector<int32_t> keyValues(const std::vector<input_event>& events) {
        std::vector<int32_t> values;
        for (const input_event& ev : events) {
            if (ev.type == EV_KEY) {
                values.push_back(ev.value);
            }
        }
        return values;
    }
    sim::CommandResult run(const std::vector<std::string>& args) { return board().execute(args); }

    int fd_ = -1;
};

TEST_F(UsbInputTest, PluggingMakesTheNodeItsLinksAndTheCapsLockFile) {
    const int slots[] = {UsbInput::kKeypad, 3, UsbInput::kMouse};
    for (int slot : slots) {
        ASSERT_TRUE(input().plug(slot));
        EXPECT_TRUE(fs::is_fifo(input().byPathLink(slot))) << slot;
        EXPECT_TRUE(fs::is_fifo(input().byIdLink(slot))) << slot;
        EXPECT_EQ(input().capsLock(slot), slot == UsbInput::kMouse ? -1 : 0) << slot;
    }
    EXPECT_EQ(fs::path(input().byIdLink(UsbInput::kKeypad)).filename(), "usb-Marovec_keypad-event-kbd");
    EXPECT_NE(board().statusJson().find("{\"name\":\"keyboard3\",\"node\":\"event3\",\"capslock\":0}"),
              std::string::npos);
    for (int slot : slots) {
        ASSERT_TRUE(input().unplug(slot));
        EXPECT_FALSE(fs::exists(fs::symlink_status(input().byPathLink(slot)))) << slot;
        EXPECT_FALSE(fs::exists(fs::symlink_status(input().byIdLink(slot)))) << slot;
        EXPECT_FALSE(fs::exists(input().nodePath(slot))) << slot;
        EXPECT_EQ(input().capsLock(slot), -1);
    }
}

TEST_F(UsbInputTest, AReaderSeesIdleThenRecordsThenTheDeviceGone) {
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    openReader(UsbInput::kKeypad);
    char byte = 0;
    errno = 0;
    EXPECT_EQ(platform::inputRead(fd_, &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_TRUE(run({"key", "KEY_K"}).ok);
    const std::vector<input_event> events = readEvents();
    ASSERT_EQ(events.size(), 6u); // scan code, key, report; twice
    EXPECT_EQ(events[1].type, EV_KEY);
    EXPECT_EQ(events[1].code, KEY_K);
    EXPECT_EQ(keyValues(events), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(events[2].type, EV_SYN);
    ASSERT_TRUE(input().unplug(UsbInput::kKeypad));
    errno = 0;
    EXPECT_EQ(platform::inputRead(fd_, &byte, 1), -1);
    EXPECT_EQ(errno, ENODEV);
}

TEST_F(UsbInputTest, AHeldKeyRepeatsAtTheKernelsRate) {
    ASSERT_TRUE(input().plug(1));
    openReader(1);
    ASSERT_TRUE(run({"key", "b", "--hold", "300"}).ok); // repeats at 250 and 283 ms
    EXPECT_EQ(keyValues(readEvents()), (std::vector<int32_t>{1, 2, 2, 0}));
}

TEST_F(UsbInputTest, SingleEventsGiveAKeyHeldAsLongAsTheUserHoldsIt) {
    ASSERT_TRUE(input().plug(UsbInput::kKeypad));
    openReader(UsbInput::kKeypad);
    for (const char* event : {"press", "repeat", "repeat", "release"}) {
        ASSERT_TRUE(run({"key", "V", "--event", event}).ok) << event;
    }
    EXPECT_EQ(keyValues(readEvents()), (std::vector<int32_t>{1, 2, 2, 0}));
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"key", "V", "--event", "down"},
                                               {"key", "V", "--event", "press", "--hold", "10"},
                                               {"key", "V", "--event"}}) {
        EXPECT_FALSE(run(args).ok) << args.back();
    }
}

TEST_F(UsbInputTest, EventBitsNameTheDeviceKindAndCanFail) {
    ASSERT_TRUE(input().plug(UsbInput::kMouse));
    fd_ = open(input().byIdLink(UsbInput::kMouse).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd_, 0);
    uint8_t bits[31] = {};
    ASSERT_EQ(platform::inputEventBits(fd_, bits, sizeof bits), static_cast<int>(sizeof(long)));
    EXPECT_EQ(bits[0], 0x17); // SYN, KEY, REL, MSC
    ASSERT_TRUE(run({"input", "fail-bits", "mouse", "on"}).ok);
    EXPECT_EQ(platform::inputEventBits(fd_, bits, sizeof bits), -1);
    ASSERT_TRUE(run({"mouse", "wheel", "-2"}).ok);
    const std::vector<input_event> events = readEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, EV_REL);
    EXPECT_EQ(events[0].code, REL_WHEEL);
    EXPECT_EQ(events[0].value, -2);
}

TEST_F(UsbInputTest, CommandsWithoutADeviceOrAReaderFail) {
    const std::vector<std::vector<std::string>> refused = {
        {"key", "V"},      // nothing plugged
        {"mouse", "left"}, // no mouse
        {"keyboard", "plug", "9"},
        {"keyboard", "plug"},
        {"key", "NOSUCHKEY"},
        {"key", "V", "--hold", "5000"},
        {"mouse", "wheel", "x"},
    };
    for (const auto& args : refused) {
        EXPECT_FALSE(run(args).ok) << args[0] << " " << args[1];
    }
    ASSERT_TRUE(run({"keypad", "plug"}).ok);
    EXPECT_FALSE(run({"key", "V"}).ok) << "nobody reads the keypad";
    EXPECT_TRUE(run({"keypad", "unplug"}).ok);
}

} // namespace
