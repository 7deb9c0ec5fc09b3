#include "gui/settings/OstrixControlSettings.h"

#include <algorithm>
#include <array>

#include "gui/app/guiprint.h"

OstrixControlSettings ostrixControlSettings;

namespace {

using FactorySetting = OstrixControlSettings::FactorySetting;

// Factory defaults and ranges. Settings not listed here (screen-dependent ranges, command
// codes) start all zero until the menu gives them a range. The list ends with the record
// whose index is the table size.
constexpr FactorySetting factorySettings[] = {
    {SETT_EXPO, 0, 0, 2, 1},
    {SETT_FOCUS, 1, 0, 1, 1},
    {SETT_LENSPOWER, 0, 0, 3, 1},
    {SETT_MULTIPLIER, 0, 0, 1, 1},
    {SETT_MEASUREMENTUNITS_MM, 1, 0, 1, 1},
    {SETT_DIGITALZOOM, 1, 0, 1, 1},
    {SETT_BLACKANDWHITEMODE, 0, 0, 1, 1},
    {SETT_WIDEDYNAMICRANGE, 0, 0, 1, 1},
    {SETT_UI_LANGUAGE, 0, 0, 9, 1},
    {SETT_UI_SOUND, 1, 0, 1, 1},
    {SETT_UI_CROSSHAIRSIZE, 0, 0, 2, 1},
    {SETT_UI_CROSSHAIRCOLOUR, 1, 0, 7, 1},
    {SETT_UI_MENUPOSITION, 1, 1, 4, 1},
    {SETT_UI_STATUSBARPOSITION, 0, 0, 1, 1},
    {SETT_UI_INFORMATIONTEXT, 1, 0, 1, 1},
    {SETT_DATEFORMAT, 0, 0, 2, 1},
    {SETT_CAMERAFREQ_50HZ, 1, 0, 1, 1},
    {SETT_SETSCREENSIZE, 24, 6, 100, 1},
    {SETT_AUTOWHITEBALANCE, 0, 0, 3, 0},
    {SETT_UI_TRANSPARENCY, 0, 0, 100, 4},
    {SETT_CAL_SETCALSCALE, 10, 1, 500, 1},
    {SETT_AEBRIGHTNESS, 14, 0, 27, 1},
    {SETT_APERTUREPRIORITY_APERTURE, 5, 0, 13, 1},
    {SETT_MANUALEXPOSURE_APERTURE, 5, 0, 13, 1},
    {SETT_MANUALEXPOSURE_GAIN, 4, 1, 15, 1},
    {SETT_MANUALEXPOSURE_TIME, 6, 0, 21, 1},
    {SETT_MANUALFOCUS_FOCUS, 100, 0, 100, 1},
    {SETT_SETGRIDSIZE_X, 40, 10, 480, 2},
    {SETT_SETGRIDPOSITION_X, 0, 0, 480, 2},
    {SETT_ZOOM_POSITION, 0, 0, 31424, 1},
    {SETT_SUBSTAGE_LED_LEVEL, 0, 0, 100, 1},
    {SETT_INTERNAL_LED_LEVEL, 60, 0, 100, 1},
    {SETT_EXTERNAL_LED_LEVEL, 0, 0, 100, 1},
    {SETT_ZOOM_SPEED, 7, 0, 7, 1},
    {SETT_IMAGEFREEZE, 0, 0, 1, 1},
    {SETT_MEAS_TYPE, 2, 0, 2, 1},
    {SETT_APERTUREPRIORITY_BRIGHTNESS, 7, 0, 14, 1},
    {SETT_IRMODE, 0, 0, 1, 1},
    {SETT_OVERLAY, 1, 0, 1, 1},
    {SETT_CAL_LOCK, 0, 0, 1, 1},
    {SETT_FRONT_PANEL_LOCK, 0, 0, 1, 1},
    {SETT_DISPLAY_BRIGHTNESS, 50, 0, 100, 1},
    {SETT_DISPLAY_CONTRAST, 50, 0, 100, 1},
    {SETT_DISPLAY_SHARPNESS, 0, 0, 5, 1},
    {SETT_CAMERA_GAIN, 5, 0, 10, 1},
    {SETT_CAMERA_EXPOSURE_TIME, 5, 0, 10, 1},
    {SETT_CAMERA_BLACK_LEVEL, 5, 0, 10, 1},
    {SETT_CAMERA_SHARPNESS, 0, 0, 5, 1},
    {SETT_CAMERA_CONTRAST, 50, 0, 100, 1},
    {SETT_CAMERA_WHITE_BALANCE, 5, 0, 10, 1},
    {SETT_LIGHT_RING, 0, 0, 25, 1},
    {SETT_LIGHT_SUBSTAGE, 0, 0, 25, 1},
    {SETT_LIGHT_AUX, 0, 0, 25, 1},
    {SETT_LIGHT_QUADRANT_TOP, 1, 0, 1, 1},
    {SETT_LIGHT_QUADRANT_LEFT, 1, 0, 1, 1},
    {SETT_LIGHT_QUADRANT_BOTTOM, 1, 0, 1, 1},
    {SETT_LIGHT_QUADRANT_RIGHT, 1, 0, 1, 1},
    {SETT_SPEAKER_VOLUME, 0, 0, 100, 1},
    {SETT_HEADSET_VOLUME, 0, 0, 100, 1},
    {SETT_IMAGE_SAVE_OPTION, 0, 0, 3, 1},
    {SETT_PRESET_P1_SHORT, 0, 0, 7, 1},
    {SETT_PRESET_P2_SHORT, 0, 0, 7, 1},
    {SETT_PRESET_P3_SHORT, 0, 0, 7, 1},
    {SETT_CAMERA_MIRROR_HORIZ, 0, 0, 1, 1},
    {SETT_CAMERA_MIRROR_VERTICAL, 0, 0, 1, 1},
    {SETT_STANDBY_ON_NO_SIGNAL, 1, 0, 1, 1},
    {SETT_AWB_RED_LO, 256, 0, 65535, 1},
    {SETT_AWB_RED_HI, 0, 0, 65535, 1},
    {SETT_AWB_GREEN_LO, 256, 0, 65535, 1},
    {SETT_AWB_GREEN_HI, 0, 0, 65535, 1},
    {SETT_AWB_BLUE_LO, 256, 0, 65535, 1},
    {SETT_AWB_BLUE_HI, 0, 0, 65535, 1},
    {SETT_AWB_VALID, 1, 0, 1, 1},
    {SETT_3DOUTPUT_MODE, 0, 0, 1, 1},
    {SETT_CAMERA_COLOUR_GAIN_RED, 5, 0, 10, 1},
    {SETT_CAMERA_COLOUR_GAIN_GREEN, 5, 0, 10, 1},
    {SETT_CAMERA_COLOUR_GAIN_BLUE, 5, 0, 10, 1},
    {SETT_CAMERA_CHROMA_CORRECT, 0, 0, 1, 1},
    {SETT_3DINPUT_MODE, 0, 0, 2, 1},
    {SETT_COLOUR_CORRECTION_PROFILE, 0, 0, 1, 1},
    {SETT_DISPLAY_MAGNIFICATION, 0, 0, 1, 1},
    {SETT_HDR_RATIO, 1, 1, 16, 1},
    {SETT_HDR_EXPOSURE, 1, 1, 26, 1},
    {SETT_HDR_MODE, 0, 0, 1, 1},
    {SETT_PRESET_P1, 0, 0, 10, 1},
    {SETT_PRESET_P2, 0, 0, 10, 1},
    {SETT_PRESET_P3, 0, 0, 10, 1},
    {SETT_TIME_HOURS, 0, 0, 23, 1},
    {SETT_TIME_MINUTES, 0, 0, 59, 1},
    {SETT_DATE_DAY, 1, 1, 31, 1},
    {SETT_DATE_MONTH, 1, 1, 12, 1},
    {SETT_DATE_YEAR, 17, 0, 99, 1},
    {SETT_OVERVIEW_MODE, 1, 0, 1, 1},
    {SETT_APPLY_PRESET, 0, 0, 9, 1},
    {SETT_STORE_PRESET, 0, 0, 9, 1},
    {SETT_KEYPAD_FREEZE, 0, 0, 1, 1},
    {SETT_ZOOM_ENCODER, 127, 0, 255, 1},
    {SETT_ZOOM_VALUE, 0, 0, 65535, 1},
    {SETT_MAX_SETTING, 0, 0, 0, 0},
};

// Magnification of the fitted auxiliary lens, by SETT_LENSPOWER: none, x0.33, x0.4, x0.5.
constexpr std::array<float, 4> lensFactor = {0.0f, 0.33f, 0.4f, 0.5f};

// Lowest zoom-encoder value by SETT_LENSPOWER.
constexpr std::array<uint16_t, 15> minimumZoomByLens = {0,    3862, 0, 0,    7024, 0, 6209, 0,
                                                        6542, 0,    0, 8625, 0,    0, 0};

// Total zoom = SETT_ZOOM_VALUE / 100 / 0.4, doubled by the digital zoom, times the lens.
constexpr float ZOOM_VALUE_SCALE = 100.0f;
constexpr float ZOOM_BASE_MAGNIFICATION = 0.4f;
constexpr float DIGITAL_ZOOM_FACTOR = 2.0f;

const OstrixControlSettings::Preset noPreset;

} // namespace

