#include "gui/menu/Menu.h"

#include "common/SettingsIndex.h"
#include "gui/app/guiprint.h"
#include "gui/render/fontmap.h"
#include "gui/settings/OstrixControlSettings.h"

namespace Ostrix {

namespace {

constexpr const char* kCurrentSettingsFile = "QLM_GUI.settings";

} // namespace

Menu::Menu(int width, int height) : mWidth(width), mHeight(height) {
    guiPrint("GUI: Menu constructor");
    if (!OverlayText::LoadFont(kFontImageFile)) {
        guiPrint("Cannot open file: %s", kFontImageFile);
    } else {
        guiPrint("Using Font - %s", fontName);
    }
    ostrixControlSettings.RetrieveLastSettings(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
    guiPrint("GUI: Menu constructor complete");
}

} // namespace Ostrix
