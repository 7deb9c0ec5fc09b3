// The controller's end of the GUI link, against a plain socket playing the GUI.
#include "controller/link/CommsClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/TempLog.h"
#include "tests/unit/link/UdpPeer.h"

namespace {

using testing::HasSubstr;
using testing::Not;

class ControllerLink : public testing_support::TempLogTest {
protected:
    void SetUp() override {
        TempLogTest::SetUp();
        gui_ = std::make_unique<UdpPeer>(GUI_PORT);
        startOutput_ =
            printedBy([&] { client_ = std::make_unique<CommsClient>(COMMS_LOCAL_ADDRESS, GUI_PORT); });
    }

    void put(uint32_t command, uint32_t data) {
        CommsMessage_t msg{};
        msg.packet = message_s{command, data};
        client_->PutMessage(&msg);
    }

    // Takes the next message, with what the client printed meanwhile.
    std::string get(CommsMessage_t& msg, int& result) {
        return printedBy([&] { result = getMessageSoon(*client_, &msg); });
    }

    std::unique_ptr<UdpPeer> gui_;
    std::unique_ptr<CommsClient> client_;
    std::string startOutput_;
};

TEST_F(ControllerLink, ConnectsToTheGuiPortAndLogsIt) {
    EXPECT_EQ(startOutput_, "CC: Client Socket connected, port 1530\n");
    EXPECT_THAT(logText(), HasSubstr(" > CC: Client Socket connected, port 1530\n"));
}

TEST_F(ControllerLink, SendsEightBytesMostSignificantFirstFromItsFixedPort) {
    const std::string out = printedBy([&] {
        put(0x01000013, 0);
        put(0xA0000035, 0x00010203);
    });
    EXPECT_EQ(out, "CC: Sent message to port 1530\nCC: Sent message to port 1530\n");

    auto first = gui_->receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bytes, (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(first->sourcePort, CONTROLLER_PORT);
    auto second = gui_->receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bytes, (std::vector<uint8_t>{0xA0, 0x00, 0x00, 0x35, 0x00, 0x01, 0x02, 0x03}));
}

TEST_F(ControllerLink, ZoomValuesAreSentButNotLogged) {
    EXPECT_EQ(printedBy([&] { put(tEV_ZOOMVAL, 45); }), "");
    auto sent = gui_->receive();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->bytes, (std::vector<uint8_t>{0x62, 0, 0, 0, 0, 0, 0, 45}));

    // Only the exact zoom-value word is quiet.
    EXPECT_EQ(printedBy([&] { put(tEV_ZOOMVAL | 1, 45); }), "CC: Sent message to port 1530\n");
}

TEST_F(ControllerLink, ReceivesAndDecodesAMessageWithItsSender) {
    gui_->sendMessage(CONTROLLER_PORT, 0xC0000035, 7);
    CommsMessage_t msg{};
    int result = 0;
    const std::string out = get(msg, result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(out, "CC: recvfrom port 1530\n");
    EXPECT_EQ(msg.packet.command, 0xC0000035u);
    EXPECT_EQ(msg.packet.data, 7u);
    EXPECT_EQ(ntohs(msg.remote.sin_port), GUI_PORT);
    EXPECT_EQ(msg.addrlen, sizeof(sockaddr_in));
}

TEST_F(ControllerLink, NothingWaitingIsNoMessageAndNoNoise) {
    CommsMessage_t msg{};
    msg.packet = message_s{1, 2};
    int result = -1;
    EXPECT_EQ(printedBy([&] { result = client_->GetMessage(&msg); }), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(msg.packet.command, 1u);
}

// Only a datagram of exactly 8 bytes is a message; the one after it still arrives whole.
TEST_F(ControllerLink, DatagramsOfAnotherSizeAreReportedAndProduceNoMessage) {
    gui_->sendTo(CONTROLLER_PORT, {0x01, 0x00, 0x00, 0x13});
    gui_->sendTo(CONTROLLER_PORT, {0x01, 0x00, 0x00, 0x13, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE});
    gui_->sendTo(CONTROLLER_PORT, {});
    gui_->sendMessage(CONTROLLER_PORT, tEV_KEY | UKEY_SELECT, 9);
    CommsMessage_t msg{};
    int result = 0;
    const std::string out = get(msg, result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(out, "CC: ERROR: recvfrom() got wrong size 4\n"
                   "CC: ERROR: recvfrom() got wrong size 12\n"
                   "CC: recvfrom port 1530\n");
    EXPECT_EQ(msg.packet.command, tEV_KEY | UKEY_SELECT);
    EXPECT_EQ(msg.packet.data, 9u);
}

// A connected socket only takes datagrams from the GUI's port.
TEST_F(ControllerLink, DatagramsFromOtherPortsAreNotTaken) {
    UdpPeer stranger;
    stranger.sendMessage(CONTROLLER_PORT, tEV_KEY | UKEY_POWER, 0);
    gui_->sendMessage(CONTROLLER_PORT, tEV_KEY | UKEY_UP, 0);
    CommsMessage_t msg{};
    int result = 0;
    get(msg, result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(msg.packet.command, tEV_KEY | UKEY_UP);
    EXPECT_EQ(client_->GetMessage(&msg), 0);
}

class ControllerLinkWithoutGui : public testing_support::TempLogTest {};

TEST_F(ControllerLinkWithoutGui, SendingLosesTheMessageWithoutAnError) {
    int received = 0;
    const std::string out = printedBy([&] {
        CommsClient client(COMMS_LOCAL_ADDRESS, GUI_PORT);
        CommsMessage_t msg{};
        msg.packet = message_s{tEV_VERSIONINFO | APP_VERSION, 5 << 16 | 15};
        client.PutMessage(&msg);
        // The kernel reports the refused datagram on the socket a moment later.
        for (int poll = 0; poll < 200; ++poll) {
            received += client.GetMessage(&msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        client.PutMessage(&msg);
    });
    EXPECT_EQ(received, 0);
    EXPECT_THAT(out, HasSubstr("CC: Sent message to port 1530\nCC: Sent message to port 1530\n"));
    EXPECT_THAT(out, Not(HasSubstr("ERROR")));
}

TEST(ControllerLinkDeathTest, ATakenPortEndsTheProcess) {
    UdpPeer squatter(CONTROLLER_PORT);
    EXPECT_EXIT(CommsClient(COMMS_LOCAL_ADDRESS, GUI_PORT), testing::ExitedWithCode(1),
                "bind: .*\n.*CC: ERROR: Could not bind socket");
}

} // namespace
