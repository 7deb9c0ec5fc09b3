#include "controller/core/ImageCapture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "common/logfile.h"
#include "common/messages.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/SettingHandlers.h"
#include "controller/core/capture_notes.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/core/usb.h"
#include "controller/fpga/fpga.h"
#include "controller/input/UserControls.h"
#include "platform/platform.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MESSAGE_SECONDS = 3;
constexpr int SAVING_MESSAGE_SECONDS = 32;
constexpr int DATE_MONTH_DAY_YEAR = 1;
constexpr int DATE_YEAR_MONTH_DAY = 2;
constexpr int TM_YEAR_BASE = 1900;
// Pictures on the stick can be read and replaced by anyone who plugs it in.
constexpr const char* IMAGE_FILE_MODE = "666";

const char* const STEREO_SUFFIX = "_S";
const char* const LEFT_SUFFIX = "_L";
const char* const RIGHT_SUFFIX = "_R";

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

std::string q(const std::string& word) {
    return platform::shellQuote(word);
}

std::string extension() {
    return image_format_png ? ".png" : ".bmp";
}

bool exists(const std::string& name) {
    std::error_code ec;
    return std::filesystem::is_regular_file(name, ec);
}

void setControls(bool enabled) {
    if (user_controls) {
        user_controls->enable_controls(enabled);
    }
    execute_mode.controlsEnabled = enabled ? 1 : 0;
}

void cannotSave(const char* reason) {
    display_message(MESS_CANNOT_SAVE_IMAGE, MESSAGE_SECONDS);
    err_printf(reason);
}

int writeChannel(int channel, const std::string& file) {
    return image_format_png ? fpga->frameStoreToPNG(channel, file) : fpga->frameStoreToBMP(channel, file);
}

int displayChannel(int channel, const std::string& file) {
    return image_format_png ? fpga->frameStoreDisplayPNG(channel, file)
                            : fpga->frameStoreDisplayBMP(channel, file);
}

// Left over from an earlier capture, a temporary file could be copied as if it were new.
void removeTemporaryFiles() {
    for (const char* name : {"tmpL", "tmpR", "tmp"}) {
        std::remove((controller_files.tmp_image_folder + name + extension()).c_str());
    }
}

int copyToStick(const std::string& local, const std::string& name) {
    return platform::shell("sudo cp -f " + q(local) + " " + q(name));
}

// Unmounting flushes the stick; mounting it again (mount_usb unmounts first) lets the
// permissions be set.
void remount(int stick) {
    mount_usb(static_cast<unsigned>(stick));
}

void setImagePermissions(const std::string& name, const char* which) {
    if (change_permissions(IMAGE_FILE_MODE, name) != 0) {
        logprintferror("MAIN: ERROR: Failed to set privileges for %s image file %s", which, name.c_str());
    }
}

void saveExtendedImage(int stick, const std::string& base) {
    logprintf("MAIN: Create EXTENDED image\n");
    const std::string name = base + STEREO_SUFFIX + extension();
    const std::string local = controller_files.tmp_image_folder + "tmp" + extension();
    fpga->freezeFrame(1);
    const int captured = writeChannel(LEFTandRIGHT, local);
    fpga->freezeFrame(0);
    logprintf("MAIN: Stereo Filename = %s\n", name.c_str());
    if (captured != 0) {
        cannotSave("Image capture failed");
        return;
    }
    const int copied = copyToStick(local, name);
    remount(stick);
    if (copied != 0) {
        cannotSave("Copy to Memory Stick failed");
        return; // the failure message stays up
    }
    if (change_permissions(IMAGE_FILE_MODE, name) != 0) {
        logprintferror("MAIN: ERROR: Failed to set privileges for Extended image file %s", name.c_str());
    }
    display_message(MESS_NONE, 0);
}

