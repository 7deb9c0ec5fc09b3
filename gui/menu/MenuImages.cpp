// The pictures the menu adds to the overlay: the user's overlay picture and the stored
// pictures of a USB stick that the chooser shows at a quarter of their size.
#include <algorithm>
#include <glob.h>
#include <memory>
#include <string>
#include <vector>

#include "common/messages.h"
#include "gui/app/Display.h"
#include "gui/app/guiprint.h"
#include "gui/app/testwindow.h"
#include "gui/menu/Menu.h"
#include "gui/settings/OstrixControlSettings.h"
#include "platform/platform.h"

namespace Ostrix {

namespace {

constexpr const char* kOverlayFile = "./overlay.png";
constexpr uint32_t kPreviewX = 160;
constexpr uint32_t kPreviewY = 0;

// Picture files on the stick whose names end in _L or _S, sorted.
std::vector<std::string> storedPictures(bool png) {
    const std::string pattern =
        platform::sysPath(Menu::kUsbMountPoint) + (png ? "/*_[LS].png" : "/*_[LS].bmp");
    std::vector<std::string> files;
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            files.emplace_back(found.gl_pathv[i]);
        }
    }
    globfree(&found);
    std::sort(files.begin(), files.end());
    return files;
}

// The picture in the format the controller saves in; none when it cannot be decoded.
std::unique_ptr<ImageFile> loadStoredPicture(const std::string& file, bool png) {
    std::unique_ptr<ImageFile> picture;
    if (png) {
        picture = std::make_unique<ImageFilePNG>();
    } else {
        picture = std::make_unique<ImageFileBMP>();
    }
    if (!picture->load(file.c_str())) {
        guiPrint("GUI: Invalid picture format");
        return nullptr;
    }
    guiPrint(png ? "Loaded PNG Image" : "Loaded BMP Image");
    return picture;
}

} // namespace

bool Menu::LoadOverlayImage(bool reload) {
    if (reload && mOverlayImage) {
        mOverlayImage.reset();
        guiPrint("Unloaded Overlay");
    }
    if (mOverlayImage) {
        guiPrint("Overlay already Loaded");
        return true;
    }
    auto image = std::make_unique<ImageFilePNG>();
    if (!image->load(kOverlayFile)) {
        guiPrint("Load Overlay failed");
        return false;
    }
    mOverlayImage = std::move(image);
    guiPrint("Loaded Overlay");
    return true;
}

void Menu::AddOverlayImage(VFB& vfb) const {
    if (!mOverlayImage || ostrixControlSettings.GetValue(SETT_OVERLAY) != 1) {
        return;
    }
    const uint32_t w = std::min(mOverlayImage->width(), vfb.width());
    const uint32_t h = std::min(mOverlayImage->height(), vfb.height());
    vfb.CopyImage(0, 0, mOverlayImage->getRef(0, 0, w, h), false);
}

void Menu::DisplayStoredImage(VFB& vfb) const {
    if (mStoredImage) {
        vfb.DisplayImage(kPreviewX, kPreviewY,
                         mStoredImage->getRef(0, 0, mStoredImage->width(), mStoredImage->height()));
    }
}

bool Menu::chooseImage(uint32_t& reply0, uint32_t& reply1, bool& showMessage, int& messageTime) {
    guiPrint("GUI: mCurrentSelection == M_IMAGE_SOURCE_USB");
    guiPrint("GUI: Checking for Image Files ");
    if (mount_usb() != 0) {
        SetMessage(MESS_NO_USB_DRIVE, 0, showMessage, messageTime);
        return true;
    }
    const bool png = image_format_png != 0;
    const std::vector<std::string> files = storedPictures(png);
    if (files.empty()) {
        guiPrint("GUI: No Image Files found");
        SetMessage(MESS_NO_IMAGE_FILES, 0, showMessage, messageTime);
        unmount_usb();
        return true;
    }
    // RIGHT or DOWN shows the next picture, LEFT or UP the previous one, SELECT takes the
    // one shown; any other key (or none, without a window) leaves.
    size_t shown = 0;
    uint32_t chosen = 0;
    for (;;) {
        mStoredImage = loadStoredPicture(files[shown], png);
        if (window == nullptr) {
            break;
        }
        guiPrint("wait for key press ");
        const uint32_t key = window->waitForKeypress();
        if (key == UKEY_SELECT) {
            chosen = uint32_t(shown + 1);
            break;
        }
        if (key == UKEY_RIGHT || key == UKEY_DOWN) {
            shown = (shown + 1) % files.size();
        } else if (key == UKEY_LEFT || key == UKEY_UP) {
            shown = (shown + files.size() - 1) % files.size();
        } else {
            break;
        }
    }
    guiPrint("unload image");
    mStoredImage.reset();
    unmount_usb();
    CloseMenu(true);
    // The controller shows the chosen picture, or the live picture for 0 (none chosen).
    reply0 = tEV_ACTION + uint32_t(SETT_IMAGE_SOURCE);
    reply1 = chosen;
    return true;
}

} // namespace Ostrix
