// The microscope window on the whole system under Xvfb: a click on the front panel's SELECT
// and a key typed on the PC keyboard reach the controller and the GUI, and the GUI's menu
// appears in both eyepieces of the window, as a screenshot of the window shows it.
#include <gtest/gtest.h>

#include <QDir>
#include <QScreen>
#include <QtTest/QTest>

#include <cstdlib>
#include <memory>

#include "XvfbApplication.h"
#include "sim/board/EyepieceSnapshot.h"
#include "sim/board/GuiFrame.h"
#include "sim/chips/DisplayFpga.h"
#include "tests/support/EndToEnd.h"
#include "tools/scope/ScopeWindow.h"

namespace {

using testing_support::OstrixPiProcess;

constexpr int kLimitMs = 60000; // a start-up under the sanitizers on a busy machine
constexpr int kNeutral = 10;    // the menu's grey: its colour components this close
constexpr int kDark = 20;       // and brighter than black
constexpr double kMostly = 0.95;
constexpr int kEnoughPixels = 200;
constexpr uint32_t kRgb = 0x00FFFFFF;
constexpr const char* kSelectToGui = "GUI: ProcessCommand 1000004:0"; // the SELECT key's message
constexpr const char* kSelectSeen = "UC: Active Btn 0";               // the controller saw BTN1

struct WindowSize {
    const char* name;
    int width, height;
};
// The test's name shows the screen, not the struct's bytes.
void PrintTo(const WindowSize& size, std::ostream* os) {
    *os << size.name;
}

// Where the GUI's menu background lies in the picture the Pi hands the FPGA, and where the
// FPGA places that picture on the panels.
struct MenuPlace {
    sim::GuiFrame frame;
    uint32_t colour = 0;
    int left = 0, top = 0;
    bool shown() const {
        for (uint32_t p : frame.argb) {
            if ((p & kRgb) == colour) {
                return true;
            }
        }
        return false;
    }
    // Whether the frame's pixels within `radius` of (x, y) are all menu background.
    bool background(int x, int y, int radius) const {
        for (int fy = y - radius; fy <= y + radius; ++fy) {
            for (int fx = x - radius; fx <= x + radius; ++fx) {
                if (fx < 0 || fy < 0 || fx >= int(frame.width) || fy >= int(frame.height) ||
                    (frame.argb[size_t(fy) * frame.width + fx] & kRgb) != colour) {
                    return false;
                }
            }
        }
        return true;
    }
};

// Of the window's pixels that lie over the menu's background in one eyepiece, how many
// show the menu's grey.
struct MenuSight {
    int pixels = 0;
    int grey = 0;
    bool seen() const { return pixels >= kEnoughPixels && grey >= kMostly * pixels; }
    bool unseen() const { return pixels >= kEnoughPixels && grey <= (1 - kMostly) * pixels; }
};

MenuSight lookForMenu(const QImage& shot, const QRect& panel, const MenuPlace& menu) {
    MenuSight sight;
    const double scale = double(sim::kPanelWidth) / panel.width();
    const int radius = int(scale) + 1; // the panel pixels a window pixel is scaled from
    for (int wy = panel.top(); wy <= panel.bottom(); ++wy) {
        for (int wx = panel.left(); wx <= panel.right(); ++wx) {
            const int x = int((wx - panel.left() + 0.5) * scale) - menu.left;
            const int y = int((wy - panel.top() + 0.5) * scale) - menu.top;
            if (!menu.background(x, y, radius)) {
                continue;
            }
            const QRgb p = shot.pixel(wx, wy);
            ++sight.pixels;
            sight.grey += std::abs(qRed(p) - qGreen(p)) <= kNeutral &&
                          std::abs(qGreen(p) - qBlue(p)) <= kNeutral && qGreen(p) > kDark;
        }
    }
    return sight;
}

class ScopeWindowTest : public testing_support::EndToEndTest {
protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        prepareGui();
        std::string error;
        app_ = testing_support::XvfbApplication::get(error);
        ASSERT_NE(app_, nullptr) << error;
        gui_ = startGui();
        controller_ = startController();
        ASSERT_TRUE(settingsCollected(*controller_));
        link_ = scope::BoardLink::open(root(), error);
        ASSERT_NE(link_, nullptr) << error;
        QString optionError;
        ASSERT_TRUE(scope::parseOptions({"ostrix-scope", "--root", QString::fromStdString(root())}, options_,
                                        optionError));
    }
    void TearDown() override {
        window_.reset();
        link_.reset();
        EndToEndTest::TearDown();
    }