OstrixControlSettings::OstrixControlSettings()
    : mSettings(SETT_MAX_SETTING, OstrixSetting{0, 0, 0, 0, 0}), mPresets(NUM_PRESETS) {
    for (const FactorySetting* row = factorySettings; row->index != SETT_MAX_SETTING; ++row) {
        mSettings[row->index] = OstrixSetting{row->factory, row->factory, row->min, row->max, row->step};
    }
}

uint16_t OstrixControlSettings::GetValue(SettingsIndex_t index) const {
    return inTable(index) ? mSettings[index].value : 0;
}

bool OstrixControlSettings::SetValue(SettingsIndex_t index, uint16_t value) {
    if (!inTable(index)) {
        Ostrix::guiDetail("GUI:SetValue: Index %d not in settings", int(index));
        return false;
    }
    OstrixSetting& s = mSettings[index];
    if (value < s.min) {
        value = s.min;
    } else if (value > s.max) {
        value = s.max;
    }
    s.value = value;
    // The zoom value changes continuously while the zoom motor runs.
    if (index != SETT_ZOOM_VALUE) {
        Ostrix::guiDetail("SetValue mSettings[%d]=%u", int(index), unsigned(s.value));
    }
    return true;
}

void OstrixControlSettings::SetValueRange(SettingsIndex_t index, uint16_t min, uint16_t max, uint16_t step) {
    if (!inTable(index)) {
        return;
    }
    OstrixSetting& s = mSettings[index];
    s.min = min;
    s.max = max;
    s.step = step;
}