void saveLeftRightImages(int stick, int option, const std::string& base) {
    logprintf("MAIN: Create L&R images\n");
    const bool wantLeft = option == SAVE_LEFT_ONLY || option == SAVE_LEFT_AND_RIGHT;
    const bool wantRight = option == SAVE_RIGHT_ONLY || option == SAVE_LEFT_AND_RIGHT;
    const std::string leftName = base + LEFT_SUFFIX + extension();
    const std::string rightName = base + RIGHT_SUFFIX + extension();
    const std::string leftLocal = controller_files.tmp_image_folder + "tmpL" + extension();
    const std::string rightLocal = controller_files.tmp_image_folder + "tmpR" + extension();

    const Clock::time_point start = Clock::now();
    fpga->freezeFrame(1);
    const bool leftCaptured = wantLeft && writeChannel(LEFT, leftLocal) == 0;
    const bool rightCaptured = wantRight && writeChannel(RIGHT, rightLocal) == 0;
    fpga->freezeFrame(0);
    if (wantLeft) {
        logprintf("MAIN: Left Filename = %s\n", leftName.c_str());
    }
    if (wantRight) {
        logprintf("MAIN: Right Filename = %s\n", rightName.c_str());
    }
    logprintf("MAIN: It took %lld milliseconds to save picture locally.\n", msSince(start));

    const Clock::time_point copyStart = Clock::now();
    bool leftSaved = false, rightSaved = false, failed = false, captureFailed = false;
    if (wantLeft) {
        captureFailed = !leftCaptured;
        leftSaved = leftCaptured && copyToStick(leftLocal, leftName) == 0;
        failed = !leftSaved;
    }
    if (wantRight && !failed) {
        captureFailed = !rightCaptured;
        rightSaved = rightCaptured && copyToStick(rightLocal, rightName) == 0;
        failed = !rightSaved;
    }
    if (failed) {
        cannotSave(captureFailed ? "Image capture failed" : "Copy to Memory Stick failed");
    }
    remount(stick);
    if (leftSaved) {
        setImagePermissions(leftName, "Left");
    }
    if (rightSaved) {
        setImagePermissions(rightName, "Right");
    }
    logprintf("MAIN: It took %lld milliseconds to save picture to USB stick\n", msSince(copyStart));
    if (!failed) {
        display_message(MESS_NONE, 0);
    }
}

void saveToStick(const struct tm& when) {
    const int stick = usb_memory;
    // A stick that does not mount has had its message (mount_usb) and gets nothing.
    if (mount_usb(static_cast<unsigned>(stick)) != 0) {
        return;
    }
    display_message(MESS_SAVING_IMAGE, SAVING_MESSAGE_SECONDS);
    if (!fpga) {
        err_printf("No FPGA detected");
        display_message(MESS_CANNOT_SAVE_IMAGE, MESSAGE_SECONDS);
        return;
    }
    removeTemporaryFiles();
    fpga->setCaptureNotes(capture_settings_notes());
    const std::string base = platform::sysPath(controller_files.usb_mount_folder) +
                             controller_files.image_filename_leader +
                             date_time_string(when, shadow_settings[SETT_DATEFORMAT]);
    const int option = shadow_settings[SETT_IMAGE_SAVE_OPTION];
    if (option > SAVE_LEFT_AND_RIGHT) {
        saveExtendedImage(stick, base);
    } else {
        saveLeftRightImages(stick, option, base);
    }
}

// Shows one stored picture; 0 when every part of it reached the store.
int displayStoredFile(const std::string& name) {
    if (!exists(name)) {
        err_printf("File not found");
        return -1;
    }
    const std::string stereoTail = STEREO_SUFFIX + extension();
    if (name.size() >= stereoTail.size() &&
        name.compare(name.size() - stereoTail.size(), stereoTail.size(), stereoTail) == 0) {
        logprintf("MAIN: Left and Right %s\n", name.c_str());
        return displayChannel(LEFTandRIGHT, name);
    }
    logprintf("MAIN: Left %s\n", name.c_str());
    int result = displayChannel(LEFT, name);
    const std::string right = right_image_name(name);
    if (exists(right)) {
        logprintf("MAIN: Right %s\n", right.c_str());
        result |= displayChannel(RIGHT, right);
    }
    return result;
}

} // namespace

struct tm current_local_time() {
    const time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    return local;
}

