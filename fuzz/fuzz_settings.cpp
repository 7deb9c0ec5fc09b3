// Feeds arbitrary bytes to the GUI's settings-file readers as a settings or preset file:
// the text reader, the serialised reader with its binary fallback and CRC check, and the
// restore and preset import built on them must neither crash nor hang, and every setting
// must stay within its range.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "gui/settings/OstrixControlSettings.h"

namespace {

const std::string& inputPath() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("ostrix-fuzz-settings-" + std::to_string(getpid()) + ".settings"))
                                        .string();
    return path;
}

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
    const int devNull = open("/dev/null", O_WRONLY);
    if (devNull >= 0) {
        dup2(devNull, STDOUT_FILENO);
        close(devNull);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = inputPath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
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
