// Image capture to a simulated stick and stored-image display back into the simulated
// frame store: names, save options, faults, and what the files and the store hold.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/messages.h"
#include "controller/core/ControllerKeys.h"
#include "controller/core/ImageCapture.h"
#include "controller/core/SettingHandlers.h"
#include "sim/chips/DisplayFpga.h"
#include "sim/chips/FpgaTestPicture.h"
#include "tests/support/Pictures.h"
#include "tests/unit/controller/UsbFixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::columns;
using testing_support::pattern;
using testing_support::readFile;
using testing_support::readPng;
using testing_support::RgbImage;
using testing_support::storeImage;
using testing_support::writeFile;
using testing_support::writePng;

constexpr int W = 1920;
constexpr int H = 1080;

// The share of an eye's half of a side-by-side picture that shows the simulated FPGA's
// live test picture (all but its moving frame marker), sampled.
double matchesTestPicture(const RgbImage& stereo, int eye) {
    constexpr int kStep = 7;
    size_t same = 0, total = 0;
    for (uint32_t y = 0; y < H; y += kStep) {
        for (uint32_t x = 0; x < W; x += kStep) {
            const uint32_t word = sim::frameStoreWord(sim::testPicturePixel(eye, int(x), int(y), 0));
            const uint8_t* p = &stereo.rgb[(size_t(y) * stereo.width + x + (eye == RIGHT ? W : 0)) * 3];
            same += p[0] == uint8_t(word >> 24) && p[1] == uint8_t(word >> 14) && p[2] == uint8_t(word >> 3);
            ++total;
        }
    }
    return double(same) / double(total);
}

struct tm december7() {
    struct tm t {};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 3;
    return t;
}

TEST(ImageNames, DateTimeFollowsTheDateFormat) {
    const struct {
        int format;
        const char* text;
    } cases[] = {
        {0, "07122026_090503"}, {1, "12072026_090503"}, {2, "20261207_090503"}, {7, "07122026_090503"}};
    for (const auto& c : cases) {
        EXPECT_EQ(date_time_string(december7(), c.format), c.text) << c.format;
    }
}

