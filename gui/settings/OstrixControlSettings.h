// The GUI's store of the microscope's user settings: one numbered table (shared with the
// controller through SettingsIndex_t) holding value, factory default, range and step of
// each setting, plus ten presets of (index, value) pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/SettingsIndex.h"

class OstrixControlSettings {
public:
    struct OstrixSetting {
        uint16_t value;
        uint16_t factory;
        uint16_t min;
        uint16_t max;
        uint16_t step;
    };

    // One row of the factory table.
    struct FactorySetting {
        int32_t index;
        uint16_t factory;
        uint16_t min;
        uint16_t max;
        uint16_t step;
    };

    // A preset: (index, value) pairs, empty when the slot holds nothing.
    using Preset = std::vector<uint16_t>;

    static constexpr int NUM_PRESETS = 10;

    OstrixControlSettings();

    uint16_t GetValue(SettingsIndex_t index) const;
    // Stores the value clamped to the setting's range; false for an index outside the table.
    bool SetValue(SettingsIndex_t index, uint16_t value);
    // Replaces the range and step; the current value is left as it is.
    void SetValueRange(SettingsIndex_t index, uint16_t min, uint16_t max, uint16_t step);
    // One step up or down within the range (step 0 = the setting's own step); true when
    // the value changed.
    bool SetStepUp(SettingsIndex_t index, uint16_t step = 0);
    bool SetStepDown(SettingsIndex_t index, uint16_t step = 0);

    // (index, value) pairs of settings 0..count-1, and back.
    void SerialiseSettings(std::vector<uint16_t>& out, int count) const;
    void DeserialiseSettings(const std::vector<uint16_t>& words);

    // Presets 0..9 hold the saved settings 0..98.
    void StorePreset(int n);
    bool ApplyPreset(int n);

    // The total magnification shown to the user, from the zoom value, digital zoom and
    // the fitted lens.
    void CalculateZoom(float& zoom, bool& digital) const;
    // The lowest zoom-encoder value the fitted lens allows.
    uint16_t MinimumZoomLevel() const;

    // Settings files. Every write goes to a temporary file beside the target, is flushed
    // and renamed over it, so a power cut leaves the old file or the new one, never half
    // of one. Readers refuse a malformed file and leave the settings as they were.
    bool WriteSettingsToTextFile(const std::string& file, int count);
    bool SaveCurrentSettings(const std::string& file, int count);
    bool ReadSettingsFromTextFile(const std::string& file, int count);
    bool WriteSerialisedToFile(const std::string& file, const Preset& words, int count);
    // Fills `words` with the file's (index, value) pairs only when the whole file is good.
    bool ReadSerialisedFromFile(const std::string& file, Preset& words, int count);
    bool ReadSerialisedFromFileWithCRC(const std::string& file, Preset& words, int count);
    bool RetrieveLastSettings(const std::string& file, int count);
    bool ExportPreset(int slot, const std::string& file);
    bool ImportPreset(int slot, const std::string& file);
    // Factory values for settings 0..98, then the factory file on top; presets emptied
    // and their files deleted; the current settings file rewritten.
    void RestoreFactorySettings();
    // CRC-16 (polynomial 0x1021, initial 0, no reflection) over 16-bit words, most
    // significant bit first.
    static uint16_t CalculateCrc(const uint16_t* words, size_t n);
    // The file key of a saved setting ("" outside 0..98).
    static const char* SettingName(int index);
    // The file of preset slot 0..9: "QLM_Preset01.settings" ...
    static std::string PresetFileName(int slot);

    // The whole record of a setting (all zero outside the table).
    OstrixSetting GetSetting(SettingsIndex_t index) const;
    // The factory table's row for a setting (all zero when the table does not list it).
    static FactorySetting GetFactorySetting(SettingsIndex_t index);
    // Preset slot n (an empty preset outside 0..9).
    const Preset& GetPreset(int n) const;

private:
    static bool inTable(SettingsIndex_t index) { return index >= 0 && index < SETT_MAX_SETTING; }
    static bool isPresetSlot(int n) { return n >= 0 && n < NUM_PRESETS; }

    std::vector<OstrixSetting> mSettings;
    std::vector<Preset> mPresets;
};

// The GUI's one settings object, built before main runs.
extern OstrixControlSettings ostrixControlSettings;
