// The menu's leaf actions, reached by keys as the user reaches them: presets, the
// information panel, white balance, image capture and source, factory defaults and the
// settings on a USB stick. Each case checks the reply to the controller, the message shown
// and what the action left in the files and on the simulated stick.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gui/settings/OstrixControlSettings.h"
#include "platform/platform.h"
#include "tests/unit/gui/BmpFile.h"
#include "tests/unit/gui/DisplayFixture.h"

namespace {

using namespace Ostrix;
using testing_support::readFile;
using testing_support::writeFile;
namespace fs = std::filesystem;

constexpr MenuIndex_t kInformation = 219;
constexpr MenuIndex_t kFactoryDefaults = 234;
constexpr MenuIndex_t kLoadFromUsb = 239;
constexpr MenuIndex_t kSaveToUsb = 241;
constexpr MenuIndex_t kWhiteBalance = 293;
constexpr MenuIndex_t kSaveImage = 328;
constexpr MenuIndex_t kSourceLive = 335;
constexpr MenuIndex_t kSourceUsb = 336;
// Preset p (1..10): apply, save, export and import are items 69 + 5p .. 72 + 5p.
MenuIndex_t presetItem(int preset, int action) {
    return MenuIndex_t(69 + 5 * preset + action);
}
enum { kApply, kSave, kExport, kImport };
constexpr const char* kCurrent = "QLM_GUI.settings";

using Outcome = testing_support::GuiReply;

class MenuActions : public testing_support::MenuFixture {
protected:
    void SetUp() override {
        MenuFixture::SetUp();
        image_format_png = 1;
    }
    void TearDown() override {
        image_format_png = 1;
        MenuFixture::TearDown();
    }

    // The items from the top level down to `target`.
    bool pathTo(MenuIndex_t parent, MenuIndex_t target, std::vector<MenuIndex_t>& path) const {
        for (MenuIndex_t child : menu_->Children(parent)) {
            path.push_back(child);
            if (child == target || pathTo(child, target, path)) {
                return true;
            }
            path.pop_back();
        }
        return false;
    }
    // Opens the menu afresh and walks to `target` with UP, DOWN and RIGHT, as a user does.
    void walkTo(MenuIndex_t target) {
        std::vector<MenuIndex_t> path;
        ASSERT_TRUE(pathTo(kMenuRoot, target, path)) << target;
        if (menu_->MenuOpen()) {
            menu_->CloseMenu(false);
        }
        key(UKEY_SELECT);
        MenuIndex_t parent = kMenuRoot;
        for (size_t level = 0; level < path.size(); ++level) {
            const auto& siblings = menu_->Children(parent);
            auto at = [&](MenuIndex_t i) {
                return std::find(siblings.begin(), siblings.end(), i) - siblings.begin();
            };
            while (at(menu_->CurrentSelection()) < at(path[level])) {
                key(UKEY_DOWN);
            }
            while (at(menu_->CurrentSelection()) > at(path[level])) {
                key(UKEY_UP);
            }
            if (level + 1 < path.size()) {
                key(UKEY_RIGHT);
            }
            parent = path[level];
        }
        ASSERT_EQ(menu_->CurrentSelection(), target);
    }
    Outcome act(MenuIndex_t item) {
        walkTo(item);
        return key(UKEY_SELECT);
    }

