// One handler per setting the controller acts on. Each logs its line first and then
// drives its device; a device that does not exist (feature switched off or failed at
// start-up) leaves only the log line.
#include "controller/core/SettingHandlers.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/logfile.h"
#include "common/messages.h"
#include "common/timeout.h"
#include "controller/camera/CameraBoard.h"
#include "controller/core/GuiMessages.h"
#include "controller/core/HdmiEvents.h"
#include "controller/core/ImageCapture.h"
#include "controller/core/MainLoop.h"
#include "controller/core/OstrixPi.h"
#include "controller/core/configuration.h"
#include "controller/core/devices.h"
#include "controller/devices/Audio.h"
#include "controller/devices/LightingControl.h"
#include "controller/devices/hdmi_tx.h"
#include "controller/fpga/fpga.h"

int32_t shadow_settings[SETT_MAX_SETTING];
bool setting_changed;
std::atomic<int> hdr_mode{0};

const uint32_t cursor_colours[CURSOR_COLOUR_COUNT] = {
    0xF80000, // red
    0x00FC00, // green
    0x0000F8, // blue
    0xF8FC00, // yellow
    0x00F8F8, // cyan
    0xF800F8, // magenta
    0xF8FCF8, // white
    0x000000, // black
};

namespace {

constexpr std::array<bool, SETT_MAX_SETTING> makeImplementedSettings() {
    std::array<bool, SETT_MAX_SETTING> table{};
    constexpr int singles[] = {SETT_LENSPOWER,        SETT_DIGITALZOOM,        SETT_UI_SOUND,
                               SETT_UI_CROSSHAIRSIZE, SETT_UI_CROSSHAIRCOLOUR, SETT_UI_MENUPOSITION,
                               SETT_DATEFORMAT,       SETT_UI_TRANSPARENCY};
    for (int index : singles) {
        table[index] = true;
    }
    struct Range {
        int first;
        int last;
    };
    constexpr Range ranges[] = {{SETT_DISPLAY_BRIGHTNESS, SETT_CAMERA_CONTRAST},
                                {SETT_LIGHT_RING, SETT_COLOUR_CORRECTION_PROFILE},
                                {SETT_HDR_RATIO, SETT_PRESET_P3}};
    for (Range range : ranges) {
        for (int index = range.first; index <= range.last; ++index) {
            table[index] = true;
        }
    }
    return table;
}

constexpr int countImplemented(const std::array<bool, SETT_MAX_SETTING>& table) {
    int count = 0;
    for (bool implemented : table) {
        count += implemented ? 1 : 0;
    }
    return count;
}

// The 3D input mode change blanks both screens this long while the receivers settle.
constexpr int UNBLANK_DELAY_MS = 1500;

// White balance gains that leave the colours as they are.
constexpr uint32_t NEUTRAL_WHITE_BALANCE_GAIN = 256;

constexpr int AWB_MESSAGE_SECONDS = 3;
constexpr int32_t PERCENT_MAX = 100;
constexpr int HALF_WORD_BITS = 16;
constexpr uint32_t HALF_WORD_MASK = 0xFFFF;

// The camera board when its picture settings are to be sent (USE_CAMERA_SETTINGS).
CameraBoard* pictureCamera() {
    return USE_CAMERA_SETTINGS ? camera_board.get() : nullptr;
}

uint32_t unsignedValue(int index);

// A white-balance gain word from its two halves in the settings.
uint32_t gainWord(int lowIndex) {
    return unsignedValue(lowIndex + 1) << HALF_WORD_BITS | (unsignedValue(lowIndex) & HALF_WORD_MASK);
}

int32_t value(int index) {
    return shadow_settings[index];
}

uint32_t unsignedValue(int index) {
    return static_cast<uint32_t>(shadow_settings[index]);
}

// Percentages (transparency, contrast) are 0..100 whatever the GUI sends.
uint8_t percent(int32_t v) {
    return static_cast<uint8_t>(std::clamp<int32_t>(v, 0, PERCENT_MAX));
}

// Lighting levels are 0..25; the lighting control clamps larger ones.
uint16_t level(int64_t v) {
    return v < 0 ? 0 : static_cast<uint16_t>(std::min<int64_t>(v, UINT16_MAX));
}

// --- display and overlay --------------------------------------------------------------

void setLensPower(int index) {
    logprintf("MAIN: Set Lens Power %d\n", value(SETT_LENSPOWER));
    if (camera_board && value(SETT_LENSPOWER) <= LENSPOWER_X050) {
        load_lens_aberration_correction(value(SETT_LENSPOWER));
    }
}

void setDigitalZoom(int index) {
    logprintf("MAIN: Digital Zoom %d\n", value(SETT_DIGITALZOOM));
    if (fpga) {
        fpga->digitalZoom(unsignedValue(SETT_DIGITALZOOM));
    }
}

void setSound(int index) {
    logprintf("Sound Muting\n");
    if (value(SETT_UI_SOUND) != 0) {
        logprintf("Sound Mute ON\n");
        if (audio_codec) {
            audio_codec->muteSpeakers();
            audio_codec->muteHeadset();
        }
    } else {
        logprintf("Sound Mute OFF\n");
        if (audio_codec) {
            audio_codec->unmuteSpeakers();
            audio_codec->unmuteHeadset();
        }
    }
}

void setCrosshairSize(int index) {
    logprintf("MAIN: Crosshair Size\n");
    if (fpga) {
        fpga->setCrosshairSize(unsignedValue(SETT_UI_CROSSHAIRSIZE));
    }
}

void setCrosshairColour(int index) {
    logprintf("MAIN: Crosshair Colour %d\n", value(SETT_UI_CROSSHAIRCOLOUR));
    uint32_t rgb = 0;
    if (fpga && crosshair_colour(value(SETT_UI_CROSSHAIRCOLOUR), &rgb)) {
        fpga->setCrosshairColour(pixel(rgb));
    }
}

void setMenuPosition(int index) {
    logprintf("GUI Menu Position %d\n", value(SETT_UI_MENUPOSITION));
    if (fpga) {
        fpga->setGUIPosition(unsignedValue(SETT_UI_MENUPOSITION));
    }
}

void setTransparency(int index) {
    logprintf("GUI Transparency %d\n", value(SETT_UI_TRANSPARENCY));
    if (fpga) {
        fpga->setMenubgtransparency(percent(value(SETT_UI_TRANSPARENCY)));
    }
}

void setDisplayBrightness(int index) {
    logprintf("DISPLAY Brightness Settings\n");
    apply_display_brightness();
}

void setDisplayContrast(int index) {
    logprintf("DISPLAY Contrast Settings\n");
    if (fpga) {
        fpga->setContrast(LEFTandRIGHT, percent(value(SETT_DISPLAY_CONTRAST)));
    }
}

void setDisplaySharpness(int index) {
    logprintf("DISPLAY Sharpness Settings\n");
    if (fpga) {
        fpga->setSharpness(
            static_cast<uint8_t>(std::clamp<int32_t>(value(SETT_DISPLAY_SHARPNESS), 0, UINT8_MAX)));
    }
}

// --- camera -----------------------------------------------------------------------------
// The camera's picture settings are sent only when USE_CAMERA_SETTINGS is on.

void setCameraGain(int index) {
    logprintf("CAMERA Gain Settings\n");
    if (CameraBoard* camera = pictureCamera()) {
        camera->setGain(unsignedValue(SETT_CAMERA_GAIN));
    }
}

void setCameraExposureTime(int index) {
    logprintf("CAMERA Exposure Time Settings\n");
    if (CameraBoard* camera = pictureCamera()) {
        camera->setExposureTime(unsignedValue(SETT_CAMERA_EXPOSURE_TIME));
    }
}

void setCameraBlackLevel(int index) {
    logprintf("CAMERA Black Level Settings\n");
    if (CameraBoard* camera = pictureCamera()) {
        camera->setBlackLevel(unsignedValue(SETT_CAMERA_BLACK_LEVEL));
    }
}

void setCameraSharpness(int index) {
    logprintf("CAMERA Sharpness Settings\n");
    if (CameraBoard* camera = pictureCamera()) {
        camera->setSharpness(unsignedValue(SETT_CAMERA_SHARPNESS));
    }
}

void setCameraContrast(int index) {
    logprintf("CAMERA Contrast Settings\n");
    if (CameraBoard* camera = pictureCamera()) {
        camera->setContrast(unsignedValue(SETT_CAMERA_CONTRAST));
    }
    logprintf("CAMERA Contrast Settings completed\n");
}

void runWhiteBalance(int index) {
    logprintf("CAMERA White Balance Settings\n");
    CameraBoard* camera = pictureCamera();
    if (!camera) {
        return;
    }
    uint16_t valid = 0;
    uint32_t gains[3] = {};
    camera->whiteBalance(&valid, &gains[0], &gains[1], &gains[2]);
    display_message(MESS_AUTO_WB_COMPLETE, AWB_MESSAGE_SECONDS);
    uint32_t part = SETT_AWB_RED_LO;
    for (uint32_t gain : gains) {
        queue_gui_message(tEV_COPYFB | part++, gain & HALF_WORD_MASK);
        queue_gui_message(tEV_COPYFB | part++, gain >> HALF_WORD_BITS);
    }
    queue_gui_message(tEV_COPYFB | SETT_AWB_VALID, valid);
}

void setMirrorHorizontal(int index) {
    logprintf("Horizontal Mirror %d\n", value(SETT_CAMERA_MIRROR_HORIZ));
    if (camera_board) {
        camera_board->invertHorizontalOutput(value(SETT_CAMERA_MIRROR_HORIZ) != 0);
    }
}

void setMirrorVertical(int index) {
    logprintf("Vertical Mirror %d\n", value(SETT_CAMERA_MIRROR_VERTICAL));
    if (camera_board) {
        camera_board->invertVerticalOutput(value(SETT_CAMERA_MIRROR_VERTICAL) != 0);
    }
}

void setAwbValid(int index) {
    logprintf("MAIN: AWB Valid\n");
    if (camera_board && value(SETT_AWB_VALID) != 0) {
        camera_board->forceWhiteBalanceSettings(gainWord(SETT_AWB_RED_LO), gainWord(SETT_AWB_GREEN_LO),
                                                gainWord(SETT_AWB_BLUE_LO));
    }
}

void setColourGain(int index) {
    if (CameraBoard* camera = pictureCamera()) {
        camera->setColourGain(static_cast<CameraBoard::PRIMARIES>(index - SETT_CAMERA_COLOUR_GAIN_RED),
                              unsignedValue(index));
    }
}

void setChromaCorrect(int index) {
    logprintf("MAIN: Camera Chrom Correct %d\n", value(SETT_CAMERA_CHROMA_CORRECT));
    if (camera_board) {
        camera_board->setChromaAutoCorrect(value(SETT_CAMERA_CHROMA_CORRECT) != 0);
    }
}

void setShutterAutobrightness(int index) {
    logprintf("MAIN: SHUTTER Autobrightness %d\n", value(SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS));
    if (camera_board) {
        camera_board->setShutterAutobrightness(value(SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS) == 1);
    }
}

void setShutterPosition(int index) {
    logprintf("MAIN: SHUTTER Position %d\n", value(SETT_CAMERA_SHUTTER_POSITION));
    if (camera_board) {
        camera_board->setShutterPosition(unsignedValue(SETT_CAMERA_SHUTTER_POSITION));
    }
}

void setColourCorrectionProfile(int index) {
    logprintf("MAIN: Colour Correction Profile\n");
    if (!camera_board) {
        return;
    }
    camera_board->setColourCorrectionProfile(value(SETT_COLOUR_CORRECTION_PROFILE));
    // A board that never accepted a value (absent, or failing) has none to hand the GUI,
    // whose stored contrast and black level would otherwise be overwritten with 0.
    if (camera_board->has_last_contrast()) {
        queue_gui_message(tEV_COPYFB | SETT_CAMERA_CONTRAST, camera_board->get_last_contrast());
    }
    if (camera_board->has_last_black_level()) {
        queue_gui_message(tEV_COPYFB | SETT_CAMERA_BLACK_LEVEL, camera_board->get_last_black_level());
    }
    if (execute_mode.init_complete) {
        logprintf("MAIN: CCP forceWhiteBalanceSettings\n");
        camera_board->forceWhiteBalanceSettings(NEUTRAL_WHITE_BALANCE_GAIN, NEUTRAL_WHITE_BALANCE_GAIN,
                                                NEUTRAL_WHITE_BALANCE_GAIN);
    } else {
        logprintf("MAIN: skip AWB reset from CCP since initialisation not complete.\n");
    }
}

void setHdrRatio(int index) {
    logprintf("MAIN: HDR Ratio %d\n", value(SETT_HDR_RATIO));
    if (camera_board) {
        camera_board->setHDRratio(unsignedValue(SETT_HDR_RATIO));
    }
}

void setHdrExposure(int index) {
    logprintf("MAIN: HDR Exposure %d\n", value(SETT_HDR_EXPOSURE));
    if (camera_board) {
        camera_board->setHDRexposure(unsignedValue(SETT_HDR_EXPOSURE));
    }
}

void setHdrMode(int index) {
    logprintf("MAIN: HDR Mode %d\n", value(SETT_HDR_MODE));
    hdr_mode = value(SETT_HDR_MODE);
    if (camera_board) {
        camera_board->setHDRmode(unsignedValue(SETT_HDR_MODE));
    }
}

void captureReferenceFrame(int index) {
    logprintf("MAIN: SHUTTER Capture Ref Frame\n");
    if (camera_board) {
        camera_board->setAutobrightnessReferenceFrame();
    }
}

// --- lighting and audio -----------------------------------------------------------------

void setRingQuadrants(int index) {
    logprintf("QUADRANT Control Settings\n");
    if (!lighting) {
        return;
    }
    const int64_t ring = value(SETT_LIGHT_RING);
    lighting->RingLight(RING_TOP, level(ring * value(SETT_LIGHT_QUADRANT_TOP)));
    lighting->RingLight(RING_LEFT, level(ring * value(SETT_LIGHT_QUADRANT_LEFT)));
    lighting->RingLight(RING_BOTTOM, level(ring * value(SETT_LIGHT_QUADRANT_BOTTOM)));
    lighting->RingLight(RING_RIGHT, level(ring * value(SETT_LIGHT_QUADRANT_RIGHT)));
}

void setSubstage(int index) {
    logprintf("SUBSTAGE Brightness Change\n");
    if (lighting) {
        lighting->SubstageLight(level(value(SETT_LIGHT_SUBSTAGE)));
    }
}

void setAux(int index) {
    logprintf("AUX Brightness Change\n");
    if (lighting) {
        lighting->Auxiliary(level(value(SETT_LIGHT_AUX)));
    }
}

// A volume from the GUI, held to the codec's range.
uint32_t volume(int32_t v) {
    return static_cast<uint32_t>(std::clamp<int32_t>(v, 0, static_cast<int32_t>(AUDIO_MAX_VOLUME)));
}

void setSpeakerVolume(int index) {
    logprintf("SPEAKER Volume Settings\n");
    if (audio_codec) {
        audio_codec->setSpeakerVolume(volume(value(SETT_SPEAKER_VOLUME)));
    }
}

void setHeadsetVolume(int index) {
    logprintf("HEADSET Volume Settings\n");
    if (audio_codec) {
        audio_codec->setHeadphoneVolume(volume(value(SETT_HEADSET_VOLUME)));
    }
}

// --- values kept for other parts of the controller --------------------------------------

void setImageSaveOption(int index) {
    // Read by the image capture.
    logprintf("IMAGE SAVE OPTION\n");
}

void setPresetShort(int index) {
    logprintf("PRESET %d SHORT option %d\n", index - SETT_PRESET_P1_SHORT + 1, value(index));
}

void setPresetLong(int index) {
    logprintf("PRESET %d option %d\n", index - SETT_PRESET_P1 + 1, value(index));
}

void logAwbPart(int index) {
    static const char* const parts[] = {"MAIN: AWB Red Lo\n",   "MAIN: AWB Red Hi\n",  "MAIN: AWB Green Lo\n",
                                        "MAIN: AWB Green Hi\n", "MAIN: AWB Blue Lo\n", "MAIN: AWB Blue Hi\n"};
    logprintf("%s", parts[index - SETT_AWB_RED_LO]);
}

void setImageSource(int index) {
    logprintf("MAIN: Set Image Source %d\n", value(SETT_IMAGE_SOURCE));
    show_stored_image(value(SETT_IMAGE_SOURCE));
}

void setStandbyOnNoSignal(int index) {
    execute_mode.standby_on_no_signal = value(SETT_STANDBY_ON_NO_SIGNAL) & 1;
}

// --- video modes ------------------------------------------------------------------------

void set3DOutputMode(int index) {
    logprintf("MAIN: 3D Output Mode\n");
    const bool output3D = value(SETT_3DOUTPUT_MODE) != 0;
    if (hdmi_transmitter[LEFT]) {
        if (output3D) {
            hdmi_transmitter[LEFT]->configure_hdmi_3dtx();
        } else {
            hdmi_transmitter[LEFT]->configure_hdmi_tx();
        }
    }
    if (fpga) {
        fpga->setOutput3DMode(output3D ? 1 : 0);
    }
}

void set3DInputMode(int index) {
    logprintf("MAIN: 3D Input Mode -> %d\n", value(SETT_3DINPUT_MODE));
    start_screen_blanking();
    start_timeout("MAIN: UNBLANK", &loop_timers.unblank, UNBLANK_DELAY_MS, 0);
    configure_hdmi_rx(LEFT, static_cast<unsigned>(value(SETT_3DINPUT_MODE)));
    configure_hdmi_rx(RIGHT, static_cast<unsigned>(value(SETT_3DINPUT_MODE)));
}

// --- clock ------------------------------------------------------------------------------

void setClock(int index) {
    const int v = value(index);
    int day = -1, month = -1, year = -1, hours = -1, minutes = -1;
    switch (index) {
    case SETT_TIME_HOURS:
        logprintf("MAIN: Set hours to %d\n", v);
        hours = v;
        break;
    case SETT_TIME_MINUTES:
        logprintf("MAIN: Set mins to %d\n", v);
        minutes = v;
        break;
    case SETT_DATE_DAY:
        logprintf("MAIN: Set day to %d\n", v);
        day = v;
        break;
    case SETT_DATE_MONTH:
        logprintf("MAIN: Set month to %d\n", v);
        month = v;
        break;
    default:
        logprintf("MAIN: Set year to %d\n", v);
        year = v;
        break;
    }
    newDate(day, month, year, hours, minutes, -1);
}

void logOnly(int index) {
    logprintf("%s",
              index == SETT_IMPORT_SETTINGS ? "MAIN: Import all settings\n" : "MAIN: Export all settings\n");
}

// The date format is only read where names are made (captures, log archives): its value
// is stored and nothing else happens.
void storeOnly(int) {}

using Handler = void (*)(int index);

struct HandlerEntry {
    int index;
    Handler handler;
};

// Settings that share one handler or only log are spelt out here so that the table
// below has one plain entry per index.
const HandlerEntry handlerEntries[] = {
    {SETT_LENSPOWER, setLensPower},
    {SETT_DIGITALZOOM, setDigitalZoom},
    {SETT_UI_SOUND, setSound},
    {SETT_UI_CROSSHAIRSIZE, setCrosshairSize},
    {SETT_UI_CROSSHAIRCOLOUR, setCrosshairColour},
    {SETT_UI_MENUPOSITION, setMenuPosition},
    {SETT_DATEFORMAT, storeOnly},
    {SETT_UI_TRANSPARENCY, setTransparency},
    {SETT_DISPLAY_BRIGHTNESS, setDisplayBrightness},
    {SETT_DISPLAY_CONTRAST, setDisplayContrast},
    {SETT_DISPLAY_SHARPNESS, setDisplaySharpness},
    {SETT_CAMERA_GAIN, setCameraGain},
    {SETT_CAMERA_EXPOSURE_TIME, setCameraExposureTime},
    {SETT_CAMERA_BLACK_LEVEL, setCameraBlackLevel},
    {SETT_CAMERA_SHARPNESS, setCameraSharpness},
    {SETT_CAMERA_CONTRAST, setCameraContrast},
    {SETT_CAMERA_WHITE_BALANCE, runWhiteBalance},
    {SETT_LIGHT_RING, setRingQuadrants},
    {SETT_LIGHT_SUBSTAGE, setSubstage},
    {SETT_LIGHT_AUX, setAux},
    {SETT_LIGHT_QUADRANT_TOP, setRingQuadrants},
    {SETT_LIGHT_QUADRANT_LEFT, setRingQuadrants},
    {SETT_LIGHT_QUADRANT_BOTTOM, setRingQuadrants},
    {SETT_LIGHT_QUADRANT_RIGHT, setRingQuadrants},
    {SETT_SPEAKER_VOLUME, setSpeakerVolume},
    {SETT_HEADSET_VOLUME, setHeadsetVolume},
    {SETT_IMAGE_SAVE_OPTION, setImageSaveOption},
    {SETT_PRESET_P1_SHORT, setPresetShort},
    {SETT_PRESET_P2_SHORT, setPresetShort},
    {SETT_PRESET_P3_SHORT, setPresetShort},
    {SETT_CAMERA_MIRROR_HORIZ, setMirrorHorizontal},
    {SETT_CAMERA_MIRROR_VERTICAL, setMirrorVertical},
    {SETT_IMAGE_SOURCE, setImageSource},
    {SETT_STANDBY_ON_NO_SIGNAL, setStandbyOnNoSignal},
    {SETT_AWB_RED_LO, logAwbPart},
    {SETT_AWB_RED_HI, logAwbPart},
    {SETT_AWB_GREEN_LO, logAwbPart},
    {SETT_AWB_GREEN_HI, logAwbPart},
    {SETT_AWB_BLUE_LO, logAwbPart},
    {SETT_AWB_BLUE_HI, logAwbPart},
    {SETT_AWB_VALID, setAwbValid},
    {SETT_3DOUTPUT_MODE, set3DOutputMode},
    {SETT_CAMERA_COLOUR_GAIN_RED, setColourGain},
    {SETT_CAMERA_COLOUR_GAIN_GREEN, setColourGain},
    {SETT_CAMERA_COLOUR_GAIN_BLUE, setColourGain},
    {SETT_CAMERA_CHROMA_CORRECT, setChromaCorrect},
    {SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS, setShutterAutobrightness},
    {SETT_CAMERA_SHUTTER_POSITION, setShutterPosition},
    {SETT_3DINPUT_MODE, set3DInputMode},
    {SETT_COLOUR_CORRECTION_PROFILE, setColourCorrectionProfile},
    {SETT_HDR_RATIO, setHdrRatio},
    {SETT_HDR_EXPOSURE, setHdrExposure},
    {SETT_HDR_MODE, setHdrMode},
    {SETT_PRESET_P1, setPresetLong},
    {SETT_PRESET_P2, setPresetLong},
    {SETT_PRESET_P3, setPresetLong},
    {SETT_TIME_HOURS, setClock},
    {SETT_TIME_MINUTES, setClock},
    {SETT_DATE_DAY, setClock},
    {SETT_DATE_MONTH, setClock},
    {SETT_DATE_YEAR, setClock},
    {SETT_IMPORT_SETTINGS, logOnly},
    {SETT_EXPORT_SETTINGS, logOnly},
    {SETT_CAMERA_REFERENCE_FRAME, captureReferenceFrame},
};

std::array<Handler, SETT_MAX_SETTING> makeHandlerTable() {
    std::array<Handler, SETT_MAX_SETTING> table{};
    for (const HandlerEntry& entry : handlerEntries) {
        table[entry.index] = entry.handler;
    }
    return table;
}

const std::array<Handler, SETT_MAX_SETTING> handlers = makeHandlerTable();

// asctime's layout without its line end.
std::string timeText(const tm& calendar) {
    char text[64];
    strftime(text, sizeof(text), "%a %b %e %H:%M:%S %Y", &calendar);
    return text;
}

constexpr int MONTH_BASE = 1;
constexpr int YEAR_BASE_SINCE_1900 = 100; // the GUI's years count from 2000

} // namespace

