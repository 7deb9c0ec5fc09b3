// Feeds arbitrary bytes to the GUI's settings-file readers as a settings or preset file:
// the text reader, the serialised reader with its binary fallback and CRC check, and the
// restore and preset import built on them must neither crash nor hang, and every setting
// must stay within its range.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzHarness.h"
#include "gui/settings/OstrixControlSettings.h"

namespace {

void checkRanges(const OstrixControlSettings& settings) {
    for (int i = 0; i < SETT_MAX_SETTING; ++i) {
        const auto s = settings.GetSetting(SettingsIndex_t(i));
        if (s.value < s.min || s.value > s.max) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers trace every line on the console; under libFuzzer that only costs time.
    fuzz::discardConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::inputPath("settings", ".settings");
    fuzz::writeInput(path, data, size);
    OstrixControlSettings settings;
    settings.ReadSettingsFromTextFile(path, SETT_MAX_SAVED_SETTING);
    checkRanges(settings);
    OstrixControlSettings::Preset words;
    if (settings.ReadSerialisedFromFile(path, words, SETT_MAX_SAVED_SETTING)) {
        settings.DeserialiseSettings(words);
    }
    settings.ReadSerialisedFromFileWithCRC(path, words, SETT_MAX_SAVED_SETTING);
    settings.RetrieveLastSettings(path, SETT_MAX_PRESET_SETTING);
    if (settings.ImportPreset(3, path)) {
        settings.ApplyPreset(3);
    }
    checkRanges(settings);
    std::remove(path.c_str());
    return 0;
}
