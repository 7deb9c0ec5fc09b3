// The audio codec against the simulated board: registers and pages as the codec saw
// them, the beep generator, volumes and muting, scripts, headset switching.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "I2cFixture.h"
#include "controller/devices/Audio.h"
#include "controller/devices/i2c.h"
#include "platform/wiringPi.h"
#include "sim/board/Json.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/AudioCodec.h"

namespace {

constexpr int kSpeakerLeft = AIC31XX_LANALOGSPL;
constexpr int kHeadphoneLeft = AIC31XX_LANALOGHPL;

class AudioTest : public I2cDeviceTest {
protected:
    void TearDown() override {
        codec_.reset();
        I2cDeviceTest::TearDown();
    }
    audio& make(const std::string& script = "") {
        codec_ = std::make_unique<audio>(i2c_.get(), script.c_str());
        return *codec_;
    }
    sim::AudioCodec& chip() { return *board().find<sim::AudioCodec>(); }
    sim::I2cBus& bus() { return *board().find<sim::I2cBus>(); }
    // Register writes the codec took since the trace was cleared: {register, value}.
    std::vector<std::vector<uint8_t>> writes() {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& e : board().trace().entries(sim::TraceKind::I2c)) {
            if (e.address == sim::AudioCodec::kAddress && e.channel == sim::AudioCodec::kChannel &&
                e.out.size() >= 2) {
                out.push_back(e.out);
            }
        }
        return out;
    }
    int pageSelects() {
        int n = 0;
        for (const auto& w : writes()) {
            n += w[0] == 0 ? 1 : 0;
        }
        return n;
    }
    int pair(int reg) { return chip().reg(reg) << 8 | chip().reg(reg + 1); }

    std::unique_ptr<audio> codec_;
};

TEST_F(AudioTest, BuiltInTableReachesEveryPageAndLeavesBothOutputsMuted) {
    audio& ac = make();
    EXPECT_EQ(chip().reg(0x005), 0x91);
    EXPECT_EQ(chip().reg(0x00D), 0x00); // pair 0x0080: high nibble, then low byte
    EXPECT_EQ(chip().reg(0x00E), 0x80);
    EXPECT_EQ(chip().reg(0x0A6), 0x92);
    EXPECT_EQ(chip().reg(0x401), 0x04); // page 8
    EXPECT_EQ(chip().reg(0x03F), 0xD6);
    EXPECT_TRUE(ac.speakers_muted());
    EXPECT_TRUE(ac.headset_muted());
    EXPECT_EQ(digitalRead(AUDIO_INT_Pin), LOW);
    EXPECT_TRUE(logged("AC: Constructing Audio interface\n"));
    EXPECT_TRUE(logged("Registering device 6::24 for audio"));
    ASSERT_TRUE(logged("AC: Configuration somplete\n"));
    EXPECT_GT(log().find("AC: Audio Interface Constructed\n"), log().find("AC: Configuration somplete\n"));
}

TEST_F(AudioTest, BeepProgramsTheToneGenerator) {
    audio& ac = make();
    struct Case {
        uint16_t frequency, cycles;
        uint32_t length;
        uint16_t sine, cosine;
    } cases[] = {
        {1000, 100, 0x0012C0, 4277, 32488},
        {1, 65535, 0xFFFFFF, 4, 32767}, // length and cosine held to their fields
        {11999, 1, 4, 32767, 4},        // sine held to its field
        {440, 0, 0, 1886, 32714},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(ac.beep(c.frequency, c.cycles), 0) << c.frequency;
        EXPECT_EQ(chip().reg(73) << 16 | chip().reg(74) << 8 | chip().reg(75), static_cast<int>(c.length))
            << c.frequency;
        EXPECT_EQ(pair(76), c.sine) << c.frequency;
        EXPECT_EQ(pair(78), c.cosine) << c.frequency;
        EXPECT_EQ(chip().reg(AIC31XX_NDAC), 0x82);
        EXPECT_EQ(chip().reg(AIC31XX_DACMUTE), 0x00);
        EXPECT_EQ(chip().reg(AIC31XX_RBEEPGEN), 0x80);
    }
    const sim::AudioCodec::Beep beep = chip().lastBeep();
    EXPECT_EQ(beep.count, 4u);
    EXPECT_NEAR(beep.frequency, 440.0, 0.5);
}

