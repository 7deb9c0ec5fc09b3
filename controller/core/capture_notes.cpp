#include "controller/core/capture_notes.h"

#include "common/SettingsIndex.h"
#include "controller/core/SettingHandlers.h"

namespace {

struct NotedSetting {
    SettingsIndex_t index;
    const char* name;
};

constexpr NotedSetting NOTED_SETTINGS[] = {
    {SETT_EXPO, "Exposure mode"},
    {SETT_CAMERA_GAIN, "Camera gain"},
    {SETT_CAMERA_EXPOSURE_TIME, "Camera exposure time"},
    {SETT_AUTOWHITEBALANCE, "Auto white balance"},
    {SETT_CAMERA_WHITE_BALANCE, "Camera white balance"},
    {SETT_LIGHT_RING, "Light ring"},
    {SETT_LIGHT_SUBSTAGE, "Light substage"},
    {SETT_LIGHT_AUX, "Light aux"},
    {SETT_LIGHT_QUADRANT_TOP, "Light quadrant top"},
    {SETT_LIGHT_QUADRANT_LEFT, "Light quadrant left"},
    {SETT_LIGHT_QUADRANT_BOTTOM, "Light quadrant bottom"},
    {SETT_LIGHT_QUADRANT_RIGHT, "Light quadrant right"},
    {SETT_ZOOM_POSITION, "Zoom position"},
};

} // namespace

std::string capture_settings_notes() {
    std::string notes;
    for (const NotedSetting& s : NOTED_SETTINGS) {
        notes += std::string(s.name) + ": " + std::to_string(shadow_settings[s.index]) + "\n";
    }
    return notes;
}