    // A simulated USB stick in the first slot; its folder.
    std::string plugStick() {
        const std::string stick = root() + "/sim/usb/stick";
        fs::create_directories(stick);
        writeFile(platform::sysPath("/dev/sda1"), stick);
        return stick;
    }
    std::string shellLog() const { return readFile(root() + "/var/log/ostrix-sim/shell.log"); }
    // The stick is mounted around the work and unmounted after it.
    void expectMountedAroundTheWork() const {
        const std::string log = shellLog();
        const size_t mount = log.find("mount ");
        EXPECT_NE(mount, std::string::npos) << log;
        EXPECT_NE(log.find("umount ", mount), std::string::npos) << log;
        EXPECT_FALSE(fs::is_symlink(platform::sysPath(Menu::kUsbMountPoint)));
    }
    // A preset file holding the settings with the given camera gain.
    static void writePreset(const std::string& file, uint16_t gain) {
        OstrixControlSettings source;
        source.SetValue(SETT_CAMERA_GAIN, gain);
        source.StorePreset(0);
        ASSERT_TRUE(source.ExportPreset(0, file));
    }
    static uint16_t gain() { return ostrixControlSettings.GetValue(SETT_CAMERA_GAIN); }
};

TEST_F(MenuActions, ActionsWithoutAStick) {
    struct Case {
        const char* name;
        MenuIndex_t item;
        uint32_t reply0;
        uint32_t message;
        bool stillOpen;
    };
    const Case cases[] = {
        {"information panel", kInformation, 0, MESS_INFO_PANEL, true},
        // Without a window to confirm on, the white balance is cancelled: nothing is sent.
        {"white balance", kWhiteBalance, 0, MESS_NONE, false},
        {"save image", kSaveImage, tEV_KEY + UKEY_P_IMAGECAPTURE, MESS_NONE, false},
        {"image source live", kSourceLive, tEV_ACTION + SETT_IMAGE_SOURCE, MESS_NONE, false},
        {"image source USB", kSourceUsb, 0, MESS_NO_USB_DRIVE, true},
        {"preset 2 apply", presetItem(2, kApply), 0, MESS_NO_PRESET_FILE, true},
        {"preset 4 export", presetItem(4, kExport), 0, MESS_NO_USB_DRIVE, true},
        {"preset 5 import", presetItem(5, kImport), 0, MESS_NO_USB_DRIVE, true},
        {"load from USB", kLoadFromUsb, 0, MESS_NO_USB_DRIVE, true},
        {"save to USB", kSaveToUsb, 0, MESS_NO_USB_DRIVE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        menu_->CloseMenu(false);
        const Outcome o = act(c.item);
        EXPECT_EQ(o.reply0, c.reply0);
        EXPECT_EQ(o.reply1, 0u);
        EXPECT_EQ(menu_->CurrentMessage(), c.message);
        EXPECT_EQ(menu_->MenuOpen(), c.stillOpen);
        menu_->ClearMessage();
    }
    EXPECT_EQ(act(kInformation).time, 10000);
}

TEST_F(MenuActions, SaveImageIsRefusedForASecondAfterTheMenuClosedWithLeft) {
    walkTo(kSaveImage);
    while (menu_->MenuOpen()) {
        key(UKEY_LEFT);
    }
    const Outcome refused = act(kSaveImage);
    EXPECT_FALSE(refused.send);
    EXPECT_EQ(refused.reply0, 0u);
    EXPECT_TRUE(menu_->MenuOpen());
}

TEST_F(MenuActions, PresetsApplySaveExportAndImport) {
    const std::string stick = plugStick();
    const std::string preset3 = OstrixControlSettings::PresetFileName(2);
    writePreset(preset3, 7);

    Outcome o = act(presetItem(3, kApply));
    EXPECT_EQ(o.reply0, tEV_PRESETLOADED + 3);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_APPLYING_PRESET);
    EXPECT_EQ(gain(), 7);
    EXPECT_NE(readFile(kCurrent).find("\nSETT_CAMERA_GAIN=7\n"), std::string::npos);

    // Preset 1 has no file yet: nothing to export until it is saved.
    act(presetItem(1, kExport));
    EXPECT_EQ(menu_->CurrentMessage(), MESS_NO_SETTINGS_IN_PRESET);
    EXPECT_FALSE(fs::exists(stick + "/" + OstrixControlSettings::PresetFileName(0)));
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 2);
    act(presetItem(1, kSave));
    EXPECT_EQ(menu_->CurrentMessage(), MESS_SYSTEM_SETTINGS_SAVED);
    act(presetItem(1, kExport));
    EXPECT_EQ(menu_->CurrentMessage(), MESS_EXPORTING_PRESET);
    EXPECT_NE(readFile(stick + "/" + OstrixControlSettings::PresetFileName(0)).find("SETT_CAMERA_GAIN=2\n"),
              std::string::npos);
    expectMountedAroundTheWork();

    // Import: a good file is applied and kept; a bad one replaces nothing.
    writePreset(stick + "/" + OstrixControlSettings::PresetFileName(4), 9);
    o = act(presetItem(5, kImport));
    EXPECT_EQ(o.reply0, tEV_PRESETLOADED + 5);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_IMPORTING_PRESET);
    EXPECT_EQ(gain(), 9);
    EXPECT_NE(readFile(OstrixControlSettings::PresetFileName(4)).find("SETT_CAMERA_GAIN=9\n"),
              std::string::npos);
    const std::string kept = readFile(preset3);
    writeFile(stick + "/" + preset3, "not a settings file\n");
    o = act(presetItem(3, kImport));
    EXPECT_EQ(o.reply0, 0u);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_CANNOT_IMPORT_PRESET);
    EXPECT_EQ(readFile(preset3), kept);
    EXPECT_EQ(gain(), 9);
    expectMountedAroundTheWork();
}

