// The audio codec as the controller's loop drives it: the sound and volume settings, the
// headset poll and its error limit, the headset check that ends the settings collection.
#include <gtest/gtest.h>

#include <memory>

#include "controller/core/devices.h"
#include "controller/devices/Audio.h"
#include "controller/devices/i2c.h"
#include "sim/buses/I2cBus.h"
#include "sim/chips/AudioCodec.h"
#include "tests/unit/controller/MainLoopFixture.h"

namespace {

class AudioHandlersTest : public loop_testing::MainLoopTest {
protected:
    void SetUp() override {
        MainLoopTest::SetUp();
        i2c_ = std::make_unique<i2c_handler>(true);
        audio_codec = std::make_unique<audio>(i2c_.get(), "");
    }
    void TearDown() override {
        audio_codec.reset();
        i2c_.reset();
        MainLoopTest::TearDown();
    }
    sim::AudioCodec& chip() { return *board().find<sim::AudioCodec>(); }

    std::unique_ptr<i2c_handler> i2c_;
};

TEST_F(AudioHandlersTest, VolumeSettingsReachTheCodecWithinRange) {
    setting(tEV_ACTION, SETT_UI_SOUND, 0);
    EXPECT_EQ(logged("Sound Mute OFF\n"), 1u);
    struct Case {
        int32_t value;
        int heard;
    } cases[] = {{75, 75}, {-5, 0}, {250, 100}, {1, 1}};
    for (const Case& c : cases) {
        setting(tEV_ACTION, SETT_SPEAKER_VOLUME, c.value);
        setting(tEV_ACTION, SETT_HEADSET_VOLUME, c.value);
        EXPECT_EQ(chip().speakerVolume(), c.heard) << c.value;
        EXPECT_EQ(chip().headphoneVolume(), c.heard) << c.value;
    }
    setting(tEV_ACTION, SETT_UI_SOUND, 1);
    EXPECT_EQ(logged("Sound Mute ON\n"), 1u);
    EXPECT_EQ(chip().speakerVolume(), 0);
    EXPECT_EQ(chip().headphoneVolume(), 0);
    EXPECT_EQ(logged("SPEAKER Volume Settings\n"), 4u);
}

TEST_F(AudioHandlersTest, TheLoopSwitchesToAPluggedHeadset) {
    USE_AUDIO = 1;
    setting(tEV_ACTION, SETT_UI_SOUND, 0);
    setting(tEV_ACTION, SETT_SPEAKER_VOLUME, 40);
    setting(tEV_ACTION, SETT_HEADSET_VOLUME, 60);
    ASSERT_TRUE(board().execute({"headset", "plug"}).ok);
    main_loop_pass();
    EXPECT_EQ(chip().speakerVolume(), 0);
    EXPECT_EQ(chip().headphoneVolume(), 60);
    ASSERT_TRUE(board().execute({"headset", "unplug"}).ok);
    main_loop_pass();
    EXPECT_EQ(chip().speakerVolume(), 40);
    EXPECT_EQ(chip().headphoneVolume(), 0);
}

TEST_F(AudioHandlersTest, TenFailedPollsInARowStopThePolling) {
    USE_AUDIO = 1;
    board().find<sim::I2cBus>()->fail({sim::AudioCodec::kChannel, sim::AudioCodec::kAddress,
                                       sim::I2cFaultKind::Read, sim::AudioCodec::kStickyFlags,
                                       sim::I2cFault::kAlways});
    ASSERT_TRUE(board().execute({"headset", "plug"}).ok);
    for (int pass = 0; pass < 12; ++pass) {
        main_loop_pass();
    }
    EXPECT_EQ(logged("MAIN: ERROR: ac->poll"), 10u);
    EXPECT_EQ(loop_state.audio_poll_error_count, 10);
    // Power-on from standby clears the count: polling starts again.
    execute_mode.standby = 1;
    handle(tEV_POWER_ON);
    execute_mode.standby = 0;
    main_loop_pass();
    EXPECT_EQ(logged("MAIN: ERROR: ac->poll"), 11u);
}

TEST_F(AudioHandlersTest, TheEndOfTheSettingsCollectionChoosesTheOutput) {
    setting(tEV_ACTION, SETT_UI_SOUND, 0);
    setting(tEV_ACTION, SETT_HEADSET_VOLUME, 60);
    chip().plugHeadset(true);
    loop_state.settings_collection_index = LAST_SETTING_INDEX;
    for (int i = 0; i < 3; ++i) {
        settings_collection_step();
    }
    EXPECT_EQ(logged("MAIN: GUI settings collected\n"), 1u);
    EXPECT_EQ(logged("AC: Using Headset\n"), 1u);
    EXPECT_EQ(chip().headphoneVolume(), 60);
}

TEST_F(AudioHandlersTest, WakeUpGivesTheCodecBackItsState) {
    setting(tEV_ACTION, SETT_UI_SOUND, 0);
    setting(tEV_ACTION, SETT_SPEAKER_VOLUME, 33);
    chip().powerOn();
    wake_up_audio();
    EXPECT_EQ(chip().speakerVolume(), 33);
    EXPECT_EQ(chip().reg(0x0A0), 0xC6);
}

} // namespace