    // The window at `size`, once both eyepieces show a picture.
    void openWindow(const WindowSize& size) {
        window_ = std::make_unique<scope::ScopeWindow>(*link_, options_);
        window_->resize(size.width, size.height);
        window_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !window_->eyepieces()->picture(0).isNull() &&
                       !window_->eyepieces()->picture(1).isNull();
            },
            kLimitMs));
    }

    // What the X server shows of the window, kept in the build folder for a person to look at.
    QImage screenshot(const std::string& name) {
        const QImage shot = window_->screen()->grabWindow(window_->winId()).toImage();
        QDir().mkpath(OSTRIX_SCOPE_SHOTS);
        shot.save(QString::fromStdString(std::string(OSTRIX_SCOPE_SHOTS "/") + name + ".png"));
        return shot;
    }

    MenuPlace menuPlace() {
        MenuPlace place;
        sim::readGuiFrame(board().volatilePath(sim::kGuiFrameFile), place.frame);
        auto& fpga = model<sim::DisplayFpga>();
        place.colour = fpga.registerValue(0, sim::fpga_regs::kOverlayBackground) & kRgb;
        const uint32_t location = fpga.registerValue(0, sim::fpga_regs::kOverlayLocation);
        place.left = int(location & 0xFFFF);
        place.top = int(location >> 16);
        return place;
    }

    MenuSight sight(const QImage& shot, int eye, const MenuPlace& menu) {
        const QRect panel = window_->eyepieces()->panelRect(eye).translated(window_->eyepieces()->pos());
        return lookForMenu(shot, panel, menu);
    }

    // Waits until the GUI shows its menu and the window shows it in both eyepieces; the last
    // screenshot taken.
    ::testing::AssertionResult menuInBothEyepieces(const std::string& name, QImage& shot) {
        MenuPlace menu;
        const bool seen = QTest::qWaitFor(
            [&] {
                menu = menuPlace();
                shot = screenshot(name);
                return menu.shown() && sight(shot, 0, menu).seen() && sight(shot, 1, menu).seen();
            },
            kLimitMs);
        if (seen) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure()
               << "the menu's grey in the window: left " << sight(shot, 0, menu).grey << " of "
               << sight(shot, 0, menu).pixels << ", right " << sight(shot, 1, menu).grey << " of "
               << sight(shot, 1, menu).pixels << " pixels; the GUI shows its menu: " << menu.shown();
    }

    QApplication* app_ = nullptr;
    std::unique_ptr<OstrixPiProcess> gui_, controller_;
    std::unique_ptr<scope::BoardLink> link_;
    scope::ScopeOptions options_;
    std::unique_ptr<scope::ScopeWindow> window_;
};

class ScopeWindowSizeTest : public ScopeWindowTest, public testing::WithParamInterface<WindowSize> {};

TEST_P(ScopeWindowSizeTest, ClickOnSelectOpensTheMenuInBothEyepieces) {
    openWindow(GetParam());
    const QImage before = screenshot(std::string("before-select-") + GetParam().name);
    // Held until the controller's poll of the panel has seen it, as a finger holds it.
    QTest::mousePress(window_->frontPanel()->button(0), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return controller_->log().find(kSelectSeen) != std::string::npos; }, kLimitMs));
    QTest::mouseRelease(window_->frontPanel()->button(0), Qt::LeftButton);
    QImage after;
    ASSERT_TRUE(menuInBothEyepieces(std::string("select-") + GetParam().name, after));
    // The same pixels showed the video before: the menu came with the click.
    const MenuPlace menu = menuPlace();
    EXPECT_TRUE(sight(before, 0, menu).unseen());
    EXPECT_TRUE(sight(before, 1, menu).unseen());
    EXPECT_TRUE(gui_->waitForConsole(kSelectToGui));
    // The window fits its size, and its panels are at least three tenths of the panel's.
    EXPECT_LE(window_->frameGeometry().width(), GetParam().width);
    EXPECT_LE(window_->frameGeometry().height(), GetParam().height);
    EXPECT_GE(window_->eyepieces()->panelRect(0).width(), sim::kPanelWidth * 3 / 10);
}

INSTANTIATE_TEST_SUITE_P(Screens, ScopeWindowSizeTest,
                         testing::Values(WindowSize{"1920x1080", 1920, 1080},
                                         WindowSize{"1280x800", 1280, 800}),
                         [](const testing::TestParamInfo<WindowSize>& info) {
                             return std::string("w") + info.param.name;
                         });

TEST_F(ScopeWindowTest, AKeyTypedInTheWindowIsTheKeypadsAndTheGuiTakesIt) {
    openWindow({"1920x1080", 1920, 1080});
    QTest::mouseClick(window_->events()->keypadSwitch(), Qt::LeftButton);
    ASSERT_TRUE(controller_->waitForLog("UC: Keypad/Kbd Connected"));
    QTest::keyClick(window_->eyepieces(), Qt::Key_K); // the keypad's select key
    EXPECT_TRUE(gui_->waitForConsole(kSelectToGui));
    QImage shot;
    EXPECT_TRUE(menuInBothEyepieces("keypad-k", shot));
}

TEST(ScopeLinkTest, AFolderWithoutASystemIsRefused) {
    std::string error;
    EXPECT_EQ(scope::BoardLink::open("/no/such/root", error), nullptr);
    EXPECT_NE(error.find("no system root at '/no/such/root'"), std::string::npos) << error;
}

} // namespace
