// The settings files of OstrixControlSettings: the text layout of the current settings,
// the serialised layout of presets, the older binary layout with its CRC, and the preset
// and factory operations built on them.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "gui/app/guiprint.h"
#include "gui/settings/OstrixControlSettings.h"

using Ostrix::guiPrint;

namespace {

struct SettingName {
    SettingsIndex_t index;
    const char* name;
};

// The file keys of the saved settings, in index order.
constexpr SettingName settingNames[] = {
    {SETT_EXPO, "SETT_EXPO"},
    {SETT_FOCUS, "SETT_FOCUS"},
    {SETT_LENSPOWER, "SETT_LENSPOWER"},
    {SETT_MULTIPLIER, "SETT_MULTIPLIER"},
    {SETT_MEASUREMENTUNITS_MM, "SETT_MEASUREMENTUNITS_MM"},
    {SETT_DIGITALZOOM, "SETT_DIGITALZOOM"},
    {SETT_BLACKANDWHITEMODE, "SETT_BLACKANDWHITEMODE"},
    {SETT_WIDEDYNAMICRANGE, "SETT_WIDEDYNAMICRANGE"},
    {SETT_UI_LANGUAGE, "SETT_UI_LANGUAGE"},
    {SETT_UI_SOUND, "SETT_UI_SOUND"},
    {SETT_UI_CROSSHAIRSIZE, "SETT_UI_CROSSHAIRSIZE"},
    {SETT_UI_CROSSHAIRCOLOUR, "SETT_UI_CROSSHAIRCOLOUR"},
    {SETT_UI_MENUPOSITION, "SETT_UI_MENUPOSITION"},
    {SETT_UI_STATUSBARPOSITION, "SETT_UI_STATUSBARPOSITION"},
    {SETT_UI_INFORMATIONTEXT, "SETT_UI_INFORMATIONTEXT"},
    {SETT_DATEFORMAT, "SETT_DATEFORMAT"},
    {SETT_CAMERAFREQ_50HZ, "SETT_CAMERAFREQ_50HZ"},
    {SETT_SETSCREENSIZE, "SETT_SETSCREENSIZE"},
    {SETT_AUTOWHITEBALANCE, "SETT_AUTOWHITEBALANCE"},
    {SETT_UI_TRANSPARENCY, "SETT_UI_TRANSPARENCY"},
    {SETT_CAL_SETCALSCALE, "SETT_CAL_SETCALSCALE"},
    {SETT_AEBRIGHTNESS, "SETT_AEBRIGHTNESS"},
    {SETT_APERTUREPRIORITY_APERTURE, "SETT_APERTUREPRIORITY_APERTURE"},
    {SETT_MANUALEXPOSURE_APERTURE, "SETT_MANUALEXPOSURE_APERTURE"},
    {SETT_MANUALEXPOSURE_GAIN, "SETT_MANUALEXPOSURE_GAIN"},
    {SETT_MANUALEXPOSURE_TIME, "SETT_MANUALEXPOSURE_TIME"},
    {SETT_MANUALFOCUS_FOCUS, "SETT_MANUALFOCUS_FOCUS"},
    {SETT_SETGRIDSIZE_X, "SETT_SETGRIDSIZE_X"},
    {SETT_SETGRIDSIZE_Y, "SETT_SETGRIDSIZE_Y"},
    {SETT_SETGRIDPOSITION_X, "SETT_SETGRIDPOSITION_X"},
    {SETT_SETGRIDPOSITION_Y, "SETT_SETGRIDPOSITION_Y"},
    {SETT_ZOOM_POSITION, "SETT_ZOOM_POSITION"},
    {SETT_SUBSTAGE_LED_LEVEL, "SETT_SUBSTAGE_LED_LEVEL"},
    {SETT_INTERNAL_LED_LEVEL, "SETT_INTERNAL_LED_LEVEL"},
    {SETT_EXTERNAL_LED_LEVEL, "SETT_EXTERNAL_LED_LEVEL"},
    {SETT_CAL_LEFTBAR, "SETT_CAL_LEFTBAR"},
    {SETT_CAL_RIGHTBAR, "SETT_CAL_RIGHTBAR"},
    {SETT_MEAS_CURSOR1_X, "SETT_MEAS_CURSOR1_X"},
    {SETT_MEAS_CURSOR1_Y, "SETT_MEAS_CURSOR1_Y"},
    {SETT_MEAS_CURSOR2_X, "SETT_MEAS_CURSOR2_X"},
    {SETT_MEAS_CURSOR2_Y, "SETT_MEAS_CURSOR2_Y"},
    {SETT_ZOOM_SPEED, "SETT_ZOOM_SPEED"},
    {SETT_IMAGEFREEZE, "SETT_IMAGEFREEZE"},
    {SETT_KEYPAD_LOCK, "SETT_KEYPAD_LOCK"},
    {SETT_MEAS_TYPE, "SETT_MEAS_TYPE"},
    {SETT_APERTUREPRIORITY_BRIGHTNESS, "SETT_APERTUREPRIORITY_BRIGHTNESS"},
    {SETT_IRMODE, "SETT_IRMODE"},
    {SETT_OVERLAY, "SETT_OVERLAY"},
    {SETT_CAL_LOCK, "SETT_CAL_LOCK"},
    {SETT_FRONT_PANEL_LOCK, "SETT_FRONT_PANEL_LOCK"},
    {SETT_DISPLAY_BRIGHTNESS, "SETT_DISPLAY_BRIGHTNESS"},
    {SETT_DISPLAY_CONTRAST, "SETT_DISPLAY_CONTRAST"},
    {SETT_DISPLAY_SHARPNESS, "SETT_DISPLAY_SHARPNESS"},
    {SETT_CAMERA_GAIN, "SETT_CAMERA_GAIN"},
    {SETT_CAMERA_EXPOSURE_TIME, "SETT_CAMERA_EXPOSURE_TIME"},
    {SETT_CAMERA_BLACK_LEVEL, "SETT_CAMERA_BLACK_LEVEL"},
    {SETT_CAMERA_SHARPNESS, "SETT_CAMERA_SHARPNESS"},
    {SETT_CAMERA_CONTRAST, "SETT_CAMERA_CONTRAST"},
    {SETT_CAMERA_WHITE_BALANCE, "SETT_CAMERA_WHITE_BALANCE"},
    {SETT_LIGHT_RING, "SETT_LIGHT_RING"},
    {SETT_LIGHT_SUBSTAGE, "SETT_LIGHT_SUBSTAGE"},
    {SETT_LIGHT_AUX, "SETT_LIGHT_AUX"},
    {SETT_LIGHT_QUADRANT_TOP, "SETT_LIGHT_QUADRANT_TOP"},
    {SETT_LIGHT_QUADRANT_LEFT, "SETT_LIGHT_QUADRANT_LEFT"},
    {SETT_LIGHT_QUADRANT_BOTTOM, "SETT_LIGHT_QUADRANT_BOTTOM"},
    {SETT_LIGHT_QUADRANT_RIGHT, "SETT_LIGHT_QUADRANT_RIGHT"},
    {SETT_SPEAKER_VOLUME, "SETT_SPEAKER_VOLUME"},
    {SETT_HEADSET_VOLUME, "SETT_HEADSET_VOLUME"},
    {SETT_IMAGE_SAVE_OPTION, "SETT_IMAGE_SAVE_OPTION"},
    {SETT_PRESET_P1_SHORT, "SETT_PRESET_P1_SHORT"},
    {SETT_PRESET_P2_SHORT, "SETT_PRESET_P2_SHORT"},
    {SETT_PRESET_P3_SHORT, "SETT_PRESET_P3_SHORT"},
    {SETT_CAMERA_MIRROR_HORIZ, "SETT_CAMERA_MIRROR_HORIZ"},
    {SETT_CAMERA_MIRROR_VERTICAL, "SETT_CAMERA_MIRROR_VERTICAL"},
    {SETT_IMAGE_SOURCE, "SETT_IMAGE_SOURCE"},
    {SETT_STANDBY_ON_NO_SIGNAL, "SETT_STANDBY_ON_NO_SIGNAL"},
    {SETT_AWB_RED_LO, "SETT_AWB_RED_LO"},
    {SETT_AWB_RED_HI, "SETT_AWB_RED_HI"},
    {SETT_AWB_GREEN_LO, "SETT_AWB_GREEN_LO"},
    {SETT_AWB_GREEN_HI, "SETT_AWB_GREEN_HI"},
    {SETT_AWB_BLUE_LO, "SETT_AWB_BLUE_LO"},
    {SETT_AWB_BLUE_HI, "SETT_AWB_BLUE_HI"},
    {SETT_AWB_VALID, "SETT_AWB_VALID"},
    {SETT_3DOUTPUT_MODE, "SETT_3DOUTPUT_MODE"},
    {SETT_CAMERA_COLOUR_GAIN_RED, "SETT_CAMERA_COLOUR_GAIN_RED"},
    {SETT_CAMERA_COLOUR_GAIN_GREEN, "SETT_CAMERA_COLOUR_GAIN_GREEN"},
    {SETT_CAMERA_COLOUR_GAIN_BLUE, "SETT_CAMERA_COLOUR_GAIN_BLUE"},
    {SETT_CAMERA_CHROMA_CORRECT, "SETT_CAMERA_CHROMA_CORRECT"},
    {SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS, "SETT_CAMERA_SHUTTER_AUTOBRIGHTNESS"},
    {SETT_CAMERA_SHUTTER_POSITION, "SETT_CAMERA_SHUTTER_POSITION"},
    {SETT_3DINPUT_MODE, "SETT_3DINPUT_MODE"},
    {SETT_COLOUR_CORRECTION_PROFILE, "SETT_COLOUR_CORRECTION_PROFILE"},
    {SETT_DISPLAY_MAGNIFICATION, "SETT_DISPLAY_MAGNIFICATION"},
    {SETT_HDR_RATIO, "SETT_HDR_RATIO"},
    {SETT_HDR_EXPOSURE, "SETT_HDR_EXPOSURE"},
    {SETT_HDR_MODE, "SETT_HDR_MODE"},
    {SETT_PRESET_P1, "SETT_PRESET_P1"},
    {SETT_PRESET_P2, "SETT_PRESET_P2"},
    {SETT_PRESET_P3, "SETT_PRESET_P3"},
};
static_assert(sizeof settingNames / sizeof settingNames[0] == SETT_MAX_SAVED_SETTING);

constexpr const char* kHeader = "#QLM settings";
constexpr const char* kTextKind = " Text ";
constexpr const char* kSerialisedKind = " Serialised ";
constexpr const char* kCurrentSettingsFile = "QLM_GUI.settings";
constexpr const char* kFactorySettingsFile = "QLM_FACTORY.settings";

// The binary layout: 4-byte records of two little-endian words, at most this many pairs
// before the closing record.
constexpr size_t kRecordBytes = 4;
constexpr size_t kMaxBinaryPairs = 124;

// CRC nibble table for the polynomial 0x1021: entry i is the CRC of the nibble i.
constexpr uint16_t kCrcPolynomial = 0x1021;
constexpr uint16_t crcTableEntry(uint16_t nibble) {
    uint16_t crc = uint16_t(nibble << 12);
    for (int bit = 0; bit < 4; ++bit) {
        crc = (crc & 0x8000) != 0 ? uint16_t((crc << 1) ^ kCrcPolynomial) : uint16_t(crc << 1);
    }
    return crc;
}
constexpr uint16_t crcTable[16] = {
    crcTableEntry(0),  crcTableEntry(1),  crcTableEntry(2),  crcTableEntry(3),
    crcTableEntry(4),  crcTableEntry(5),  crcTableEntry(6),  crcTableEntry(7),
    crcTableEntry(8),  crcTableEntry(9),  crcTableEntry(10), crcTableEntry(11),
    crcTableEntry(12), crcTableEntry(13), crcTableEntry(14), crcTableEntry(15),
};
static_assert(crcTable[1] == 0x1021 && crcTable[15] == 0xF1EF);

// Settings files are a few kilobytes; a line longer than this is not a setting.
constexpr size_t kMaxLineLength = 256;

int savedCount(int count) {
    return count < 0 ? 0 : (count > SETT_MAX_SAVED_SETTING ? SETT_MAX_SAVED_SETTING : count);
}

// Writes `text` to a temporary file beside `file`, flushes it to the disk and renames it
// over `file`.
bool writeFileAtomically(const std::string& file, const std::string& text) {
    const std::string temp = file + ".tmp";
    FILE* out = fopen(temp.c_str(), "w");
    if (out == nullptr) {
        guiPrint("GUI: Failed to open %s", file.c_str());
        return false;
    }
    bool written = fwrite(text.data(), 1, text.size(), out) == text.size();
    written = fflush(out) == 0 && written;
    written = fsync(fileno(out)) == 0 && written;
    written = fclose(out) == 0 && written;
    if (!written || rename(temp.c_str(), file.c_str()) != 0) {
        remove(temp.c_str());
        guiPrint("GUI: Failed to write %s", file.c_str());
        return false;
    }
    return true;
}

// The index whose file key is `name` among 0..count-1, or -1.
int findSetting(const std::string& name, int count) {
    for (int i = 0; i < savedCount(count); ++i) {
        if (name == settingNames[i].name) {
            return i;
        }
    }
    return -1;
}

// Reads one line without its line end (and a CR before it); false at the end of the
// file. A line too long to be a setting comes back cut, and is skipped by the parser.
bool readLine(std::istream& in, std::string& line) {
    line.clear();
    char c = 0;
    bool any = false;
    while (in.get(c)) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (line.size() <= kMaxLineLength) {
            line.push_back(c);
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return any;
}

struct Pair {
    int index;
    long value;
};

// Parses "name=value" with a name among 0..count-1; false for anything else.
bool parseSettingLine(const std::string& line, int count, Pair& pair) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos || line.size() > kMaxLineLength) {
        return false;
    }
    const int index = findSetting(line.substr(0, eq), count);
    if (index < 0) {
        return false;
    }
    guiPrint("GUI: setting_name match at indx %d", index);
    const std::string text = line.substr(eq + 1);
    try {
        size_t used = 0;
        pair.value = std::stol(text, &used);
    } catch (const std::exception& e) {
        guiPrint("GUI EXCEPTION: '%s' as '%s'", e.what(), text.c_str());
        return false;
    }
    pair.index = index;
    return true;
}