const std::array<bool, SETT_MAX_SETTING> implemented_settings = makeImplementedSettings();
static_assert(countImplemented(makeImplementedSettings()) == IMPLEMENTED_SETTING_COUNT);

int find_next_implemented_setting(int index) {
    if (index < 0) {
        index = 0;
    }
    while (index <= LAST_SETTING_INDEX && !implemented_settings[index]) {
        ++index;
    }
    return index;
}

int send_implemented_setting_request(int index) {
    if (index > LAST_SETTING_INDEX) {
        return index;
    }
    const int result = queue_gui_message(tEV_REQUEST | static_cast<uint32_t>(index), 0);
    if (result != 0) {
        logprintferror("MAIN: ERROR: Failed to send setting request to GUI (%d)", index);
        return index;
    }
    logprintf("MAIN: Sent setting request to GUI (%d)\n", index);
    return index + 1;
}

bool crosshair_colour(int32_t value, uint32_t* rgb) {
    if (value < 0 || value >= CURSOR_COLOUR_COUNT) {
        return false;
    }
    *rgb = cursor_colours[value];
    return true;
}

void run_setting_handler(int index) {
    if (index < 0 || index > LAST_SETTING_INDEX || handlers[index] == nullptr) {
        logprintf("Unimplemented Setting %d\n", index);
        return;
    }
    handlers[index](index);
}