std::string date_time_string(const struct tm& when, int dateformat) {
    const int year = when.tm_year + TM_YEAR_BASE;
    const int month = when.tm_mon + 1;
    int first = when.tm_mday, second = month, third = year;
    if (dateformat == DATE_MONTH_DAY_YEAR) {
        first = month;
        second = when.tm_mday;
    } else if (dateformat == DATE_YEAR_MONTH_DAY) {
        first = year;
        third = when.tm_mday;
    }
    char text[64];
    snprintf(text, sizeof text, "%02d%02d%02d_%02d%02d%02d", first, second, third, when.tm_hour, when.tm_min,
             when.tm_sec);
    return text;
}

void capture_image() {
    capture_image_at(current_local_time());
}

void capture_image_at(const struct tm& when) {
    logprintf("MAIN: Image Capture\n");
    setControls(false);
    const Clock::time_point start = Clock::now();
    if (execute_mode.pngdisplay) {
        logprintf("MAIN: Image Capture not available in PNG Display Mode\n");
        display_message(MESS_IMAGECAPTURE_NOT_AVAILABLE, MESSAGE_SECONDS);
    } else if (usb_memory_inserted() == 0) {
        display_message(MESS_NO_USB_DRIVE, MESSAGE_SECONDS);
    } else {
        saveToStick(when);
        unmount_usb();
    }
    logprintf("MAIN: Total Image Capture time %lld milliseconds\n", msSince(start));
    setControls(true);
}

std::vector<std::string> stored_image_files(const std::string& folder, bool png) {
    const std::string ext = png ? ".png" : ".bmp";
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const bool shown =
            name.size() > ext.size() + 2 && name[0] != '.' &&
            name.compare(name.size() - ext.size(), ext.size(), ext) == 0 &&
            name[name.size() - ext.size() - 2] == '_' &&
            (name[name.size() - ext.size() - 1] == 'L' || name[name.size() - ext.size() - 1] == 'S');
        if (shown && entry.is_regular_file(ec)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string right_image_name(const std::string& left) {
    const size_t dot = left.rfind('.');
    const size_t at = dot == std::string::npos ? std::string::npos : dot - std::string(LEFT_SUFFIX).size();
    if (dot == std::string::npos || dot < std::string(LEFT_SUFFIX).size() ||
        left.compare(at, 2, LEFT_SUFFIX) != 0) {
        return left;
    }
    return left.substr(0, at) + RIGHT_SUFFIX + left.substr(dot);
}

int show_stored_image(int number) {
    if (!fpga) {
        return -1;
    }
    if (number == 0) {
        fpga->freezeFrame(0);
        execute_mode.pngdisplay = 0;
        return 0;
    }
    if (usb_memory_inserted() == 0) {
        display_message(MESS_NO_USB_DRIVE, MESSAGE_SECONDS);
        return -1;
    }
    logprintf("MAIN: turn on screens for picture display\n");
    execute_mode.screenoff = 0;
    apply_display_brightness();
    fpga->setScreenBlanking(LEFTandRIGHT, false);
    execute_mode.screensblanked = 0;
    display_message(MESS_NONE, 0);
    if (mount_usb(static_cast<unsigned>(usb_memory)) != 0) {
        return -1;
    }
    const std::string folder = platform::sysPath(controller_files.usb_mount_folder);
    const std::vector<std::string> files = stored_image_files(folder, image_format_png);
    int result = 0;
    if (files.empty()) {
        err_printf("No image files found");
        result = -1;
    } else if (number > 0 && static_cast<size_t>(number) <= files.size()) {
        const std::string name = folder + "/" + files[static_cast<size_t>(number) - 1];
        logprintf("Image file selected = '%s'\n", name.c_str());
        execute_mode.pngdisplay = 1;
        fpga->freezeFrame(1);
        result = displayStoredFile(name);
        if (result != 0) {
            // Live video again rather than a half-written or stale store.
            err_printf("Stored image could not be shown: live video again");
            fpga->freezeFrame(0);
            execute_mode.pngdisplay = 0;
        }
    }
    unmount_usb();
    return result;
}