TEST_F(AudioTest, BeepOutsideTheGeneratorsRangeTouchesNothing) {
    audio& ac = make();
    for (uint16_t frequency : {uint16_t{12000}, uint16_t{65535}, uint16_t{0}}) {
        board().trace().clear();
        EXPECT_EQ(ac.beep(frequency, 1), -1) << frequency;
        EXPECT_TRUE(writes().empty()) << frequency;
    }
    EXPECT_EQ(chip().lastBeep().count, 0u);
    EXPECT_TRUE(logged("<<BEEP>>\n"));
}

TEST_F(AudioTest, BeepWaitsForTheDacsOnlyUntilItsTimeout) {
    audio& ac = make();
    chip().setValue(0, sim::AudioCodec::kDacPower, 0); // DACs down: their flags never come
    EXPECT_EQ(ac.beep(1000, 100), 0);
    EXPECT_EQ(chip().lastBeep().count, 1u);
}

TEST_F(AudioTest, VolumesMapToRegisterValues) {
    audio& ac = make();
    ac.unmuteSpeakers();
    ac.unmuteHeadset();
    struct Case {
        uint32_t volume;
        int speaker, headphone;
    } cases[] = {{100, 0x81, 0x9B}, {1, 0xE4, 0xFE}, {0, 0x7F, 0x7F}, {50, 0xB3, 0xCD}, {150, 0x81, 0x9B}};
    for (const Case& c : cases) {
        ac.setSpeakerVolume(c.volume);
        ac.setHeadphoneVolume(c.volume);
        EXPECT_EQ(pair(kSpeakerLeft), c.speaker << 8 | c.speaker) << c.volume;
        EXPECT_EQ(pair(kHeadphoneLeft), c.headphone << 8 | c.headphone) << c.volume;
    }
    EXPECT_EQ(ac.speaker_volume(), 100u); // clamped
    EXPECT_TRUE(logged("AC: Set Speaker Volume to 129\n"));
}

TEST_F(AudioTest, MutingKeepsTheVolumeForTheUnmute) {
    audio& ac = make();
    ac.setSpeakerVolume(60); // muted since construction: stored, not heard
    EXPECT_EQ(chip().reg(kSpeakerLeft), 0x7F);
    EXPECT_TRUE(logged("AC: Speakers Muted\n"));
    ac.unmuteSpeakers();
    EXPECT_EQ(chip().speakerVolume(), 60);
    ac.muteSpeakers();
    EXPECT_EQ(chip().speakerVolume(), 0);
    ac.setHeadphoneVolume(40);
    EXPECT_EQ(chip().reg(kHeadphoneLeft), 0x7F);
    ac.unmuteHeadset();
    EXPECT_EQ(chip().headphoneVolume(), 40);
}

TEST_F(AudioTest, WritesOnOnePageSelectItOnce) {
    audio& ac = make();
    board().trace().clear();
    ASSERT_EQ(ac.write_reg8(AIC31XX_REG(1, 38), 0x11), 0);
    ASSERT_EQ(ac.write_reg8(AIC31XX_REG(1, 39), 0x12), 0);
    EXPECT_EQ(pageSelects(), 1);
    ASSERT_EQ(ac.write_reg8(AIC31XX_REG(0, 5), 0x13), 0);
    EXPECT_EQ(pageSelects(), 2);
    EXPECT_EQ(ac.page(), 0);
    EXPECT_EQ(chip().reg(166), 0x11);
    EXPECT_EQ(chip().reg(167), 0x12);
    EXPECT_EQ(ac.write_reg8(AIC31XX_REGISTERS, 0), -1);
}