bool OstrixControlSettings::SetStepUp(SettingsIndex_t index, uint16_t step) {
    if (!inTable(index)) {
        return false;
    }
    OstrixSetting& s = mSettings[index];
    if (s.value >= s.max) {
        return false;
    }
    const uint16_t increment = step != 0 ? step : s.step;
    const uint16_t old = s.value;
    s.value = increment > s.max - s.value ? s.max : static_cast<uint16_t>(s.value + increment);
    return s.value != old;
}

bool OstrixControlSettings::SetStepDown(SettingsIndex_t index, uint16_t step) {
    if (!inTable(index)) {
        return false;
    }
    OstrixSetting& s = mSettings[index];
    if (s.value <= s.min) {
        return false;
    }
    const uint16_t decrement = step != 0 ? step : s.step;
    const uint16_t old = s.value;
    const uint16_t lowered = decrement > s.value ? 0 : static_cast<uint16_t>(s.value - decrement);
    s.value = std::max(lowered, s.min);
    return s.value != old;
}

void OstrixControlSettings::SerialiseSettings(std::vector<uint16_t>& out, int count) const {
    out.clear();
    for (int i = 0; i < count; ++i) {
        out.push_back(static_cast<uint16_t>(i));
        out.push_back(GetValue(static_cast<SettingsIndex_t>(i)));
    }
}

void OstrixControlSettings::DeserialiseSettings(const std::vector<uint16_t>& words) {
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
        SetValue(static_cast<SettingsIndex_t>(words[i]), words[i + 1]);
    }
}

void OstrixControlSettings::StorePreset(int n) {
    if (isPresetSlot(n)) {
        SerialiseSettings(mPresets[n], SETT_MAX_SAVED_SETTING);
    }
}

bool OstrixControlSettings::ApplyPreset(int n) {
    if (isPresetSlot(n) && mPresets[n].size() > 1) {
        DeserialiseSettings(mPresets[n]);
        return true;
    }
    Ostrix::guiDetail("GUI: No preset applied");
    return false;
}

void OstrixControlSettings::CalculateZoom(float& zoom, bool& digital) const {
    digital = GetValue(SETT_DIGITALZOOM) == 1;
    const uint16_t lens = GetValue(SETT_LENSPOWER);
    const float factor = lens < lensFactor.size() ? lensFactor[lens] : 0.0f;
    zoom = (GetValue(SETT_ZOOM_VALUE) / ZOOM_VALUE_SCALE) / ZOOM_BASE_MAGNIFICATION *
           (digital ? DIGITAL_ZOOM_FACTOR : 1.0f) * factor;
    Ostrix::guiDetail("Zoom = %g", double(zoom));
}

uint16_t OstrixControlSettings::MinimumZoomLevel() const {
    const uint16_t lens = GetValue(SETT_LENSPOWER);
    return lens < minimumZoomByLens.size() ? minimumZoomByLens[lens] : 0;
}

OstrixControlSettings::OstrixSetting OstrixControlSettings::GetSetting(SettingsIndex_t index) const {
    return inTable(index) ? mSettings[index] : OstrixSetting{0, 0, 0, 0, 0};
}

OstrixControlSettings::FactorySetting OstrixControlSettings::GetFactorySetting(SettingsIndex_t index) {
    for (const FactorySetting* row = factorySettings; row->index != SETT_MAX_SETTING; ++row) {
        if (row->index == index) {
            return *row;
        }
    }
    return FactorySetting{index, 0, 0, 0, 0};
}

const OstrixControlSettings::Preset& OstrixControlSettings::GetPreset(int n) const {
    return isPresetSlot(n) ? mPresets[n] : noPreset;
}
