// Standby and wake-up on the simulated board: what the rails, lights, camera, codec and
// front panel saw, and what the main loop does around the transitions.
#include <dirent.h>
#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "sim/chips/ClockGenerator.h"
#include "tests/unit/controller/PowerFixture.h"

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's count of live heap bytes (its allocator replaces malloc's).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using power_testing::PowerTest;

constexpr int kRailVcc1v5 = 0, kRailCamera = 1, kRailVcc5v0 = 2, kRailVcc2v5 = 3, kRailVcc3v3 = 4,
              kRailPi = 5, kRailVcc1v1 = 6;

TEST_F(PowerTest, PowerKeyOffThenOnWithinTheGuardIsIgnoredAndAfterItWakes) {
    bringUp();
    handle(tEV_POWER_OFF);
    EXPECT_EQ(execute_mode.standby, 1u);
    EXPECT_EQ(awaitPowerState("standby"), "standby");
    // The guard runs for 5 s from entering standby.
    EXPECT_GT(remainingMs(loop_timers.standbyGuard), 4000);
    EXPECT_LE(remainingMs(loop_timers.standbyGuard), 5000);
    handle(tEV_POWER_ON);
    EXPECT_EQ(execute_mode.standby, 1u);
    EXPECT_EQ(logged("MAIN: Message ignored during Standby Timeout period\n"), 1u);
    EXPECT_EQ(logged("MAIN: POWER ON COMMAND\n"), 0u);

    endStandbyGuard();
    handle(tEV_POWER_ON);
    EXPECT_EQ(execute_mode.standby, 0u);
    EXPECT_EQ(awaitPowerState("operating"), "operating");
    EXPECT_TRUE(loggedInOrder({"MAIN: POWER OFF COMMAND\n", "MAIN: Going to Sleep\n",
                               "MAIN: Message ignored during Standby Timeout period\n",
                               "MAIN: POWER ON COMMAND\n", "Waking Up\n", "wake_up_power_on() completed\n"}));
}

struct RailCase {
    bool offInStandby;
    bool usbAlive;
    bool mainRailsOn;
    bool usbRailOn;
};

class PowerRailsTest : public PowerTest, public ::testing::WithParamInterface<RailCase> {};

TEST_P(PowerRailsTest, StandbyRailsFollowTheConfiguration) {
    const RailCase rc = GetParam();
    bringUp();
    offinstandby = rc.offInStandby;
    usbaliveinstandby = rc.usbAlive;
    setting(SETT_LIGHT_SUBSTAGE, 50);
    ASSERT_TRUE(lights().lit(5));
    shut_down();
    for (int rail : {kRailVcc1v5, kRailVcc2v5, kRailVcc3v3, kRailVcc1v1}) {
        EXPECT_EQ(rails().railOn(rail), rc.mainRailsOn) << sim::Ltc2977::railName(rail);
    }
    EXPECT_EQ(rails().railOn(kRailVcc5v0), rc.usbRailOn);
    EXPECT_TRUE(rails().railOn(kRailPi));
    // Displays, lights and camera are off whatever the rails do.
    EXPECT_FALSE(rails().railOn(kRailCamera));
    EXPECT_FALSE(camera().present());
    EXPECT_FALSE(lights().supplyOn());
    EXPECT_FALSE(lights().lit(5));
    EXPECT_EQ(panel().ledCode(), LED_COLOUR_STANDBY);
    EXPECT_EQ(awaitPowerState("standby"), "standby");

    wake_up();
    for (int rail = 0; rail < sim::Ltc2977::kPages; ++rail) {
        EXPECT_TRUE(rails().railOn(rail)) << sim::Ltc2977::railName(rail);
    }
    EXPECT_TRUE(camera().present());
    EXPECT_TRUE(lights().lit(5));
    EXPECT_EQ(panel().ledCode(), LED_COLOUR_OPERATING);
    EXPECT_EQ(awaitPowerState("operating"), "operating");
}

INSTANTIATE_TEST_SUITE_P(Configurations, PowerRailsTest,
                         ::testing::Values(RailCase{false, false, true, true},
                                           RailCase{false, true, true, true},
                                           RailCase{true, false, false, false},
                                           RailCase{true, true, false, true}));

TEST_F(PowerTest, ScreensStayBlankedAfterWakeUpUntilTheLoopUnblanks) {
    bringUp();
    shut_down();
    endStandbyGuard();
    USE_HDMI_CHIPS = 1;
    wake_up();
    const auto woke = std::chrono::steady_clock::now();
    EXPECT_EQ(execute_mode.screensblanked, 1u);
    while (execute_mode.screensblanked) {
        main_loop_pass();
        ASSERT_LT(std::chrono::steady_clock::now() - woke, std::chrono::seconds(30));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - woke, std::chrono::milliseconds(WAKE_UNBLANK_MS));
    EXPECT_EQ(logged("MAIN: Unblank timer expired, unblanking screens\r\n"), 1u);
    EXPECT_EQ(loop_timers.unblank, no_timeout());
}