// Opens a text settings file: false (with the console line) when it cannot be opened or
// its first line is no settings header.
bool openWithHeader(const std::string& file, std::ifstream& in, bool headerAtStart) {
    in.open(file, std::ios::binary);
    std::string first;
    if (!in || !readLine(in, first)) {
        return false;
    }
    const size_t at = first.find(kHeader);
    return headerAtStart ? at == 0 : at != std::string::npos;
}

uint16_t clampToWord(long value) {
    return value < 0 ? 0 : (value > 0xFFFF ? 0xFFFF : uint16_t(value));
}

uint16_t littleEndianWord(const unsigned char* bytes) {
    return uint16_t(bytes[0] | bytes[1] << 8);
}

} // namespace

const char* OstrixControlSettings::SettingName(int index) {
    return index >= 0 && index < SETT_MAX_SAVED_SETTING ? settingNames[index].name : "";
}

std::string OstrixControlSettings::PresetFileName(int slot) {
    char name[32];
    snprintf(name, sizeof name, "QLM_Preset%02d.settings", slot + 1);
    return name;
}

uint16_t OstrixControlSettings::CalculateCrc(const uint16_t* words, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned nibble = (words[i] >> shift) & 0xF;
            crc = uint16_t(crcTable[(crc >> 12) ^ nibble] ^ (crc << 4));
        }
    }
    return crc;
}

