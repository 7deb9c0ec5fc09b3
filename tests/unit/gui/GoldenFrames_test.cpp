// Reference frames: the overlay drawn in a handful of states and compared pixel for pixel
// with the committed pictures in tests/golden/. A differing frame is written beside the
// test's output and its path printed; OSTRIX_UPDATE_GOLDEN=1 rewrites the references.
#include <QImage>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "gui/settings/OstrixControlSettings.h"
#include "tests/unit/gui/DisplayFixture.h"

namespace {

using namespace Ostrix;

constexpr const char* kGoldenDir = OSTRIX_SOURCE_DIR "/tests/golden/";
constexpr uint32_t kKeyColour = 0xFF008080;

class GoldenFrames : public testing_support::DisplayFixture {
protected:
    void SetUp() override {
        DisplayFixture::SetUp();
        ostrixControlSettings.SetValue(SETT_ZOOM_VALUE, 200);
        ostrixControlSettings.SetValue(SETT_LENSPOWER, 3);
    }
    void keys(std::initializer_list<uint32_t> codes) {
        for (uint32_t k : codes) {
            key(k);
        }
    }
    void message(uint32_t number) { command(tEV_MESSAGE + number, 3000); }
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