TEST_F(AudioTest, AFailedPageSelectIsNotCached) {
    audio& ac = make();
    bus().fail({sim::AudioCodec::kChannel, sim::AudioCodec::kAddress, sim::I2cFaultKind::Write, 0, 1});
    EXPECT_EQ(ac.write_reg8(AIC31XX_REG(2, 5), 0x44), -1);
    EXPECT_EQ(ac.page(), -1);
    EXPECT_EQ(ac.write_reg8(AIC31XX_REG(2, 5), 0x44), 0);
    EXPECT_EQ(chip().reg(AIC31XX_REG(2, 5)), 0x44);
    bus().fail({sim::AudioCodec::kChannel, sim::AudioCodec::kAddress, sim::I2cFaultKind::Write, 6, 1});
    EXPECT_EQ(ac.write_reg8(AIC31XX_REG(2, 6), 0x45), -2);
}

TEST_F(AudioTest, ScriptSelectsPagesWithRegisterZeroOfAnyPage) {
    testing_support::writeFile("codec.txt", "# test script\r\n"
                                            "w 30 00 01\n"
                                            "w 30 26 92\n"
                                            "\t> 93 # right speaker\n"
                                            "w 30 00 00 w 30 05 Ab\n"
                                            "w 30 00 02\nw 30 00 00\nw 30 06 5c\n");
    make("codec.txt");
    EXPECT_EQ(chip().reg(166), 0x92);
    EXPECT_EQ(chip().reg(167), 0x93);
    EXPECT_EQ(chip().reg(5), 0xAB);
    EXPECT_EQ(chip().reg(6), 0x5C);     // page 2's register 0 went back to page 0
    EXPECT_EQ(chip().reg(0x0A4), 0x7F); // the built-in table was not written
    EXPECT_TRUE(logged("AC: Initialising Audio from script file codec.txt\n"));
}

