// Reference frames: the overlay drawn in a handful of states and compared pixel for pixel
// with the committed pictures in tests/golden/. A differing frame is written beside the
// test's output and its path printed; OSTRIX_UPDATE_GOLDEN=1 rewrites the references.
#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "tests/unit/gui/GuiFixture.h"
#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/settings/OstrixControlSettings.h"

namespace {

using namespace Ostrix;

constexpr const char* kGoldenDir = OSTRIX_SOURCE_DIR "/tests/golden/";
constexpr uint32_t kKeyColour = 0xFF008080;

class GoldenFrames : public testing_support::GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        std::filesystem::create_directories("resources");
        for (const char* f : {"font_en.png", "slider.png", "Ostrix GUI Icons.png"}) {
            std::filesystem::copy_file(std::string(OSTRIX_SOURCE_DIR "/resources/") + f,
                                       std::string("resources/") + f);
        }
        display_ = std::make_unique<Display>(800, 480);
        ostrixControlSettings.SetValue(SETT_ZOOM_VALUE, 200);
        ostrixControlSettings.SetValue(SETT_LENSPOWER, 3);
    }
    void TearDown() override {
        display_.reset();
        GuiTest::TearDown();
    }
    void keys(std::initializer_list<uint32_t> codes) {
        for (uint32_t k : codes) {
            uint32_t r0 = 0;
            uint32_t r1 = 0;
            bool show = false;
            int time = 0;
            display_->ProcessCommand(tEV_KEY + k, 0, r0, r1, show, time);
        }
    }
    void message(uint32_t number) {
        uint32_t r0 = 0;
        uint32_t r1 = 0;
        bool show = false;
        int time = 0;
        display_->ProcessCommand(tEV_MESSAGE + number, 3000, r0, r1, show, time);
    }
    // The frame as the window shows it: the overlay over the colour the FPGA keys out.
    QImage render() {
        VFB vfb(800, 480, 800);
        display_->Update(vfb);
        QImage frame(800, 480, QImage::Format_ARGB32);
        for (uint32_t y = 0; y < 480; ++y) {
            for (uint32_t x = 0; x < 800; ++x) {
                uint32_t pixel = kKeyColour;
                VFB::DrawPixel(vfb.pixel(x, y), pixel);
                frame.setPixel(int(x), int(y), pixel);
            }
        }
        return frame;
    }
    void compare(const std::string& name) {
        const QImage frame = render();
        const std::string golden = kGoldenDir + name + ".png";
        if (getenv("OSTRIX_UPDATE_GOLDEN") != nullptr) {
            ASSERT_TRUE(frame.save(QString::fromStdString(golden), "PNG"));
            return;
        }
        const QImage expected = QImage(QString::fromStdString(golden)).convertToFormat(QImage::Format_ARGB32);
        if (expected != frame) {
            const std::string written =
                (std::filesystem::temp_directory_path() / ("ostrix-golden-" + name + ".png")).string();
            frame.save(QString::fromStdString(written), "PNG");
            ADD_FAILURE() << "frame '" << name << "' differs from " << golden << "; the frame drawn is in "
                          << written;
        }
    }

    std::unique_ptr<Display> display_;
};

TEST_F(GoldenFrames, ClosedWithStatusBar) {
    ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, 1);
    compare("closed-status-bar");
}

TEST_F(GoldenFrames, StatusBarInHdrMode) {
    ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, 1);
    ostrixControlSettings.SetValue(SETT_UI_MENUPOSITION, 2);
    keys({UKEY_HDR_MODE_TOGGLE, UKEY_HDR_RATIO_UP, UKEY_HDR_EXPOSURE_UP});
    compare("status-bar-hdr");
}

TEST_F(GoldenFrames, EachMenuLevel) {
    ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, 1);
    keys({UKEY_SELECT});
    compare("menu-level-1");
    keys({UKEY_DOWN, UKEY_RIGHT});
    compare("menu-level-2");
    keys({UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_RIGHT});
    compare("menu-level-3");
    keys({UKEY_LEFT, UKEY_LEFT, UKEY_DOWN, UKEY_DOWN, UKEY_DOWN, UKEY_RIGHT, UKEY_RIGHT, UKEY_RIGHT});
    compare("menu-level-4");
}

TEST_F(GoldenFrames, BarBeingEdited) {
    keys({UKEY_SELECT, UKEY_DOWN, UKEY_RIGHT, UKEY_SELECT, UKEY_RIGHT, UKEY_RIGHT});
    compare("bar-editing");
}

TEST_F(GoldenFrames, Message) {
    message(MESS_NO_USB_DRIVE);
    compare("message");
}

TEST_F(GoldenFrames, LowerRightWithBars) {
    ostrixControlSettings.SetValue(SETT_UI_MENUPOSITION, 4);
    ostrixControlSettings.SetValue(SETT_UI_STATUSBARPOSITION, 1);
    keys({UKEY_SELECT, UKEY_DOWN, UKEY_DOWN, UKEY_RIGHT});
    compare("position-4");
}

TEST_F(GoldenFrames, ChineseMenuAndMessage) {
    ostrixControlSettings.SetValue(SETT_UI_LANGUAGE, 7);
    keys({UKEY_SELECT, UKEY_DOWN, UKEY_RIGHT});
    message(MESS_CAMERA_BOARD_DISCONNECTED);
    compare("chinese");
}

} // namespace
