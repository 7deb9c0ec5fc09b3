// The GUI keeps one settings table for the whole process: every GUI test starts from the
// factory values and leaves them behind, so no test depends on the order the tests run in.
#pragma once

#include "TempRoot.h"
#include "gui/settings/OstrixControlSettings.h"

namespace testing_support {

class GuiTest : public SimBoardTest {
protected:
    void SetUp() override {
        SimBoardTest::SetUp();
        ostrixControlSettings = OstrixControlSettings();
    }
    void TearDown() override {
        ostrixControlSettings = OstrixControlSettings();
        SimBoardTest::TearDown();
    }
};

} // namespace testing_support
