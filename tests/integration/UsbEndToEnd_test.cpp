// USB memory end to end: OstrixPi runs on the simulated board with a stand-in GUI,
// ostrix-sim plugs a stick in, the GUI's capture request leaves the stereo picture on the
// stick, and the image-source setting shows it again in the frame store.
#include <gtest/gtest.h>

#include <png.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/SettingsIndex.h"
#include "common/messages.h"
#include "sim/board/Board.h"
#include "tests/support/OstrixPiProcess.h"
#include "tests/support/TempRoot.h"
#include "tests/unit/link/StandInGui.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::OstrixPiProcess;

constexpr int kMessageMs = 3000;
constexpr int kStereoPicture = 3; // save option: one side-by-side picture
constexpr uint32_t W = 1920;
constexpr uint32_t H = 1080;

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

Picture readPng(const std::string& path) {
    Picture p;
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        return p;
    }
    png.format = PNG_FORMAT_RGB;
    p.rgb.resize(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, p.rgb.data(), 0, nullptr)) {
        p.width = png.width;
        p.height = png.height;
    }
    return p;
}

std::vector<uint8_t> leftHalf(const Picture& p) {
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < p.height; ++y) {
        const auto row = p.rgb.begin() + static_cast<long>(size_t(y) * p.width * 3);
        out.insert(out.end(), row, row + W * 3);
    }
    return out;
}

class UsbEndToEndTest : public ::testing::Test {
protected:
    std::string root() const { return dir_.path() + "/root"; }
    std::string home() const { return root() + "/home/pi/Ostrix"; }
    std::string stick() const { return dir_.path() + "/stick"; }
    std::string scratch() const { return dir_.path(); }

    void SetUp() override {
        ASSERT_EQ(sim::initRoot(root()), "");
        testing_support::writeFile(home() + "/ostrix.cfg", "[SYSTEM]\nmajorversion = 4\n");
        fs::create_directories(stick());
    }

    int sim(std::vector<std::string> args) const {
        args.insert(args.begin(), std::string(OSTRIX_BIN_DIR) + "/ostrix-sim");
        args.insert(args.begin() + 1, {"--root", root()});
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    testing_support::TempDir dir_;
};

TEST_F(UsbEndToEndTest, CapturedPictureGoesToTheStickAndComesBack) {
    StandInGui gui([](int index) { return index == SETT_IMAGE_SAVE_OPTION ? kStereoPicture : 0; });
    OstrixPiProcess controller(std::string(OSTRIX_BIN_DIR) + "/OstrixPi", root(), home());
    ASSERT_TRUE(controller.waitForLog("MAIN: GUI settings collected\n")) << controller.log();

    ASSERT_EQ(sim({"usb", "insert", stick()}), 0);
    EXPECT_TRUE(gui.waitFor(tEV_MESSAGE | MESS_USB_FLASH_INSERTED, kMessageMs));

    gui.send(tEV_KEY | UKEY_P_IMAGECAPTURE, 0);
    ASSERT_TRUE(controller.waitForLog("MAIN: Total Image Capture time ")) << controller.log();
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(stick())) {
        files.push_back(e.path().filename().string());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(files[0].size() - 6), "_S.png");
    const Picture captured = readPng(stick() + "/" + files[0]);
    ASSERT_EQ(captured.width, 2 * W);
    ASSERT_EQ(captured.height, H);
    EXPECT_NE(testing_support::readFile(stick() + "/" + files[0]).find("Eye: left and right"),
              std::string::npos);
    EXPECT_TRUE(gui.waitFor(tEV_MESSAGE | MESS_SAVING_IMAGE, 32000, kMessageMs));

    gui.send(tEV_ACTION | SETT_IMAGE_SOURCE, 1);
    ASSERT_TRUE(controller.waitForLog("MAIN: Left and Right ")) << controller.log();
    ASSERT_TRUE(controller.waitForLog("F: Frame Store write took ")) << controller.log();
    const std::string shown = scratch() + "/shown.png";
    ASSERT_EQ(sim({"framestore", "save", "left", shown}), 0);
    EXPECT_EQ(readPng(shown).rgb, leftHalf(captured));

    ASSERT_EQ(sim({"usb", "remove"}), 0);
    EXPECT_TRUE(gui.waitFor(tEV_MESSAGE | MESS_USB_FLASH_REMOVED, kMessageMs));
    EXPECT_EQ(controller.stop(), 0);
}

} // namespace
