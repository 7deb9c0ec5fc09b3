// The stored-picture chooser in the running window: a stand-in controller sends the keys
// that walk to Image Source USB and pick a picture, and is told the picture's number,
// counted from 1 in the sorted order of the stick's files.
#include <QApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/app/testwindow.h"
#include "gui/menu/Menu.h"
#include "platform/platform.h"
#include "tests/unit/gui/GuiFixture.h"
#include "tests/unit/gui/window/WindowFixture.h"

namespace {

namespace fs = std::filesystem;
using Ostrix::MenuIndex_t;

constexpr MenuIndex_t kSourceUsb = 336;
constexpr int kWaitMs = 10000;

class PictureChooser : public testing_support::GuiPicturesTest {
protected:
    void SetUp() override {
        GuiPicturesTest::SetUp();
        application();
        Ostrix::image_format_png = 1;
        window_ = std::make_unique<TestWindow>(800, 480);
        // The menu's blocking waits run in the program's one window, as main() sets it.
        window = window_.get();
    }
    void TearDown() override {
        window = nullptr;
        window_.reset();
        GuiPicturesTest::TearDown();
    }

    // The keys from a closed menu to `target`: SELECT, then DOWN and RIGHT level by level.
    static std::vector<uint32_t> keysTo(MenuIndex_t target) {
        Ostrix::Menu menu(800, 480);
        std::vector<MenuIndex_t> path;
        const std::function<bool(MenuIndex_t)> find = [&](MenuIndex_t parent) {
            for (MenuIndex_t child : menu.Children(parent)) {
                path.push_back(child);
                if (child == target || find(child)) {
                    return true;
                }
                path.pop_back();
            }
            return false;
        };
        std::vector<uint32_t> keys{UKEY_SELECT};
        if (!find(Ostrix::kMenuRoot)) {
            return keys;
        }
        MenuIndex_t parent = Ostrix::kMenuRoot;
        for (size_t level = 0; level < path.size(); ++level) {
            const auto& siblings = menu.Children(parent);
            const auto position = std::find(siblings.begin(), siblings.end(), path[level]) - siblings.begin();
            keys.insert(keys.end(), size_t(position), UKEY_DOWN);
            if (level + 1 < path.size()) {
                keys.push_back(UKEY_RIGHT);
            }
            parent = path[level];
        }
        return keys;
    }

    static std::optional<message_s> replyTo(const ControllerEnd& controller) {
        std::optional<message_s> reply;
        runEventsUntil([&] { return (reply = controller.pollMessage()).has_value(); }, kWaitMs);
        return reply;
    }

    std::unique_ptr<TestWindow> window_;
};

TEST_F(PictureChooser, TheChosenPictureIsNumberedFromOneInSortedOrder) {
    const std::string stick = root() + "/sim/usb/stick";
    fs::create_directories(stick);
    testing_support::writeFile(platform::sysPath("/dev/sda1"), stick);
    for (const char* name : {"c_L.png", "a_S.png", "b_L.png", "0_R.png"}) {
        fs::copy_file(OSTRIX_SOURCE_DIR "/resources/slider.png", stick + "/" + name);
    }
    ControllerEnd controller;
    std::vector<uint32_t> keys = keysTo(kSourceUsb);
    ASSERT_GT(keys.size(), 3u);
    // SELECT starts the chooser on the first picture; RIGHT shows the next; SELECT takes it.
    for (uint32_t key : {UKEY_SELECT, UKEY_RIGHT, UKEY_SELECT}) {
        keys.push_back(key);
    }
    for (uint32_t key : keys) {
        controller.send(tEV_KEY + key);
    }
    const std::optional<message_s> reply = replyTo(controller);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->command, tEV_ACTION + SETT_IMAGE_SOURCE);
    EXPECT_EQ(reply->data, 2u); // b_L.png: the _R picture is not offered
    EXPECT_FALSE(fs::is_symlink(platform::sysPath(Ostrix::Menu::kUsbMountPoint)));
}

} // namespace
