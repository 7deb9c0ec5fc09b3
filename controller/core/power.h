// The microscope's power states while the controller runs: operating and standby.
// Standby switches the displays, lights and camera off (and, when configured, most supply
// rails) and leaves only power-on, save-log and system update to act; wake-up powers
// everything up again and gives every device back its settings. The controller never
// exits to go to standby: the main loop keeps running.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Stand-ins for the video bridges' own steps (tests); while unset, the bridges are used.
struct PowerHooks {
    // Configures one channel's display video bridge again.
    std::function<void(int channel)> configure_bridge;
    // Shows `image` as the splash screen of one channel's bridge; "" switches it off.
    std::function<void(int channel, const std::string& image)> bridge_splash;
};
extern PowerHooks power_hooks;

// Waits of the transitions. The bridges need the video clocks settled before they are
// loaded again; tests shorten the waits.
struct PowerWaits {
    int crosslinkSettleMs = 3000;
    int afterCrosslinksMs = 10;
};
extern PowerWaits power_waits;

// The standby guard: every message is ignored for this long after entering standby, so
// that the power key's own bounce or a second press cannot wake the system at once.
constexpr int STANDBY_GUARD_MS = 5000;
// The screens stay blanked this long after a wake-up; the main loop unblanks them.
constexpr int WAKE_UNBLANK_MS = 1500;
// The camera board is given this long to boot after its supply comes back.
constexpr int CAMERA_ON_MS = 30000;

// Front-panel LED colours.
constexpr uint8_t LED_COLOUR_STANDBY = 1;
constexpr uint8_t LED_COLOUR_OPERATING = 2;
constexpr uint8_t LED_COLOUR_BUSY = 3;

// Splash screen modes of splash_screen().
constexpr int SPLASH_OFF = 0;
constexpr int SPLASH_CONFIGURED = 1;
constexpr int SPLASH_SYSTEM_UPDATE = 2;

// Enters standby.
void shut_down();
// Powers the board and its clocks up (before a system update, and as wake-up's first step).
void wake_up_power_on();
// Full wake-up from standby.
void wake_up();
// Reconfigures both display video bridges and sets their splash screens.
void configure_crosslinks(int splash_on);
// Splash screens of both bridges: off, the configured images, or the system update image.
void splash_screen(int mode);

// Start values of the hooks and waits (tests).
void reset_power_state();