bool OstrixControlSettings::WriteSettingsToTextFile(const std::string& file, int count) {
    guiPrint("GUI: WriteSettingsToTextFile");
    count = savedCount(count);
    std::ostringstream text;
    text << kHeader << kTextKind << count << "\n";
    for (int i = 0; i < count; ++i) {
        const uint16_t value = GetValue(SettingsIndex_t(i));
        guiPrint("GUI: [%d] %s=%u", i, settingNames[i].name, value);
        text << settingNames[i].name << "=" << value << "\n";
    }
    if (!writeFileAtomically(file, text.str())) {
        return false;
    }
    guiPrint("GUI: WriteSettingsToTextFile completed");
    return true;
}

bool OstrixControlSettings::SaveCurrentSettings(const std::string& file, int count) {
    return WriteSettingsToTextFile(file, count);
}

bool OstrixControlSettings::ReadSettingsFromTextFile(const std::string& file, int count) {
    guiPrint("GUI: ReadSettingsFromTextFile from %s", file.c_str());
    std::ifstream in;
    if (!openWithHeader(file, in, false)) {
        guiPrint("GUI: Failed to open %s", file.c_str());
        return false;
    }
    std::string line;
    Pair pair{};
    while (readLine(in, line)) {
        if (parseSettingLine(line, count, pair)) {
            SetValue(SettingsIndex_t(pair.index), clampToWord(pair.value));
        }
    }
    guiPrint("GUI: ReadSettingsFromTextFile complete");
    return true;
}

