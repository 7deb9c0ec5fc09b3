// Settings files: CRC, the text and serialised layouts, the binary layout's checks,
// presets, factory defaults, and that an interrupted write never breaks the file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "TempRoot.h"
#include "gui/settings/OstrixControlSettings.h"

namespace {

using testing::HasSubstr;
using testing_support::readFile;
using testing_support::writeFile;

std::string stdoutOf(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// Bitwise CRC-16/XMODEM over bytes: the reference the nibble-table CRC must agree with.
uint16_t xmodem(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= uint16_t(b << 8);
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 0x8000) != 0 ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
        }
    }
    return crc;
}

// The binary layout: little-endian {index, value} records and a closing {count, crc}.
std::string binaryFile(const std::vector<uint16_t>& words, uint16_t closingIndex, uint16_t crc) {
    std::string out;
    auto put = [&out](uint16_t w) {
        out.push_back(char(w & 0xFF));
        out.push_back(char(w >> 8));
    };
    for (uint16_t w : words) {
        put(w);
    }
    put(closingIndex);
    put(crc);
    return out;
}

class SettingsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = get_current_dir_name();
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override {
        ASSERT_EQ(chdir(previous_), 0);
        free(previous_);
    }
    std::vector<uint16_t> values(const OstrixControlSettings& s) const {
        std::vector<uint16_t> v;
        for (int i = 0; i < SETT_MAX_SETTING; ++i) {
            v.push_back(s.GetValue(SettingsIndex_t(i)));
        }
        return v;
    }

    testing_support::TempDir dir_;
    char* previous_ = nullptr;
    OstrixControlSettings settings_;
};

TEST(SettingsCrc, MatchesXmodemOverTheBigEndianBytesOfEachWord) {
    struct Case {
        std::vector<uint16_t> words;
        uint16_t crc;
    };
    const Case cases[] = {
        {{}, 0x0000},
        {{0x0000}, 0x0000},
        {{0x0001}, 0x1021},
        {{0x0102, 0x0304}, xmodem({0x01, 0x02, 0x03, 0x04})},
        {{0x3132, 0x3334, 0x3536, 0x3738}, xmodem({'1', '2', '3', '4', '5', '6', '7', '8'})},
        {{0xFFFF, 0x8000, 0x0063}, xmodem({0xFF, 0xFF, 0x80, 0x00, 0x00, 0x63})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OstrixControlSettings::CalculateCrc(c.words.data(), c.words.size()), c.crc)
            << c.words.size() << " words";
    }
    EXPECT_EQ(xmodem({0x01, 0x02, 0x03, 0x04}), 0x0D03);
}