TEST_F(PowerTest, InStandbyTheLoopNeitherPollsNorUnblanks) {
    bringUp();
    USE_HDMI_CHIPS = 1;
    start_timeout("test", &loop_timers.unblank, 1, 0);
    shut_down();
    const int passes = loop_state.loopcounter;
    main_loop_pass();
    EXPECT_EQ(loop_state.loopcounter, passes);
    EXPECT_NE(loop_timers.unblank, no_timeout()); // still armed: unblanking waits for the wake-up
    endStandbyGuard();
    setting(SETT_CAMERA_GAIN, 77); // settings wait for the wake-up too
    EXPECT_EQ(shadow_settings[SETT_CAMERA_GAIN], 0);
    EXPECT_EQ(logged("CAMERA Gain Settings\n"), 0u);
}

TEST_F(PowerTest, WakeUpRunsItsStepsInOrder) {
    bringUp();
    splashImageFile[LEFT] = "left.bmp";
    shut_down();
    wake_up();
    EXPECT_TRUE(loggedInOrder({"MAIN: Going to Sleep\n", "CB:Camera Board OFF\n", "LightingControl::Power\n",
                               "Waking Up\n", "System Reset 0\r\n", "PSU: VCC 1\n", "CB:Camera Board ON\n",
                               "System Reset 1\r\n", "wake_up_power_on() completed\n",
                               "MAIN: Configure Crosslinks with splash 1 and pic left.bmp\n", "Video Reset\n",
                               "CB: wake_up setWhiteBalance\n", "LightingControl::Power\n", "Video Reset\n",
                               "MAIN: send Image Format 1\n"}));
    EXPECT_EQ(execute_mode.camera_board_on, 1u);
    EXPECT_GT(remainingMs(loop_timers.cameraOn), 0);
    EXPECT_EQ(execute_mode.hdmiInput, 1u);
    EXPECT_EQ(execute_mode.controlsEnabled, 1u);
    EXPECT_TRUE(user_controls->controlsEnabled());
    EXPECT_FALSE(user_controls->keypressesIgnored());
}

// The bridges' code sets the hooks; the splash follows the mode on both, left first, and
// the front panel keeps off the bus while the bridges are loaded.
TEST_F(PowerTest, CrosslinksAreConfiguredWithTheSplashOfTheMode) {
    bringUp();
    splashImageFile[LEFT] = "l.bmp";
    splashImageFile[RIGHT] = "r.bmp";
    std::vector<std::string> seen;
    power_hooks.configure_bridge = [&](int c) {
        seen.push_back("configure " + std::to_string(c) + (user_controls->pollingDisabled() ? " quiet" : ""));
    };
    power_hooks.bridge_splash = [&](int c, const std::string& image) {
        seen.push_back(std::to_string(c) + " '" + image + "'");
    };
    configure_crosslinks(SPLASH_CONFIGURED);
    EXPECT_FALSE(user_controls->pollingDisabled());
    splash_screen(SPLASH_SYSTEM_UPDATE);
    splash_screen(SPLASH_OFF);
    EXPECT_EQ(seen, (std::vector<std::string>{"configure 0 quiet", "configure 1 quiet", "0 'l.bmp'",
                                              "1 'r.bmp'", "0 'system_updating.bmp'",
                                              "1 'system_updating.bmp'", "0 ''", "1 ''"}));
    USE_CROSSLINK = 0;
    seen.clear();
    configure_crosslinks(SPLASH_CONFIGURED);
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(logged("MAIN: Configure Crosslinks with splash 1 and pic l.bmp\n"), 2u);
}

TEST_F(PowerTest, StandbyAfterPowerUpFollowsTheSettingsCollection) {
    bringUp();
    execute_mode.standbyafterpowerup = 1;
    loop_state.settings_collection_index = LAST_SETTING_INDEX;
    settings_collection_step();
    EXPECT_TRUE(loggedInOrder({"MAIN: GUI settings collected\n", "MAIN: Going to Sleep\n"}));
    EXPECT_EQ(execute_mode.standby, 1u);
    EXPECT_EQ(execute_mode.standbyafterpowerup, 0u);
    EXPECT_EQ(awaitPowerState("standby"), "standby");
}

