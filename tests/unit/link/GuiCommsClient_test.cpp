// The GUI's end of the link: it binds the GUI port and answers whoever sent a message.
#include "gui/app/CommsClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include "common/SettingsIndex.h"
#include "controller/link/CommsClient.h"
#include "tests/support/TempLog.h"
#include "tests/unit/link/UdpPeer.h"

namespace {

using testing::MatchesRegex;

// The GUI's console time stamp before a line.
std::string stamped(const std::string& line) {
    return "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} > " + line;
}

class GuiLink : public testing::Test {
protected:
    void SetUp() override {
        startOutput_ = printedBy([&] { gui_ = std::make_unique<Ostrix::CommsClient>(GUI_PORT); });
    }

    std::string get(CommsMessage_t& msg, int& result) {
        return printedBy([&] { result = getMessageSoon(*gui_, &msg); });
    }

    std::unique_ptr<Ostrix::CommsClient> gui_;
    std::string startOutput_;
};

TEST_F(GuiLink, AnnouncesItsPort) {
    EXPECT_THAT(startOutput_, MatchesRegex(stamped("GUI: Socket created - Port 1530\n")));
}

TEST_F(GuiLink, AnswersEachMessageToThePortItCameFrom) {
    UdpPeer first;
    UdpPeer second;
    first.sendMessage(GUI_PORT, tEV_REQUEST | SETT_CAMERA_GAIN, 0);
    second.sendMessage(GUI_PORT, tEV_REQUEST | SETT_CAMERA_EXPOSURE_TIME, 0);

    for (int i = 0; i < 2; ++i) {
        CommsMessage_t msg{};
        int result = 0;
        const std::string received = get(msg, result);
        ASSERT_EQ(result, 1);
        const std::string sender = std::to_string(ntohs(msg.remote.sin_port));
        EXPECT_THAT(received, MatchesRegex(stamped("GUI: recvfrom port " + sender + "\n")));
        msg.packet = message_s{tEV_UPDATE | eventParameter(msg.packet.command), 5};
        EXPECT_THAT(printedBy([&] { gui_->PutMessage(&msg); }),
                    MatchesRegex(stamped("GUI: sent message to Port " + sender + "\n")));
    }

    auto toFirst = first.receive();
    auto toSecond = second.receive();
    ASSERT_TRUE(toFirst);
    ASSERT_TRUE(toSecond);
    EXPECT_EQ(decodeMessage(toFirst->bytes.data()).command, tEV_UPDATE | SETT_CAMERA_GAIN);
    EXPECT_EQ(decodeMessage(toSecond->bytes.data()).command, tEV_UPDATE | SETT_CAMERA_EXPOSURE_TIME);
    EXPECT_EQ(toFirst->sourcePort, GUI_PORT);
    EXPECT_FALSE(first.receive(50));
    EXPECT_FALSE(second.receive(50));
}

TEST_F(GuiLink, ZoomValuesAreReceivedButNotLogged) {
    UdpPeer controller;
    controller.sendMessage(GUI_PORT, tEV_ZOOMVAL, 123);
    CommsMessage_t msg{};
    int result = 0;
    EXPECT_EQ(get(msg, result), "");
    ASSERT_EQ(result, 1);
    EXPECT_EQ(msg.packet.data, 123u);
}

TEST_F(GuiLink, ADatagramOfAnotherSizeIsNoMessage) {
    UdpPeer controller;
    controller.sendTo(GUI_PORT, {0x90, 0, 0, 1});
    controller.sendTo(GUI_PORT, {0x90, 0, 0, 1, 0, 0, 0x0B, 0xB8, 0xFF});
    controller.sendMessage(GUI_PORT, tEV_MESSAGE | MESS_NO_USB_DRIVE, 3000);
    CommsMessage_t msg{};
    int result = 0;
    get(msg, result);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(msg.packet.command, tEV_MESSAGE | MESS_NO_USB_DRIVE);
    EXPECT_EQ(msg.packet.data, 3000u);
    EXPECT_EQ(gui_->GetMessage(&msg), 0);
}

TEST_F(GuiLink, AFailedSendIsRetriedOnceThenTheAddressFallsBackToLoopback) {
    CommsMessage_t msg{};
    msg.packet = message_s{tEV_UPDATE | SETT_CAMERA_GAIN, 5};
    msg.remote = loopbackAddress(0); // port 0 cannot be sent to
    msg.remote.sin_addr.s_addr = htonl(0x7F000002);
    const std::string errorNumber = std::to_string(EINVAL);
    EXPECT_THAT(printedBy([&] { gui_->PutMessage(&msg); }),
                MatchesRegex(stamped("GUI: Comms error sending message -1 with errno " + errorNumber +
                                     "\nGUI: Comms retry error sending message -1 with errno " + errorNumber +
                                     " to Port 0\n")));
    EXPECT_EQ(ntohl(msg.remote.sin_addr.s_addr), INADDR_LOOPBACK);
}

TEST(GuiLinkDeathTest, ATakenPortEndsTheProcess) {
    UdpPeer squatter(GUI_PORT);
    EXPECT_EXIT(Ostrix::CommsClient{GUI_PORT}, testing::ExitedWithCode(255), "GUI: Could not bind socket");
}

// Both ends in one process: the GUI's start-up message reaches the controller, and the
// controller's request is answered back to the controller's port.
class LinkRoundTrip : public testing_support::TempLogTest {};

TEST_F(LinkRoundTrip, RequestAndAnswerBetweenBothEnds) {
    CommsMessage_t atController{};
    CommsMessage_t atGui{};
    CommsMessage_t answer{};
    int startupArrived = 0;
    int requestArrived = 0;
    int answerArrived = 0;
    printedBy([&] {
        Ostrix::CommsClient gui(GUI_PORT);
        CommsClient controller(COMMS_LOCAL_ADDRESS, GUI_PORT);

        CommsMessage_t startup{};
        startup.packet = message_s{tEV_PRESETLOADED, 0};
        startup.remote = loopbackAddress(CONTROLLER_PORT);
        gui.PutMessage(&startup);
        startupArrived = getMessageSoon(controller, &atController);

        CommsMessage_t request{};
        request.packet = message_s{tEV_REQUEST | SETT_CAMERA_GAIN, 0};
        controller.PutMessage(&request);
        requestArrived = getMessageSoon(gui, &atGui);
        atGui.packet = message_s{tEV_UPDATE | SETT_CAMERA_GAIN, 5};
        gui.PutMessage(&atGui);
        answerArrived = getMessageSoon(controller, &answer);
    });
    ASSERT_EQ(startupArrived, 1);
    EXPECT_EQ(atController.packet.command, tEV_PRESETLOADED);
    ASSERT_EQ(requestArrived, 1);
    EXPECT_EQ(ntohs(atGui.remote.sin_port), CONTROLLER_PORT);
    ASSERT_EQ(answerArrived, 1);
    EXPECT_EQ(answer.packet.command, 0xC0000035u);
    EXPECT_EQ(answer.packet.data, 5u);
}

} // namespace
