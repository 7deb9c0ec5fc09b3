// The front-panel object's message routing: the main loop's messages out to the GUI, the
// GUI's messages in to the main loop, over the real UDP ports.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/unit/controller/MainLoopFixture.h"
#include "tests/unit/link/StandInGui.h"

namespace {

constexpr int kWorkerPort = 1531;

class UserControlsTest : public loop_testing::MainLoopTest {
protected:
    void create() { user_controls = std::make_unique<UserControls>(); }
    void start() { user_controls->run_user_controls(kWorkerPort); }

    static int push(uint32_t command, uint32_t data = 0) {
        message_s msg{command, data};
        return user_controls->pushMessage(&msg);
    }

    // Polls a condition that another thread or process makes true.
    template <typename Condition> static bool eventually(Condition condition) {
        for (int attempt = 0; attempt < 5000; ++attempt) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return condition();
    }

    // Pops n messages for the main loop, waiting for each.
    static std::vector<message_s> popMessages(size_t n) {
        std::vector<message_s> messages;
        eventually([&] {
            message_s msg{};
            while (messages.size() < n && user_controls->popMessage(&msg) == 1) {
                messages.push_back(msg);
            }
            return messages.size() == n;
        });
        return messages;
    }
};

using Bytes = std::vector<uint8_t>;

TEST_F(UserControlsTest, QueuedMessagesGoToTheGuiInOrderAndZoomIsNotLogged) {
    StandInGui gui;
    create();
    ASSERT_EQ(push(tEV_MESSAGE | MESS_PREPARING_CAMERA_BOARD, 15000), 0);
    ASSERT_EQ(push(tEV_ZOOMVAL, 42), 0);
    ASSERT_EQ(push(tEV_KEY | UKEY_P_IMAGECAPTURE, 0), 0);
    start();
    ASSERT_TRUE(eventually([&] { return gui.datagrams().size() == 3; }));

    const std::vector<Bytes> expected = {{0x90, 0x00, 0x00, 0x25, 0x00, 0x00, 0x3A, 0x98},
                                         {0x62, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A},
                                         {0x01, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x00}};
    EXPECT_EQ(gui.datagrams(), expected);
    EXPECT_EQ(logged("UC: Sent Message from MAIN to GUI 90000025:00003a98\n"), 1u);
    EXPECT_EQ(logged("UC: Sent Message from MAIN to GUI 01000013:00000000\n"), 1u);
    EXPECT_EQ(logged("62000000:"), 0u);
    // The client logs a send after it: the last line may follow the last datagram.
    EXPECT_TRUE(eventually([&] { return logged("CC: Sent message to port 1530\n") == 2u; }));
    EXPECT_EQ(logged("CC: Sent message to port 1530\n"), 2u);
}

TEST_F(UserControlsTest, GuiMessagesReachTheMainLoopWithTheirLogLines) {
    StandInGui gui;
    create();
    start();
    const std::vector<uint32_t> commands = {
        tEV_KEY | UKEY_P_UP,
        tEV_KEY | UKEY_P_DOWN,
        tEV_KEY | UKEY_P_IMAGECAPTURE,
        tEV_ACTION_BEEP | SETT_PRESET_P1_SHORT,
        tEV_ACTION_BEEP | SETT_PRESET_P2_SHORT,
        tEV_ACTION_BEEP | SETT_PRESET_P3_SHORT,
        tEV_ACTION_BEEP | SETT_PRESET_P1,
        tEV_ACTION_BEEP | SETT_PRESET_P2,
        tEV_ACTION_BEEP | SETT_PRESET_P3,
        tEV_ACTION | SETT_PRESET_P1, // chosen without the select key: not named
        tEV_KEY | UKEY_ALIGN_MODE,
    };
    for (uint32_t command : commands) {
        gui.send(command, 7);
    }
    const std::vector<message_s> popped = popMessages(commands.size());
    ASSERT_EQ(popped.size(), commands.size());
    for (size_t i = 0; i < commands.size(); ++i) {
        EXPECT_EQ(popped[i].command, commands[i]);
        EXPECT_EQ(popped[i].data, 7u);
    }
    for (const char* line : {"UC: got prog UP key\n", "UC: got prog DOWN key\n", "UC: got IMAGECAPTURE key\n",
                             "Setting for P1 Short\n", "Setting for P2 Short\n", "Setting for P3 Short\n",
                             "Setting for P2 Long\n", "Setting for P3 Long\n"}) {
        EXPECT_EQ(logged(line), 1u) << line;
    }
    EXPECT_EQ(logged("Setting for P1 Long\n"), 1u); // only the tEV_ACTION_BEEP one
    EXPECT_EQ(logged("UC: got message 01000014:00000007\n"), 1u);
}

TEST_F(UserControlsTest, AnEmptyReceiveQueueGivesNothingQuietly) {
    create();
    message_s msg{0x12345678, 0x9};
    EXPECT_EQ(user_controls->popMessage(&msg), 0);
    EXPECT_EQ(msg.command, 0x12345678u);
    EXPECT_EQ(logged("Attempted POP"), 0u);
}

TEST_F(UserControlsTest, TheTransmitQueueHoldsFifteenMessages) {
    StandInGui gui;
    create();
    for (uint32_t i = 0; i < 15; ++i) {
        ASSERT_EQ(push(tEV_COPYFB | i, i), 0);
    }
    EXPECT_EQ(push(tEV_COPYFB | 15, 15), MSGFIFO_FULL);
    start();
    ASSERT_TRUE(eventually([&] { return gui.received().size() == 15; }));
    const std::vector<message_s> received = gui.received();
    EXPECT_EQ(received.back().command, tEV_COPYFB | 14);
    EXPECT_FALSE(gui.hasReceived(tEV_COPYFB | 15, 15));
}

TEST_F(UserControlsTest, MessagesWithoutAGuiAreLostWithoutAnError) {
    create();
    start();
    ASSERT_EQ(push(tEV_IMAGEFORMAT, 1), 0);
    ASSERT_EQ(push(tEV_MESSAGE, 0), 0);
    ASSERT_TRUE(eventually([&] { return logged("UC: Sent Message from MAIN to GUI") == 2; }));
    EXPECT_TRUE(eventually([&] { return logged("CC: Sent message to port 1530\n") == 2; }));

    StandInGui gui;
    ASSERT_EQ(push(tEV_MESSAGE | MESS_NONE, 0), 0);
    ASSERT_TRUE(eventually([&] { return gui.received().size() == 1; }));
    EXPECT_EQ(gui.received()[0].command, tEV_MESSAGE);
    EXPECT_EQ(logged("CC: ERROR"), 0u);
}

TEST_F(UserControlsTest, AMissingControlBoardIsReportedOnce) {
    create();
    start();
    EXPECT_EQ(user_controls->isConnected(), 0);
    EXPECT_EQ(user_controls->user_control_led(7), -1);
    EXPECT_EQ(user_controls->ledColourCode(), 3); // the code is two bits
    EXPECT_EQ(logged("ERROR: configuring User Control Board for UserControls"), 1u);
    EXPECT_EQ(logged("ERROR: configuring User Control Board"), 1u);
}

TEST_F(UserControlsTest, DestroyingTheObjectStopsTheWorkerAndFreesThePort) {
    create();
    start();
    user_controls.reset();
    EXPECT_EQ(comms_client, nullptr);
    create(); // the controller's port can be bound again
    EXPECT_NE(comms_client, nullptr);
}

} // namespace