TEST(ImageNames, RightPictureReplacesOnlyTheSuffix) {
    const struct {
        const char* left;
        const char* right;
    } cases[] = {
        {"/media/usb/QLM_07122026_090503_L.png", "/media/usb/QLM_07122026_090503_R.png"},
        {"/media/usb_L/QLM_Lab_L_L.bmp", "/media/usb_L/QLM_Lab_L_R.bmp"},
        {"QLM_S.png", "QLM_S.png"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(right_image_name(c.left), c.right);
    }
}

class ImageCaptureTest : public usb_testing::UsbTest {
protected:
    void SetUp() override {
        UsbTest::SetUp();
        fs::create_directories("images");
        fpga = std::make_unique<ostrixFpga>("vp-quickbuild.jic", true);
        execute_mode.init_complete = 1;
    }
    sim::DisplayFpga& model() { return *board().find<sim::DisplayFpga>(); }
    std::vector<std::string> onStick(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    void captureWith(int option) {
        shadow_settings[SETT_IMAGE_SAVE_OPTION] = option;
        shadow_settings[SETT_DATEFORMAT] = 2;
        capture_image_at(december7());
    }
};

// The capture key leaves the synthetic stereo picture, with the settings it was taken
// with, on the stick under the name the date format gives.
TEST_F(ImageCaptureTest, CaptureKeyLeavesTheStereoPictureOnTheStick) {
    const std::string folder = insert();
    shadow_settings[SETT_CAMERA_GAIN] = 7;
    captureWith(3);
    ASSERT_EQ(onStick(folder), std::vector<std::string>{"QLM_20261207_090503_S.png"});
    const std::string file = folder + "/QLM_20261207_090503_S.png";
    const RgbImage saved = readPng(file);
    ASSERT_EQ(saved.width, 2u * W);
    ASSERT_EQ(saved.height, unsigned(H));
    EXPECT_GT(matchesTestPicture(saved, LEFT), 0.99);
    EXPECT_GT(matchesTestPicture(saved, RIGHT), 0.99);
    const std::string bytes = readFile(file);
    EXPECT_NE(bytes.find("Eye: left and right, side by side"), std::string::npos);
    EXPECT_NE(bytes.find("Camera gain: 7"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    EXPECT_TRUE(mountPointEmpty());
    EXPECT_TRUE(execute_mode.controlsEnabled);
    EXPECT_TRUE(model().frameStoreLive(LEFT));
    for (const char* line : {"MAIN: Image Capture\n", "MAIN: Create EXTENDED image\n",
                             "MAIN: Stereo Filename = ", "MAIN: Total Image Capture time "}) {
        EXPECT_TRUE(logged(line)) << line;
    }
}

TEST_F(ImageCaptureTest, SaveOptionsWriteTheirSidesOnly) {
    const struct {
        int option;
        std::vector<std::string> files;
    } cases[] = {
        {1, {"QLM_20261207_090503_R.png"}},
        {0, {"QLM_20261207_090503_L.png"}},
    };
    for (const auto& c : cases) {
        const std::string folder = insert("option" + std::to_string(c.option));
        captureWith(c.option);
        EXPECT_EQ(onStick(folder), c.files) << c.option;
    }
    EXPECT_TRUE(logged("MAIN: Right Filename = "));
    EXPECT_TRUE(logged("MAIN: It took "));
    EXPECT_TRUE(logged(" milliseconds to save picture to USB stick\n"));
}

TEST_F(ImageCaptureTest, FullStickSkipsTheRightCopyAndSavesNothing) {
    const std::string folder = insert();
    sticks().setFault(sim::UsbFault::Full);
    captureWith(2);
    EXPECT_TRUE(onStick(folder).empty());
    EXPECT_EQ(count(log(), "MAIN: ERROR: Copy to Memory Stick failed"), 1u);
    EXPECT_EQ(count(shellLog(), "cp -f ./images/tmpL.png"), 1u);
    EXPECT_EQ(count(shellLog(), "cp -f ./images/tmpR.png"), 0u);
    EXPECT_TRUE(fs::exists("images/tmpR.png")); // captured locally, never copied
    EXPECT_TRUE(execute_mode.controlsEnabled);
}

TEST_F(ImageCaptureTest, StickPulledDuringTheCopyLeavesTheControllerRunning) {
    insert();
    sticks().setFault(sim::UsbFault::PullAfter, 4096);
    captureWith(3);
    EXPECT_TRUE(logged("MAIN: ERROR: Copy to Memory Stick failed"));
    EXPECT_TRUE(execute_mode.controlsEnabled);
    EXPECT_TRUE(mountPointEmpty());
    EXPECT_EQ(readPng("images/tmp.png").width, 2u * W); // the local picture is whole
    EXPECT_EQ(usb_memory_inserted(), 0);
}

TEST_F(ImageCaptureTest, NoCaptureWhileAStoredImageIsShownOrWithoutAStick) {
    const std::string folder = insert();
    execute_mode.pngdisplay = 1;
    handle_key(message_s{tEV_KEY | UKEY_P_IMAGECAPTURE, 0});
    EXPECT_TRUE(logged("MAIN: Image Capture not available in PNG Display Mode\n"));
    EXPECT_TRUE(onStick(folder).empty());
    execute_mode.pngdisplay = 0;
    sticks().remove(1);
    captureWith(3);
    EXPECT_FALSE(logged("F: FreezeFrame"));
    EXPECT_TRUE(execute_mode.controlsEnabled);
}

TEST_F(ImageCaptureTest, FailedCaptureCopiesNothing) {
    const std::string folder = insert();
    writeFile("images/tmp.png/in the way", "the capture cannot write here");
    captureWith(3);
    EXPECT_TRUE(logged("MAIN: ERROR: Image capture failed"));
    EXPECT_EQ(count(shellLog(), "cp -f"), 0u);
    fpga.reset();
    captureWith(3);
    EXPECT_TRUE(logged("MAIN: ERROR: No FPGA detected"));
    EXPECT_TRUE(onStick(folder).empty());
    EXPECT_TRUE(execute_mode.controlsEnabled);
}

TEST(StoredImages, ListingHoldsLeftAndStereoPicturesInNameOrder) {
    testing_support::TempDir dir;
    for (const char* name : {"QLM_2_S.png", "QLM_1_R.png", "QLM_1_L.png", "QLM_3_L.bmp", "notes.txt",
                             ".x_L.png", "QLM_0_l.png"}) {
        writeFile(dir.path() + "/" + name, "x");
    }
    fs::create_directories(dir.path() + "/folder_L.png");
    EXPECT_EQ(stored_image_files(dir.path(), true), (std::vector<std::string>{"QLM_1_L.png", "QLM_2_S.png"}));
    EXPECT_EQ(stored_image_files(dir.path(), false), std::vector<std::string>{"QLM_3_L.bmp"});
}

// Setting 74 shows stored image n of the stick in the frame store: the second of a stick
// holding a stereo picture and a left/right pair is the second name in order.
TEST_F(ImageCaptureTest, StoredImagesAreShownInTheFrameStore) {
    const std::string folder = insert();
    const RgbImage stereo = pattern(2 * W, H, 3), left = pattern(W, H, 5), right = pattern(W, H, 9);
    ASSERT_TRUE(writePng(folder + "/QLM_B_S.png", stereo));
    ASSERT_TRUE(writePng(folder + "/QLM_A_L.png", left));
    ASSERT_TRUE(writePng(folder + "/QLM_A_R.png", right));

    shadow_settings[SETT_IMAGE_SOURCE] = 2;
    run_setting_handler(SETT_IMAGE_SOURCE);
    EXPECT_TRUE(logged("Image file selected = '" + mountPoint() + "/QLM_B_S.png'\n"));
    EXPECT_EQ(storeImage(model().frameStoreWords(LEFT)), columns(stereo, 0, W));
    EXPECT_EQ(storeImage(model().frameStoreWords(RIGHT)), columns(stereo, W, W));
    EXPECT_TRUE(execute_mode.pngdisplay);
    EXPECT_FALSE(model().frameStoreLive(LEFT));
    EXPECT_TRUE(mountPointEmpty());

    ASSERT_EQ(show_stored_image(1), 0);
    EXPECT_EQ(storeImage(model().frameStoreWords(LEFT)), left);
    EXPECT_EQ(storeImage(model().frameStoreWords(RIGHT)), right);

    EXPECT_EQ(show_stored_image(0), 0);
    EXPECT_FALSE(execute_mode.pngdisplay);
    EXPECT_TRUE(model().frameStoreLive(LEFT));
}

TEST_F(ImageCaptureTest, UnreadableStoredImageGivesLiveVideoBack) {
    const std::string folder = insert();
    writeFile(folder + "/QLM_A_L.png", "not a picture");
    EXPECT_EQ(show_stored_image(1), -1);
    EXPECT_FALSE(execute_mode.pngdisplay);
    EXPECT_TRUE(model().frameStoreLive(LEFT));
    EXPECT_EQ(show_stored_image(2), 0); // beyond the list: nothing happens
    EXPECT_TRUE(mountPointEmpty());
    fs::remove(folder + "/QLM_A_L.png");
    EXPECT_EQ(show_stored_image(1), -1);
    EXPECT_TRUE(logged("MAIN: ERROR: No image files found"));
}

} // namespace