TEST_F(AudioTest, ABadScriptIsRefusedAndThePreviousTableStays) {
    struct Case {
        const char* script;
        const char* error;
    } cases[] = {
        {nullptr, "AC: ERROR opening Audio Init script codec.txt"},
        {"w 30 05 11\nx\n", "AC: ERROR unexpected character in script file"},
        {"> 12\n", "AC: ERROR unexpected character in script file"},
        {"w 30 05 11\nw3005 11\n", "AC: ERROR: bad character in script file expecting space"},
        {"w 30 05 1", "AC: ERROR missing character in script file expecting hex digit"},
        {"w 30 05 1G\n", "AC: ERROR bad character in script file expecting hex digit"},
        {"w 30 00 FF\nw 30 FF 01\n", "AC: ERROR register 32895 out of range in script file"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove("codec.txt");
        if (c.script) {
            testing_support::writeFile("codec.txt", c.script);
        }
        chip().powerOn();
        make("codec.txt");
        EXPECT_TRUE(logged(c.error)) << c.error;
        EXPECT_EQ(chip().reg(0x0A6), 0x92) << c.error; // the built-in table instead
        EXPECT_EQ(chip().reg(5), 0x91) << c.error;
        codec_.reset();
    }
    // A good script then becomes the table a later bad one falls back to.
    testing_support::writeFile("codec.txt", "w 30 05 11\n");
    audio& ac = make("codec.txt");
    testing_support::writeFile("codec.txt", "w 30 05 22\nbad\n");
    chip().powerOn();
    ac.wake_up();
    EXPECT_EQ(chip().reg(5), 0x11);
}

TEST_F(AudioTest, TooManyScriptWritesAreRefused) {
    std::string script;
    for (size_t i = 0; i <= MAX_AUDIO_SCRIPT_ENTRIES; ++i) {
        script += "w 30 05 01\n";
    }
    testing_support::writeFile("codec.txt", script);
    make("codec.txt");
    EXPECT_TRUE(logged("AC: ERROR more than 4096 writes in script file"));
    EXPECT_EQ(chip().reg(5), 0x91);
}

TEST_F(AudioTest, HeadsetPlugSwitchesTheOutputThroughTheInterrupt) {
    audio& ac = make();
    ac.setSpeakerVolume(70);
    ac.setHeadphoneVolume(30);
    ac.unmuteSpeakers();
    EXPECT_EQ(ac.poll(), 0); // line low: nothing to read
    ASSERT_TRUE(board().execute({"headset", "plug"}).ok);
    EXPECT_EQ(digitalRead(AUDIO_INT_Pin), HIGH);
    EXPECT_EQ(ac.poll(), 1);
    EXPECT_EQ(digitalRead(AUDIO_INT_Pin), LOW);
    EXPECT_EQ(chip().speakerVolume(), 0);
    EXPECT_EQ(chip().headphoneVolume(), 30);
    EXPECT_NE(board().statusJson().find("\"output\":\"headset\""), std::string::npos);
    EXPECT_TRUE(logged("AC: Headset Inserted\n"));
    ASSERT_TRUE(board().execute({"headset", "unplug"}).ok);
    EXPECT_EQ(ac.poll(), 2);
    EXPECT_EQ(chip().speakerVolume(), 70);
    EXPECT_EQ(chip().headphoneVolume(), 0);
    EXPECT_NE(board().statusJson().find("\"output\":\"speakers\""), std::string::npos);
    EXPECT_FALSE(board().execute({"headset", "wiggle"}).ok);
}

TEST_F(AudioTest, PollReportsAFailedFlagRead) {
    audio& ac = make();
    ASSERT_TRUE(board().execute({"headset", "plug"}).ok);
    bus().fail({sim::AudioCodec::kChannel, sim::AudioCodec::kAddress, sim::I2cFaultKind::Read, 44, 1});
    EXPECT_EQ(ac.poll(), -1);
    EXPECT_TRUE(logged("AC: ERROR reading AIC31XX_INTRDACFLAG\033"));
}

TEST_F(AudioTest, HeadsetDetectionReportsTheKindPlugged) {
    audio& ac = make();
    ac.setSpeakerVolume(20);
    ac.setHeadphoneVolume(20);
    ac.unmuteSpeakers();
    ac.unmuteHeadset();
    EXPECT_EQ(ac.headsetDetected(), 0);
    EXPECT_TRUE(logged("AC: Using Speakers\n"));
    EXPECT_EQ(chip().headphoneVolume(), 0);
    EXPECT_EQ(chip().speakerVolume(), 20);
    chip().plugHeadsetType(0x20);
    EXPECT_EQ(ac.headsetDetected(), 1);
    chip().plugHeadset(true);
    EXPECT_EQ(ac.headsetDetected(), 3);
    EXPECT_TRUE(logged("AC: Using Headset\n"));
    EXPECT_EQ(chip().speakerVolume(), 0);
}

TEST_F(AudioTest, WakeUpConfiguresAgainAndRestoresVolumesAndMuting) {
    audio& ac = make();
    ac.setSpeakerVolume(80);
    ac.setHeadphoneVolume(90);
    ac.unmuteSpeakers();
    chip().powerOn(); // standby took the codec's registers
    EXPECT_EQ(chip().reg(0x005), 0x00);
    ac.wake_up();
    EXPECT_EQ(chip().reg(0x005), 0x91);
    EXPECT_EQ(chip().speakerVolume(), 80);
    EXPECT_EQ(chip().headphoneVolume(), 0); // still muted
}

TEST_F(AudioTest, TheDestructorMutesBothOutputs) {
    audio& ac = make();
    ac.setSpeakerVolume(80);
    ac.unmuteSpeakers();
    codec_.reset();
    EXPECT_EQ(pair(kSpeakerLeft), 0x7F7F);
    EXPECT_EQ(pair(kHeadphoneLeft), 0x7F7F);
}

} // namespace
