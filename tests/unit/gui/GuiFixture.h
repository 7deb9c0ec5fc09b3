// The GUI keeps one settings table for the whole process: every GUI test starts from the
// factory values and leaves them behind, so no test depends on the order the tests run in.
#pragma once

#include <filesystem>
#include <string>

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

// The GUI in the board's home folder with the program's pictures, as it runs on the board.
class GuiPicturesTest : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::filesystem::create_directories("resources");
        for (const char* f : {"font_en.png", "slider.png", "Ostrix GUI Icons.png"}) {
            std::filesystem::copy_file(std::string(OSTRIX_SOURCE_DIR "/resources/") + f,
                                       std::string("resources/") + f);
        }
    }
};

} // namespace testing_support