TEST_F(MenuActions, SettingsToAndFromTheStick) {
    const std::string stick = plugStick();
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 3);
    writePreset(OstrixControlSettings::PresetFileName(1), 4);
    act(kSaveToUsb);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_EXPORTING_SETTINGS);
    EXPECT_NE(readFile(stick + "/" + kCurrent).find("\nSETT_CAMERA_GAIN=3\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(stick + "/" + OstrixControlSettings::PresetFileName(1)));
    expectMountedAroundTheWork();

    // Loaded back after a change: the stick's settings and presets, and the controller is
    // told to take every setting over from the stick.
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 8);
    fs::remove(OstrixControlSettings::PresetFileName(1));
    const Outcome o = act(kLoadFromUsb);
    EXPECT_EQ(o.reply0, tEV_PRESETLOADED + 0xFFFF);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_IMPORTING_SETTINGS);
    EXPECT_EQ(gain(), 3);
    EXPECT_TRUE(fs::exists(OstrixControlSettings::PresetFileName(1)));

    // A stick whose settings file is no settings file changes nothing.
    writeFile(stick + "/" + kCurrent, "garbage");
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 6);
    const Outcome bad = act(kLoadFromUsb);
    EXPECT_EQ(bad.reply0, 0u);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_CANNOT_IMPORT_SETTINGS);
    EXPECT_EQ(gain(), 6);

    // A copy that fails is reported: the stick holds a folder where the file should go.
    fs::remove(stick + "/" + kCurrent);
    fs::create_directories(stick + "/" + kCurrent + "/" + kCurrent);
    act(kSaveToUsb);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_CANNOT_EXPORT_SETTINGS);
    expectMountedAroundTheWork();
}

TEST_F(MenuActions, FactoryDefaultsAreTheTableWithTheFactoryFileOnTop) {
    writeFile("QLM_FACTORY.settings", "#QLM settings Text 99\nSETT_CAMERA_GAIN=7\n");
    writePreset(OstrixControlSettings::PresetFileName(0), 1);
    const uint16_t tableBrightness = ostrixControlSettings.GetValue(SETT_DISPLAY_BRIGHTNESS);
    ostrixControlSettings.SetValue(SETT_DISPLAY_BRIGHTNESS, uint16_t(tableBrightness + 1));
    ostrixControlSettings.SetValue(SETT_CAMERA_GAIN, 2);
    const Outcome o = act(kFactoryDefaults);
    EXPECT_EQ(o.reply0, tEV_PRESETLOADED);
    EXPECT_EQ(menu_->CurrentMessage(), MESS_FACTORY_DEFAULTS);
    EXPECT_FALSE(menu_->MenuOpen());
    EXPECT_EQ(ostrixControlSettings.GetValue(SETT_DISPLAY_BRIGHTNESS), tableBrightness);
    EXPECT_EQ(gain(), 7);
    EXPECT_FALSE(fs::exists(OstrixControlSettings::PresetFileName(0)));
}

// A stick with stored pictures in the controller's format: the chooser mounts the stick,
// decodes the first picture in sorted order and, without a window to choose in, leaves
// with none chosen so the controller stays live.
TEST_F(MenuActions, TheChooserReadsTheStickInTheSavedFormat) {
    struct Case {
        int png;
        const char* loaded;
    };
    const std::string stick = plugStick();
    testing_support::BmpFile bmp;
    bmp.width = 2;
    bmp.height = 1;
    bmp.pixelData = {0, 0, 0xFF, 0, 0xFF, 0, 0, 0};
    writeFile(stick + "/b_L.bmp", bmp.bytes());
    writeFile(stick + "/z_L.bmp", "not a picture"); // sorts after the good one
    fs::copy_file(OSTRIX_SOURCE_DIR "/resources/slider.png", stick + "/c_S.png");
    const Case cases[] = {{0, "Loaded BMP Image"}, {1, "Loaded PNG Image"}};
    for (const Case& c : cases) {
        image_format_png = c.png;
        menu_->CloseMenu(false);
        testing::internal::CaptureStdout();
        const Outcome o = act(kSourceUsb);
        const std::string console = testing::internal::GetCapturedStdout();
        EXPECT_EQ(o.reply0, tEV_ACTION + SETT_IMAGE_SOURCE);
        EXPECT_EQ(o.reply1, 0u);
        EXPECT_NE(console.find(c.loaded), std::string::npos) << console;
        EXPECT_FALSE(menu_->MenuOpen());
        expectMountedAroundTheWork();
    }
}

} // namespace
