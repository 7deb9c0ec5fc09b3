// The controller's end of the GUI link, against plain sockets playing the GUI.
#include "controller/link/CommsClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/unit/link/UdpPeer.h"

namespace {

using testing::HasSubstr;
using testing::Not;

class ControllerLink : public testing::Test {
protected:
    void SetUp() override {
        gui_ = std::make_unique<UdpPeer>(GUI_PORT);
        testing::internal::CaptureStdout();
        client_ = std::make_unique<CommsClient>(COMMS_LOCAL_ADDRESS, GUI_PORT);
        startOutput_ = testing::internal::GetCapturedStdout();
    }

    void put(uint32_t command, uint32_t data) {
        CommsMessage_t msg{};
        msg.packet = message_s{command, data};
        client_->PutMessage(&msg);
    }

    std::unique_ptr<UdpPeer> gui_;
    std::unique_ptr<CommsClient> client_;
    std::string startOutput_;
};

TEST_F(ControllerLink, ConnectsToTheGuiPort) {
    EXPECT_THAT(startOutput_, HasSubstr("CC: Client Socket connected, port 1530\n"));
}

TEST_F(ControllerLink, SendsEightBytesMostSignificantFirstFromItsFixedPort) {
    testing::internal::CaptureStdout();
    put(0x01000013, 0);
    put(0xA0000035, 0x00010203);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CC: Sent message to port 1530\nCC: Sent message to port 1530\n");

    auto first = gui_->receive();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bytes, (std::vector<uint8_t>{0x01, 0x00, 0x00, 0x13, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(first->sourcePort, CONTROLLER_PORT);
    auto second = gui_->receive();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bytes, (std::vector<uint8_t>{0xA0, 0x00, 0x00, 0x35, 0x00, 0x01, 0x02, 0x03}));
}

TEST_F(ControllerLink, ZoomValuesAreSentButNotLogged) {
    testing::internal::CaptureStdout();
    put(tEV_ZOOMVAL, 45);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    auto sent = gui_->receive();
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->bytes, (std::vector<uint8_t>{0x62, 0, 0, 0, 0, 0, 0, 45}));

    // Only the exact zoom-value word is quiet.
    testing::internal::CaptureStdout();
    put(tEV_ZOOMVAL | 1, 45);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("CC: Sent message to port 1530\n"));
}

TEST_F(ControllerLink, ReceivesAndDecodesAMessageWithItsSender) {
    UdpPeer other;
    other.sendMessage(CONTROLLER_PORT, 0xC0000035, 7);
    CommsMessage_t msg{};
    testing::internal::CaptureStdout();
    ASSERT_EQ(getMessageSoon(*client_, &msg), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CC: recvfrom port " + std::to_string(other.port()) + "\n");
    EXPECT_EQ(msg.packet.command, 0xC0000035u);
    EXPECT_EQ(msg.packet.data, 7u);
    EXPECT_EQ(ntohs(msg.remote.sin_port), other.port());
    EXPECT_EQ(msg.addrlen, sizeof(sockaddr_in));
}

TEST_F(ControllerLink, NothingWaitingIsNoMessageAndNoNoise) {
    CommsMessage_t msg{};
    msg.packet = message_s{1, 2};
    testing::internal::CaptureStdout();
    EXPECT_EQ(client_->GetMessage(&msg), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(msg.packet.command, 1u);
}

TEST_F(ControllerLink, AShortDatagramIsReportedAndProducesNoMessage) {
    gui_->sendTo(CONTROLLER_PORT, {0x01, 0x00, 0x00, 0x13});
    gui_->sendMessage(CONTROLLER_PORT, tEV_KEY | UKEY_SELECT, 0);
    CommsMessage_t msg{};
    testing::internal::CaptureStdout();
    ASSERT_EQ(getMessageSoon(*client_, &msg), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("CC: ERROR: recvfrom() got wrong size 4\n"));
    EXPECT_EQ(msg.packet.command, tEV_KEY | UKEY_SELECT);
}

TEST_F(ControllerLink, ALongDatagramIsRefusedRatherThanCut) {
    gui_->sendTo(CONTROLLER_PORT, {0x01, 0x00, 0x00, 0x13, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE});
    gui_->sendMessage(CONTROLLER_PORT, tEV_KEY | UKEY_UP, 0);
    CommsMessage_t msg{};
    testing::internal::CaptureStdout();
    ASSERT_EQ(getMessageSoon(*client_, &msg), 1);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("CC: ERROR: recvfrom() got wrong size 12\n"));
    EXPECT_EQ(msg.packet.command, tEV_KEY | UKEY_UP);
}

TEST_F(ControllerLink, AnEmptyDatagramIsSkippedQuietly) {
    gui_->sendTo(CONTROLLER_PORT, {});
    gui_->sendMessage(CONTROLLER_PORT, tEV_KEY | UKEY_DOWN, 0);
    CommsMessage_t msg{};
    testing::internal::CaptureStdout();
    ASSERT_EQ(getMessageSoon(*client_, &msg), 1);
    EXPECT_THAT(testing::internal::GetCapturedStdout(), Not(HasSubstr("ERROR")));
    EXPECT_EQ(msg.packet.command, tEV_KEY | UKEY_DOWN);
}

TEST(ControllerLinkWithoutGui, SendingLosesTheMessageWithoutAnError) {
    testing::internal::CaptureStdout();
    {
        CommsClient client(COMMS_LOCAL_ADDRESS, GUI_PORT);
        CommsMessage_t msg{};
        msg.packet = message_s{tEV_VERSIONINFO | APP_VERSION, 5 << 16 | 15};
        client.PutMessage(&msg);
        client.PutMessage(&msg);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(client.GetMessage(&msg), 0);
        }
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_THAT(out, HasSubstr("CC: Sent message to port 1530\n"));
    EXPECT_THAT(out, Not(HasSubstr("ERROR")));
}

TEST(ControllerLinkDeathTest, ATakenPortEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UdpPeer squatter(CONTROLLER_PORT);
    EXPECT_EXIT(CommsClient(COMMS_LOCAL_ADDRESS, GUI_PORT), testing::ExitedWithCode(1),
                "bind: .*\n.*CC: ERROR: Could not bind socket");
}

} // namespace