TEST_F(PowerTest, SignalLossEndsInStandbyWhenConfigured) {
    bringUp();
    USE_HDMI_CHIPS = 1;
    ASSERT_TRUE(board().execute({"hdmi", "left", "off"}).ok);
    ASSERT_TRUE(board().execute({"hdmi", "right", "off"}).ok);
    execute_mode.standby_on_no_signal = 1;
    execute_mode.hdmiInput = 0;
    execute_mode.screenoff = 1;
    start_timeout("test", &loop_timers.systemStandby, 1, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!execute_mode.standby && std::chrono::steady_clock::now() < deadline) {
        main_loop_pass();
    }
    ASSERT_EQ(execute_mode.standby, 1u);
    EXPECT_EQ(execute_mode.screenoff, 0u);
    EXPECT_EQ(awaitPowerState("standby"), "standby");
}

// --- resources of the process ---------------------------------------------------------------

size_t entriesIn(const char* folder) {
    size_t n = 0;
    if (DIR* dir = opendir(folder)) {
        while (readdir(dir)) {
            ++n;
        }
        closedir(dir);
    }
    return n;
}

size_t posixTimers() {
    std::ifstream timers("/proc/self/timers");
    size_t n = 0;
    for (std::string line; std::getline(timers, line);) {
        n += line.rfind("ID:", 0) == 0 ? 1 : 0;
    }
    return n;
}

size_t liveHeapBytes() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

struct Resources {
    size_t fds, threads, timers, heap;
};

Resources resources() {
    return {entriesIn("/proc/self/fd"), entriesIn("/proc/self/task"), posixTimers(), liveHeapBytes()};
}

// The supplies go in standby: the chips forget what they were told.
void chipsLosePower(sim::Board& board) {
    board.find<sim::AudioCodec>()->powerOn();
    board.find<sim::Ltc2625>()->powerOn();
    board.find<sim::LightingExpander>()->powerOn();
    board.find<sim::ClockGenerator>()->powerOn();
}

TEST_F(PowerTest, FiftyStandbyCyclesLeakNothingAndEndWithEverySettingApplied) {
    constexpr int kCycles = 50;
    constexpr size_t kHeapSlack = 64 * 1024; // the log and the front-panel worker allocate too
    // Short codec and clock scripts: the built-in tables are written at 10 ms a row.
    constexpr int kScriptRegister = 5;
    constexpr uint8_t kScriptValue = 0x42;
    write("ostrix.cfg",
          "[SYSTEM]\nmajorversion = 2\n[AUDIO]\ninitscript = codec.txt\n[CLOCK]\nscript = clk.txt\n");
    write("codec.txt", "w 30 05 42\n");
    write("clk.txt", "1\n2\n3\n4\n5\n6\n7\n8\n9\n0x0010,0x8C\n0x00B7,0x92\n");
    withVideoChips_ = false;
    bringUp();
    offinstandby = true;
    applyUserSettings();
    const std::string before = deviceState();
    ASSERT_NE(before.find("camera gain 40"), std::string::npos) << before;
    // One cycle first, so that whatever is made once (timers, buffers) exists.
    shut_down();
    chipsLosePower(board());
    wake_up();
    ASSERT_EQ(deviceState(), before);
    endStandbyGuard();
    // The board's traffic trace grows up to its capacity: it is the simulator's memory, not
    // the controller's, and is cleared in every cycle.
    board().trace().clear();
    const Resources start = resources();
    for (int i = 0; i < kCycles; ++i) {
        handle(tEV_POWER_OFF);
        ASSERT_EQ(execute_mode.standby, 1u);
        chipsLosePower(board());
        endStandbyGuard();
        handle(tEV_POWER_ON);
        ASSERT_EQ(execute_mode.standby, 0u);
        board().trace().clear();
    }
    const Resources end = resources();
    // A leak grows; a descriptor or thread the warm-up cycle still held may be gone by now.
    EXPECT_LE(end.fds, start.fds);
    EXPECT_LE(end.threads, start.threads);
    EXPECT_EQ(end.timers, start.timers);
    EXPECT_LT(end.heap, start.heap + kHeapSlack);
    EXPECT_EQ(deviceState(), before);
    EXPECT_EQ(codec().reg(kScriptRegister), kScriptValue);
    EXPECT_EQ(board().find<sim::ClockGenerator>()->loadedTable(),
              (std::map<uint8_t, uint8_t>{{0x10, 0x8C}, {0xB7, 0x92}}));
    EXPECT_EQ(awaitPowerState("operating"), "operating");
    EXPECT_EQ(logged("MAIN: Going to Sleep\n"), size_t{kCycles + 1});
}

} // namespace