bool OstrixControlSettings::WriteSerialisedToFile(const std::string& file, const Preset& words, int count) {
    guiPrint("GUI: WriteSerialisedToFile %s", file.c_str());
    std::ostringstream text;
    text << kHeader << kSerialisedKind << words.size() << "\n";
    for (size_t i = 0; i + 1 < words.size(); i += 2) {
        if (words[i] < savedCount(count)) {
            text << settingNames[words[i]].name << "=" << words[i + 1] << "\n";
        }
    }
    return writeFileAtomically(file, text.str());
}

bool OstrixControlSettings::ReadSerialisedFromFile(const std::string& file, Preset& words, int count) {
    std::ifstream in;
    if (openWithHeader(file, in, true)) {
        Preset read;
        std::string line;
        Pair pair{};
        while (readLine(in, line)) {
            if (parseSettingLine(line, count, pair) && pair.value >= 0 && pair.value <= 0xFFFF) {
                read.push_back(uint16_t(pair.index));
                read.push_back(uint16_t(pair.value));
            }
        }
        words = std::move(read);
        guiPrint("GUI: Success reading %s", file.c_str());
        return true;
    }
    in.close();
    if (!ReadSerialisedFromFileWithCRC(file, words, count)) {
        return false;
    }
    guiPrint("GUI: Success reading %s", file.c_str());
    return true;
}

