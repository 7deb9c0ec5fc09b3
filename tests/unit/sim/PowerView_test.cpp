#include <gtest/gtest.h>

#include "TempRoot.h"
#include "sim/board/PowerView.h"

namespace {

class PowerViewTest : public testing_support::SimBoardTest {};

// A board just powered on has only the Pi's own supply: nothing of the microscope is on.
TEST_F(PowerViewTest, AFreshBoardIsOffAndSaysSoInItsStatus) {
    EXPECT_EQ(board().find<sim::PowerView>()->state(), "off");
    const std::string status = board().statusJson();
    EXPECT_NE(status.find("\"power\":{\"state\":\"off\",\"rails\":{\"VCC1V5\":false"), std::string::npos)
        << status;
    EXPECT_NE(status.find("\"VCC3V3PI\":true"), std::string::npos) << status;
    const sim::CommandResult report = board().execute({"power"});
    EXPECT_TRUE(report.ok);
    EXPECT_NE(report.text.find("\"camera_power\":false"), std::string::npos) << report.text;
    EXPECT_FALSE(board().execute({"power", "on"}).ok);
}

} // namespace