TEST_F(SettingsFiles, TextFileHoldsEverySavedSettingAndReadsBack) {
    settings_.SetValue(SETT_CAMERA_GAIN, 7);
    settings_.SetValue(SETT_UI_LANGUAGE, 6);
    settings_.SetValue(SETT_PRESET_P3, 10);
    settings_.SetValue(SETT_TIME_HOURS, 12); // not saved
    ASSERT_TRUE(settings_.WriteSettingsToTextFile("QLM_GUI.settings", 99));
    const std::string text = readFile("QLM_GUI.settings");
    EXPECT_EQ(text.rfind("#QLM settings Text 99\nSETT_EXPO=0\nSETT_FOCUS=1\n", 0), 0u);
    EXPECT_THAT(text, HasSubstr("\nSETT_CAMERA_GAIN=7\n"));
    EXPECT_THAT(text, HasSubstr("\nSETT_PRESET_P3=10\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 100);

    OstrixControlSettings read;
    ASSERT_TRUE(read.ReadSettingsFromTextFile("QLM_GUI.settings", 99));
    auto expected = values(settings_);
    expected[SETT_TIME_HOURS] = 0;
    EXPECT_EQ(values(read), expected);
}

TEST_F(SettingsFiles, ReaderClampsSkipsUnknownAndMalformedLines) {
    writeFile("QLM_GUI.settings", "#QLM settings Text 99\r\n"
                                  "SETT_UI_MENUPOSITION=9\r\n"
                                  "SETT_UNKNOWN=3\n"
                                  "SETT_CAMERA_GAIN=abc\n"
                                  "no equals sign\n"
                                  "SETT_TIME_HOURS=5\n" // beyond the count: not a saved setting
                                  "SETT_CAMERA_CONTRAST=70000\n"
                                  "SETT_DISPLAY_BRIGHTNESS=-4\n"
                                  "SETT_LIGHT_RING=12");
    std::string out;
    out = stdoutOf([&] { EXPECT_TRUE(settings_.ReadSettingsFromTextFile("QLM_GUI.settings", 99)); });
    EXPECT_EQ(settings_.GetValue(SETT_UI_MENUPOSITION), 4);
    EXPECT_EQ(settings_.GetValue(SETT_CAMERA_GAIN), 5);
    EXPECT_EQ(settings_.GetValue(SETT_TIME_HOURS), 0);
    EXPECT_EQ(settings_.GetValue(SETT_CAMERA_CONTRAST), 100);
    EXPECT_EQ(settings_.GetValue(SETT_DISPLAY_BRIGHTNESS), 0);
    EXPECT_EQ(settings_.GetValue(SETT_LIGHT_RING), 12);
    EXPECT_THAT(out, HasSubstr("GUI EXCEPTION: '"));
    EXPECT_THAT(out, HasSubstr("' as 'abc'"));
    EXPECT_THAT(out, HasSubstr("GUI: ReadSettingsFromTextFile complete"));
}

TEST_F(SettingsFiles, LongPressRestoreLeavesTheHotkeyAssignments) {
    writeFile("p.settings", "#QLM settings Serialised 198\nSETT_CAMERA_GAIN=2\nSETT_PRESET_P1=9\n");
    settings_.SetValue(SETT_PRESET_P1, 3);
    EXPECT_TRUE(settings_.RetrieveLastSettings("p.settings", SETT_MAX_PRESET_SETTING));
    EXPECT_EQ(settings_.GetValue(SETT_CAMERA_GAIN), 2);
    EXPECT_EQ(settings_.GetValue(SETT_PRESET_P1), 3);
}

TEST_F(SettingsFiles, BinaryFileWithMatchingCrcIsApplied) {
    const std::vector<uint16_t> words = {SETT_CAMERA_GAIN, 8, SETT_UI_MENUPOSITION, 3};
    writeFile("b.settings",
              binaryFile(words, 99, OstrixControlSettings::CalculateCrc(words.data(), words.size())));
    OstrixControlSettings::Preset read;
    EXPECT_TRUE(settings_.ReadSerialisedFromFile("b.settings", read, 99));
    EXPECT_EQ(read, words);
    EXPECT_TRUE(settings_.RetrieveLastSettings("b.settings", 99));
    EXPECT_EQ(settings_.GetValue(SETT_CAMERA_GAIN), 8);
    EXPECT_EQ(settings_.GetValue(SETT_UI_MENUPOSITION), 3);
}

TEST_F(SettingsFiles, BadFilesAreRefusedAndTheSettingsStayAsTheyWere) {
    const std::vector<uint16_t> words = {SETT_CAMERA_GAIN, 8};
    const uint16_t crc = OstrixControlSettings::CalculateCrc(words.data(), words.size());
    std::vector<uint16_t> tooMany;
    for (int i = 0; i < 125; ++i) {
        tooMany.push_back(SETT_CAMERA_GAIN);
        tooMany.push_back(uint16_t(i % 10));
    }
    std::string garbage(10 * 1024 * 1024, '\0');
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = char((i * 7919 + (i >> 9)) & 0xFF);
    }
    struct Case {
        const char* name;
        std::string content;
        const char* message;
    };
    const Case cases[] = {
        {"wrong crc", binaryFile(words, 99, uint16_t(crc ^ 1)), "GUI: CRC check failed for file "},
        {"truncated", binaryFile(words, 99, crc).substr(0, 6), "GUI: file size read error"},
        {"no closing record", binaryFile(words, 99, crc).substr(0, 4), "GUI: file size read error"},
        {"index above count", binaryFile({200, 1}, 99, 0), "GUI: preset file index invalid "},
        {"too many pairs", binaryFile(tooMany, 99, 0), "GUI: preset file too long"},
        {"garbage", garbage, "GUI: Retrieving settings from serialised file"},
        {"empty", "", "GUI: file size read error"},
    };
    settings_.SetValue(SETT_CAMERA_GAIN, 3);
    const auto before = values(settings_);
    for (const Case& c : cases) {
        writeFile("bad.settings", c.content);
        bool taken = true;
        const std::string out = stdoutOf([&] { taken = settings_.RetrieveLastSettings("bad.settings", 99); });
        EXPECT_FALSE(taken) << c.name;
        EXPECT_THAT(out, HasSubstr(c.message)) << c.name;
        EXPECT_EQ(values(settings_), before) << c.name;
    }
    EXPECT_FALSE(settings_.RetrieveLastSettings("missing.settings", 99));
    EXPECT_EQ(values(settings_), before);
}

TEST_F(SettingsFiles, PresetExportAndImportRoundTrip) {
    settings_.SetValue(SETT_CAMERA_GAIN, 9);
    settings_.StorePreset(2);
    ASSERT_TRUE(settings_.ExportPreset(2, OstrixControlSettings::PresetFileName(2)));
    const std::string text = readFile("QLM_Preset03.settings");
    EXPECT_EQ(text.rfind("#QLM settings Serialised 198\nSETT_EXPO=0\n", 0), 0u);
    EXPECT_THAT(text, HasSubstr("\nSETT_CAMERA_GAIN=9\n"));

    OstrixControlSettings other;
    ASSERT_TRUE(other.ImportPreset(4, "QLM_Preset03.settings"));
    EXPECT_EQ(other.GetPreset(4), settings_.GetPreset(2));
    EXPECT_TRUE(other.ApplyPreset(4));
    EXPECT_EQ(other.GetValue(SETT_CAMERA_GAIN), 9);
}

TEST_F(SettingsFiles, FailedImportKeepsThePresetAndNamesTheMissingFile) {
    settings_.StorePreset(4);
    const auto kept = settings_.GetPreset(4);
    std::string out = stdoutOf([&] { EXPECT_FALSE(settings_.ImportPreset(4, "QLM_Preset05.settings")); });
    EXPECT_THAT(out, HasSubstr("GUI: stat error "));
    EXPECT_THAT(out, HasSubstr(" on file QLM_Preset05.settings"));
    writeFile("QLM_Preset05.settings", binaryFile({SETT_CAMERA_GAIN, 1}, 99, 0x1234));
    EXPECT_FALSE(settings_.ImportPreset(4, "QLM_Preset05.settings"));
    EXPECT_EQ(settings_.GetPreset(4), kept);
}

TEST_F(SettingsFiles, FactoryDefaultsResetTheTableApplyTheFactoryFileAndDropPresets) {
    writeFile("QLM_FACTORY.settings", "#QLM settings Text 99\nSETT_CAMERA_CONTRAST=60\n");
    settings_.SetValue(SETT_CAMERA_GAIN, 9);
    settings_.SetValue(SETT_CAMERA_CONTRAST, 10);
    settings_.SetValueRange(SETT_MEAS_CURSOR1_X, 50, 749, 1);
    settings_.SetValue(SETT_MEAS_CURSOR1_X, 100);
    for (int slot : {0, 9}) {
        settings_.StorePreset(slot);
        settings_.ExportPreset(slot, OstrixControlSettings::PresetFileName(slot));
    }
    const std::string out = stdoutOf([&] { settings_.RestoreFactorySettings(); });
    EXPECT_EQ(settings_.GetValue(SETT_CAMERA_GAIN), 5);
    EXPECT_EQ(settings_.GetValue(SETT_CAMERA_CONTRAST), 60);
    EXPECT_EQ(settings_.GetValue(SETT_MEAS_CURSOR1_X), 100);
    EXPECT_THAT(out, HasSubstr("GUI: successfully deleted 'QLM_Preset01.settings'"));
    EXPECT_THAT(out, HasSubstr("GUI: successfully deleted 'QLM_Preset10.settings'"));
    EXPECT_THAT(out, HasSubstr("GUI: Failed to delete 'QLM_Preset02.settings'"));
    EXPECT_EQ(access("QLM_Preset01.settings", F_OK), -1);
    for (int slot = 0; slot < OstrixControlSettings::NUM_PRESETS; ++slot) {
        EXPECT_TRUE(settings_.GetPreset(slot).empty());
    }
    EXPECT_THAT(readFile("QLM_GUI.settings"), HasSubstr("\nSETT_CAMERA_CONTRAST=60\n"));
}

TEST_F(SettingsFiles, ShippedFactoryFileHoldsTheFactoryTable) {
    OstrixControlSettings changed;
    for (int i = 0; i < SETT_MAX_SAVED_SETTING; ++i) {
        const auto row = OstrixControlSettings::GetFactorySetting(SettingsIndex_t(i));
        changed.SetValue(SettingsIndex_t(i), row.factory == row.max ? row.min : row.max);
    }
    ASSERT_TRUE(changed.ReadSettingsFromTextFile(OSTRIX_SOURCE_DIR "/resources/QLM_FACTORY.settings", 99));
    OstrixControlSettings factory;
    EXPECT_EQ(values(changed), values(factory));
}

TEST_F(SettingsFiles, WriterThatCannotCreateItsFileFails) {
    const std::string out = stdoutOf(
        [&] { EXPECT_FALSE(settings_.WriteSettingsToTextFile("no-such-folder/QLM_GUI.settings", 99)); });
    EXPECT_THAT(out, HasSubstr("GUI: Failed to open no-such-folder/QLM_GUI.settings"));
}

// A process killed at any moment of a save leaves the old file or the new one.
TEST_F(SettingsFiles, KillsDuringSavesNeverLeaveABrokenFile) {
    ASSERT_TRUE(settings_.WriteSettingsToTextFile("QLM_GUI.settings", 99));
    constexpr int kKills = 200;
    for (int round = 0; round < kKills; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child's console is of no interest; it saves until it is killed.
            freopen("/dev/null", "w", stdout);
            OstrixControlSettings writer;
            for (uint16_t v = 0;; ++v) {
                writer.SetValue(SETT_CAMERA_CONTRAST, uint16_t(v % 100));
                writer.WriteSettingsToTextFile("QLM_GUI.settings", 99);
            }
        }
        usleep(useconds_t(100 + (round * 37) % 1900));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const std::string text = readFile("QLM_GUI.settings");
        ASSERT_EQ(text.rfind("#QLM settings Text 99\n", 0), 0u) << "round " << round;
        ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 100) << "round " << round;
        ASSERT_THAT(text, HasSubstr("\nSETT_PRESET_P3=0\n")) << "round " << round;
    }
}

} // namespace