bool OstrixControlSettings::ReadSerialisedFromFileWithCRC(const std::string& file, Preset& words, int count) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        guiPrint("GUI: Failed to open %s", file.c_str());
        return false;
    }
    Preset read;
    unsigned char record[kRecordBytes];
    for (;;) {
        if (!in.read(reinterpret_cast<char*>(record), kRecordBytes)) {
            guiPrint("GUI: file size read error");
            return false;
        }
        const uint16_t index = littleEndianWord(record);
        const uint16_t value = littleEndianWord(record + 2);
        if (index == count) {
            if (CalculateCrc(read.data(), read.size()) != value) {
                guiPrint("GUI: CRC check failed for file %s", file.c_str());
                return false;
            }
            words = std::move(read);
            return true;
        }
        if (index > count) {
            guiPrint("GUI: preset file index invalid %u", index);
            return false;
        }
        if (read.size() / 2 >= kMaxBinaryPairs) {
            guiPrint("GUI: preset file too long %s", file.c_str());
            return false;
        }
        read.push_back(index);
        read.push_back(value);
    }
}

bool OstrixControlSettings::RetrieveLastSettings(const std::string& file, int count) {
    guiPrint("GUI: RetrieveLastSettings from %s", file.c_str());
    if (ReadSettingsFromTextFile(file, count)) {
        guiPrint("GUI: Retrieved settings from text file");
        return true;
    }
    guiPrint("GUI: Retrieving settings from serialised file");
    Preset words;
    if (!ReadSerialisedFromFile(file, words, count)) {
        return false;
    }
    DeserialiseSettings(words);
    return true;
}

bool OstrixControlSettings::ExportPreset(int slot, const std::string& file) {
    const Preset& preset = GetPreset(slot);
    guiPrint("GUI: Export to %s size %zu", file.c_str(), preset.size());
    return WriteSerialisedToFile(file, preset, SETT_MAX_SAVED_SETTING);
}

bool OstrixControlSettings::ImportPreset(int slot, const std::string& file) {
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        guiPrint("GUI: stat error %s on file %s", strerror(errno), file.c_str());
        return false;
    }
    if (!isPresetSlot(slot)) {
        return false;
    }
    guiPrint("GUI: reading file %s", file.c_str());
    return ReadSerialisedFromFile(file, mPresets[slot], SETT_MAX_SAVED_SETTING);
}

void OstrixControlSettings::RestoreFactorySettings() {
    // Settings whose range and start value come from the screen keep their values: the
    // factory table has no value for them.
    for (int i = 0; i < SETT_MAX_SAVED_SETTING; ++i) {
        const SettingsIndex_t index = SettingsIndex_t(i);
        if (GetFactorySetting(index).max != 0) {
            SetValue(index, mSettings[i].factory);
        }
    }
    RetrieveLastSettings(kFactorySettingsFile, SETT_MAX_SAVED_SETTING);
    for (int slot = 0; slot < NUM_PRESETS; ++slot) {
        const std::string name = PresetFileName(slot);
        if (std::remove(name.c_str()) == 0) {
            guiPrint("GUI: successfully deleted '%s'", name.c_str());
        } else {
            guiPrint("GUI: Failed to delete '%s'", name.c_str());
        }
        mPresets[slot].clear();
    }
    WriteSettingsToTextFile(kCurrentSettingsFile, SETT_MAX_SAVED_SETTING);
}