time_t newDateFrom(time_t now, int day, int month, int year, int hours, int minutes, int seconds) {
    tm calendar{};
    localtime_r(&now, &calendar);
    logprintf("MAIN: Local Time and Date: %s\n", timeText(calendar).c_str());

    gmtime_r(&now, &calendar);
    if (day > 0) {
        calendar.tm_mday = day;
    }
    if (month > 0) {
        calendar.tm_mon = month - MONTH_BASE;
    }
    if (year >= 0) {
        calendar.tm_year = year + YEAR_BASE_SINCE_1900;
    }
    if (hours >= 0) {
        calendar.tm_hour = hours;
    }
    if (minutes >= 0) {
        calendar.tm_min = minutes;
    }
    if (seconds >= 0) {
        calendar.tm_sec = seconds;
    }
    // The fields are UTC, so they are converted back as UTC.
    const time_t result = timegm(&calendar);
    tm updated{};
    gmtime_r(&result, &updated);
    logprintf("MAIN: New Time and Date: %s\n", timeText(updated).c_str());
    return result;
}

time_t newDate(int day, int month, int year, int hours, int minutes, int seconds) {
    return newDateFrom(time(nullptr), day, month, year, hours, minutes, seconds);
}

void apply_display_brightness() {
    if (fpga) {
        fpga->setBacklightBrightness(LEFTandRIGHT, unsignedValue(SETT_DISPLAY_BRIGHTNESS), false);
    }
}

void reset_setting_state() {
    std::memset(shadow_settings, 0, sizeof(shadow_settings));
    setting_changed = false;
    hdr_mode = 0;
}
