// Which replies of the command processing go out on the link.
#include <gtest/gtest.h>

#include "gui/app/testwindow.h"

namespace {

TEST(ReplyFilter, MenuItemNoticesStayAndTheCaptureRequestGoes) {
    EXPECT_FALSE(TestWindow::replyIsSent(0x01000005)); // current menu item changed
    EXPECT_FALSE(TestWindow::replyIsSent(0x01000000));
    EXPECT_FALSE(TestWindow::replyIsSent(0x01000014));
    EXPECT_TRUE(TestWindow::replyIsSent(0x01000013)); // image capture request
}

TEST(ReplyFilter, NoEventMeansNothingToSendWhateverTheParameter) {
    EXPECT_FALSE(TestWindow::replyIsSent(0x00000000));
    EXPECT_FALSE(TestWindow::replyIsSent(0x00000035));
    EXPECT_TRUE(TestWindow::replyIsSent(0xC0000035));
    EXPECT_TRUE(TestWindow::replyIsSent(0x50000000));
    EXPECT_TRUE(TestWindow::replyIsSent(0x70000003));
}

} // namespace
