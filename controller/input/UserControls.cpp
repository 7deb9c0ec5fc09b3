// The front-panel controls object and its receiver thread.
#include "controller/input/UserControls.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include "common/SettingsIndex.h"
#include "common/logfile.h"
#include "controller/core/SettingHandlers.h"
#include "controller/devices/i2c.h"

std::unique_ptr<UserControls> user_controls;
CommsClient* comms_client = nullptr;

namespace {

constexpr useconds_t RECEIVER_PERIOD_US = 10000;
constexpr useconds_t POLLING_DISABLED_PAUSE_US = 1000000;
constexpr useconds_t PAUSE_STEP_US = 10000;
constexpr int THREAD_FAILURE_EXIT_STATUS = -1;
constexpr uint8_t LED_CODE_MASK = 0x03;
constexpr int LED_CODE_SHIFT = 6;
constexpr uint8_t EXPANDER_CONFIGURATION = 0x3F; // pins 0..5 button inputs, 6..7 LED outputs
constexpr uint8_t BUTTON_BITS = 0x3F;

const timeval BUTTON_REPEAT_DELAY_TIME = {0, 330000};
const timeval BUTTON_REPEAT_TIME = {0, 100000};
const timeval POWER_OFF_PRESS_TIME = {1, 0};
constexpr int BUTTONS_RELEASED_POLLS = 25;
constexpr int POWER_ON_MAX_POLLS = 100;
// Button combinations held when the power button is let go, and the alignment entry.
constexpr uint8_t POWER_ALONE = BUTTON6;
constexpr uint8_t POWER_SYSTEM_UPDATE = BUTTON1 | BUTTON3 | BUTTON6;
constexpr uint8_t POWER_SAVE_LOG = BUTTON4 | BUTTON5 | BUTTON6;
constexpr uint8_t ALIGNMENT_ENTRY = BUTTON2 | BUTTON3;

constexpr uint32_t KEYPAD_MESSAGE_TIME_MS = 3000;

constexpr uint32_t BUTTON_KEYS[BTN6] = {UKEY_SELECT, UKEY_UP, UKEY_DOWN, UKEY_LEFT, UKEY_RIGHT};

// Keyboard characters in each mode (NORMAL, ALIGN, DIVERGENT, BRIGHTNESS); NO_KEY sends
// nothing. Set-up keys carry the set-up screen, or 0 where `zeroData` says so.
constexpr int NO_KEY = -1;
constexpr int SETUP_MODES = 4;
struct CharKeys {
    char c;
    int key[SETUP_MODES];
    bool zeroData[SETUP_MODES];
};
constexpr CharKeys CHAR_KEYS[] = {
    {'V', {UKEY_P1, NO_KEY, NO_KEY, NO_KEY}, {}},
    {'B', {UKEY_P2, NO_KEY, NO_KEY, NO_KEY}, {}},
    {'N', {UKEY_P3, NO_KEY, NO_KEY, NO_KEY}, {}},
    {'i', {UKEY_UP, UKEY_ALIGN_UP, NO_KEY, NO_KEY}, {}},
    {'m', {UKEY_DOWN, UKEY_ALIGN_DOWN, NO_KEY, NO_KEY}, {}},
    {'l', {UKEY_LEFT, UKEY_ALIGN_LEFT, UKEY_DIVERGENT_IN, NO_KEY}, {}},
    {'j', {UKEY_RIGHT, UKEY_ALIGN_RIGHT, UKEY_DIVERGENT_OUT, NO_KEY}, {}},
    {'k',
     {UKEY_SELECT, UKEY_ALIGN_RESET, UKEY_DIVERGENT_RESET, UKEY_BRIGHTNESS_RESET},
     {false, false, true, true}},
    {'r', {UKEY_RING_UP, UKEY_ALIGN_ROTL, NO_KEY, UKEY_BRIGHTNESS_RIGHT_INC}, {}},
    {'f', {UKEY_RING_DOWN, UKEY_ALIGN_ROTR, NO_KEY, UKEY_BRIGHTNESS_RIGHT_DEC}, {}},
    {'s', {UKEY_SUBSTAGE_UP, UKEY_ALIGN_ROTR, NO_KEY, UKEY_BRIGHTNESS_LEFT_INC}, {}},
    {'x', {UKEY_SUBSTAGE_DOWN, UKEY_ALIGN_ROTL, NO_KEY, UKEY_BRIGHTNESS_LEFT_DEC}, {}},
    {'t', {UKEY_GAIN_UP, UKEY_GAIN_UP, UKEY_GAIN_UP, UKEY_GAIN_UP}, {}},
    {'g', {UKEY_GAIN_DOWN, UKEY_GAIN_DOWN, UKEY_GAIN_DOWN, UKEY_GAIN_DOWN}, {}},
    {'y', {UKEY_EXPOSURE_UP, UKEY_EXPOSURE_UP, UKEY_EXPOSURE_UP, UKEY_EXPOSURE_UP}, {}},
    {'h', {UKEY_EXPOSURE_DOWN, UKEY_EXPOSURE_DOWN, UKEY_EXPOSURE_DOWN, UKEY_EXPOSURE_DOWN}, {}},
};

// The short preset keys: their preset in normal mode, the screen they pick in alignment.
struct ShortPreset {
    char c;
    uint32_t key;
    PRESET_T preset;
};
constexpr ShortPreset SHORT_PRESETS[] = {
    {'v', UKEY_P1_SHORT, PRESET01}, {'b', UKEY_P2_SHORT, PRESET02}, {'n', UKEY_P3_SHORT, PRESET03}};

// Mouse key codes.
constexpr uint16_t MOUSE_HDR_TOGGLE = 113;
constexpr uint16_t MOUSE_HDR_RATIO_DOWN = 114;
constexpr uint16_t MOUSE_HDR_RATIO_UP = 115;
constexpr uint16_t MOUSE_LEFT = 272;
constexpr uint16_t MOUSE_RIGHT = 273;
constexpr uint16_t MOUSE_MIDDLE = 274;
constexpr uint16_t MOUSE_EV_KEY = 1;
constexpr uint16_t MOUSE_EV_REL = 2;
constexpr uint16_t MOUSE_REL_WHEEL = 8;

// Settings of the programmable keys whose changes the receiver names in the log.
struct ProgrammableSetting {
    uint32_t setting;
    const char* text;
};
constexpr ProgrammableSetting programmableSettings[] = {
    {SETT_PRESET_P1_SHORT, "Setting for P1 Short\n"}, {SETT_PRESET_P2_SHORT, "Setting for P2 Short\n"},
    {SETT_PRESET_P3_SHORT, "Setting for P3 Short\n"}, {SETT_PRESET_P1, "Setting for P1 Long\n"},
    {SETT_PRESET_P2, "Setting for P2 Long\n"},        {SETT_PRESET_P3, "Setting for P3 Long\n"},
};

void logIncoming(const message_s& msg) {
    const uint32_t kind = eventCode(msg.command);
    const uint32_t parameter = eventParameter(msg.command);
    if (kind == tEV_KEY) {
        if (parameter == UKEY_P_UP) {
            logprintf("UC: got prog UP key\n");
        } else if (parameter == UKEY_P_DOWN) {
            logprintf("UC: got prog DOWN key\n");
        } else if (parameter == UKEY_P_IMAGECAPTURE) {
            logprintf("UC: got IMAGECAPTURE key\n");
        }
    } else if (kind == tEV_ACTION_BEEP) {
        for (const ProgrammableSetting& entry : programmableSettings) {
            if (parameter == entry.setting) {
                logprintf("%s", entry.text);
            }
        }
    }
}

message_s keyMessage(uint32_t key, uint32_t data) {
    return message_s{tEV_KEY | key, data};
}

bool pressTimeRecorded(const timeval& t) {
    return t.tv_sec != 0 || t.tv_usec != 0;
}

} // namespace

UserControls::UserControls() : active_preset(PRESET01), active_btn(-1) {
    if (init_user_controls("UserControls") == 0) {
        connected = 1;
    }
    link = std::make_unique<CommsClient>(COMMS_LOCAL_ADDRESS, GUI_PORT);
    comms_client = link.get();
    txmsgfifo.set_name("UserCtlTxFIFO");
    rxmsgfifo.set_name("UserCtlRxFIFO");
}

UserControls::~UserControls() {
    stop_requested.store(true);
    if (rd_thread_started) {
        pthread_join(rd_thread, nullptr);
    }
    if (comms_client == link.get()) {
        comms_client = nullptr;
    }
}

int UserControls::init_user_controls(const std::string& caller) {
    if (i2c_bus) {
        i2cdevId = i2c_bus->register_device(I2C_BUS_USER_CONTROLS, I2C_BASE_USER_CONTROLS,
                                            "init_user_controls", caller);
        // Without the control board every pass would log a failed write: the
        // configuration error below is the one report.
        if (i2cdevId >= 0 &&
            i2c_bus->write_byte(I2C_BUS_USER_CONTROLS, I2C_BASE_USER_CONTROLS, USER_CONTROLS_CONFIG_REG,
                                EXPANDER_CONFIGURATION, false) == 0) {
            errorReported.store(false);
            return 0;
        }
    }
    if (!errorReported.exchange(true)) {
        logprintferror("ERROR: configuring User Control Board for %s", caller.c_str());
    }
    return -1;
}

int UserControls::user_control_led(uint8_t colour) {
    ledColour.store(colour & LED_CODE_MASK);
    init_user_controls("user_control_led");
    if (!i2c_bus) {
        return -1;
    }
    return i2c_bus->write_byte(I2C_BUS_USER_CONTROLS, I2C_BASE_USER_CONTROLS, USER_CONTROLS_OUTPUT_REG,
                               static_cast<uint8_t>(ledColour.load() << LED_CODE_SHIFT), false);
}

// A wake-up runs the bring-up again: the threads already running are kept.
void UserControls::run_user_controls(int port) {
    init_user_controls("run_user_controls");
    if (rd_thread_started) {
        return;
    }
    kbd.run_kbd();
    const int result = pthread_create(&rd_thread, nullptr, &UserControls::receiver_thread, this);
    if (result != 0) {
        logprintferror("ERROR: Error %d from pthread_create()", result);
        exit(THREAD_FAILURE_EXIT_STATUS);
    }
    rd_thread_started = true;
}

int UserControls::pushMessage(message_s* msg) {
    return txmsgfifo.push(msg);
}

int UserControls::popMessage(message_s* msg) {
    if (rxmsgfifo.fill_level() <= 0) {
        return 0;
    }
    return rxmsgfifo.pop(msg) == 0 ? 1 : 0;
}

int UserControls::postToMain(message_s* msg) {
    return rxmsgfifo.push(msg);
}

// Under the bus lock, so that a flag never changes in the middle of the receiver's
// front-panel transfers.
template <typename Setter> void UserControls::set_flag(Setter setter) {
    if (!i2c_bus) {
        setter();
        return;
    }
    i2c_handler::BusLock lock(*i2c_bus);
    setter();
    i2c_bus->select_no_bus();
}

void UserControls::enable_controls(bool enable) {
    set_flag([&] { controls_enable.store(enable); });
    kbd.enable(enable);
}

void UserControls::disable_polling(bool disable) {
    set_flag([&] { polling_disabled.store(disable); });
}

void UserControls::ignoreKeypresses(bool ignore) {
    set_flag([&] { ignoreKeypress.store(ignore); });
}

void* UserControls::receiver_thread(void* self) {
    auto* controls = static_cast<UserControls*>(self);
    while (!controls->stop_requested.load()) {
        controls->receiver_pass();
        usleep(RECEIVER_PERIOD_US);
    }
    return nullptr;
}

void UserControls::receiver_pass() {
    keyboard_step();
    mouse_step();
    if (!polling_disabled.load()) {
        user_control_led(ledColour.load());
    }
    button_step();
    send_outgoing_message();
    receive_incoming_message();
}

void UserControls::send_to_gui(const message_s& msg) {
    CommsMessage_t out{};
    out.packet = msg;
    link->PutMessage(&out);
}

void UserControls::send_key(const message_s& msg, const char* source) {
    if (msg.command == 0 || !controls_enable.load()) {
        return;
    }
    logprintf("UC: sent msg from %s to GUI %08x:%08x\n", source, msg.command, msg.data);
    if (!ignoreKeypress.load()) {
        send_to_gui(msg);
    }
    message_s queued = msg;
    rxmsgfifo.push(&queued);
}

void UserControls::keyboard_step() {
    char c = 0;
    if (kbd.popMessage(&c) != 1) {
        return;
    }
    message_s msg{};
    const SetupMode_t mode = userControlsMode.load();
    if (c == KBD_CONNECTED || c == KBD_DISCONNECTED) {
        const bool connectedNow = c == KBD_CONNECTED;
        logprintf(connectedNow ? "UC: Keypad/Kbd Connected\n" : "UC: Keypad/Kbd Disconnected\n");
        msg = message_s{tEV_MESSAGE | (connectedNow ? MESS_KEYPAD_CONNECTED : MESS_KEYPAD_DISCONNECTED),
                        KEYPAD_MESSAGE_TIME_MS};
        send_key(msg, "Keypad/kbd");
        return;
    }
    for (const ShortPreset& p : SHORT_PRESETS) {
        if (c != p.c) {
            continue;
        }
        if (mode == NORMAL_MODE) {
            active_preset.store(p.preset);
            msg = keyMessage(p.key, 0);
        } else if (mode == SETUP_MODE_ALIGN && c != 'n') {
            userControlsModeScreen = p.preset;
        } else if (c == 'n') {
            // 'n' steps through the set-up modes: align, divergent, brightness, align.
            static constexpr SetupMode_t NEXT_MODE[] = {NORMAL_MODE, SETUP_MODE_DIVERGENT,
                                                        SETUP_MODE_BRIGHTNESS, SETUP_MODE_ALIGN};
            static constexpr int NEXT_SCREEN[] = {0, 2, 3, 0};
            userControlsModeScreen = NEXT_SCREEN[mode];
            userControlsMode.store(NEXT_MODE[mode]);
            msg = keyMessage(UKEY_ALIGN_MODE, NEXT_MODE[mode]);
        }
        send_key(msg, "Keypad/kbd");
        return;
    }
    for (const CharKeys& entry : CHAR_KEYS) {
        if (c != entry.c) {
            continue;
        }
        if (entry.key[mode] != NO_KEY) {
            const bool screenData = mode != NORMAL_MODE && !entry.zeroData[mode];
            msg = keyMessage(static_cast<uint32_t>(entry.key[mode]),
                             screenData ? static_cast<uint32_t>(userControlsModeScreen) : 0);
        }
        send_key(msg, "Keypad/kbd");
        return;
    }
    logprintf("WARNING: UC unimplemented keypad/kbd button\n");
}

void UserControls::mouse_step() {
    mouseMessage event{};
    if (mouse.popMessage(&event) != 1) {
        return;
    }
    logprintf("UC: got mouse message type %d\n", event.type);
    message_s msg{};
    if (event.type == MOUSE_EV_REL && event.code == MOUSE_REL_WHEEL && event.value != 0) {
        if (userControlsMode.load() == SETUP_MODE_DIVERGENT) {
            msg = keyMessage(event.value > 0 ? UKEY_ALIGN_LEFT : UKEY_ALIGN_RIGHT,
                             static_cast<uint32_t>(userControlsModeScreen));
        } else if (hdr_mode.load() == 1) {
            msg = keyMessage(event.value > 0 ? UKEY_HDR_EXPOSURE_DOWN : UKEY_HDR_EXPOSURE_UP,
                             static_cast<uint32_t>(event.value));
        }
    } else if (event.type == MOUSE_EV_KEY) {
        logprintf("UC: it's an EV_KEY message with code %d\n", event.code);
        switch (event.code) {
        case MOUSE_HDR_TOGGLE:
            if (event.value == 1) {
                msg = keyMessage(UKEY_HDR_MODE_TOGGLE, 0);
            }
            break;
        case MOUSE_HDR_RATIO_UP:
            msg = keyMessage(UKEY_HDR_RATIO_UP, 0);
            break;
        case MOUSE_HDR_RATIO_DOWN:
            msg = keyMessage(UKEY_HDR_RATIO_DOWN, 0);
            break;
        case MOUSE_LEFT:
            msg = keyMessage(UKEY_P_IMAGECAPTURE, 0);
            break;
        case MOUSE_MIDDLE:
            msg = keyMessage(UKEY_P1, 0);
            break;
        case MOUSE_RIGHT:
            msg = keyMessage(UKEY_P2, 0);
            break;
        default:
            break;
        }
    }
    send_key(msg, "Mouse");
}

message_s UserControls::button_key(int button) const {
    if (button < BTN1 || button >= BTN6) {
        return message_s{};
    }
    return keyMessage(BUTTON_KEYS[button], 0);
}

void UserControls::button_step() {
    if (polling_disabled.load()) {
        logprintf("UC: polling is disabled\n");
        for (useconds_t slept = 0; slept < POLLING_DISABLED_PAUSE_US && !stop_requested.load();
             slept += PAUSE_STEP_US) {
            usleep(PAUSE_STEP_US);
        }
        return;
    }
    try {
        uint8_t input = 0;
        if (!i2c_bus || i2c_bus->read_byte(I2C_BUS_USER_CONTROLS, I2C_BASE_USER_CONTROLS,
                                           USER_CONTROLS_INPUT_REG, &input) != 0) {
            return;
        }
        const timeval time = now();
        timeval powerPress{};
        if (pressTimeRecorded(button_press_time[BTN6])) {
            powerPress = time_since(time, button_press_time[BTN6]);
            logprintf("Power Press Time %ld.%06ld\n", static_cast<long>(powerPress.tv_sec),
                      static_cast<long>(powerPress.tv_usec));
        }
        const auto buttons = static_cast<uint8_t>(~input & BUTTON_BITS);
        if (waitForAllButtonsReleased) {
            if (buttons == 0) {
                if (buttonsReleasedCount > 0) {
                    logprintf("Buttons released count = %d\n", buttonsReleasedCount);
                    --buttonsReleasedCount;
                } else {
                    waitForAllButtonsReleased = false;
                }
            }
            return;
        }
        if (buttons == (lastButtons & BUTTON_BITS)) {
            buttons_unchanged(time, powerPress);
        } else {
            buttons_changed(buttons, time);
        }
    } catch (const std::exception&) {
        logprintf("UC: Exception\n");
    }
}

void UserControls::buttons_unchanged(const timeval& time, const timeval& powerPress) {
    if ((lastButtons & BUTTON6) && time_later(powerPress, POWER_OFF_PRESS_TIME)) {
        message_s off{tEV_POWER_OFF, 0};
        rxmsgfifo.push(&off);
        button_press_time[BTN6] = timeval{};
        ++presslen;
        return;
    }
    ++presslen;
    if (active_btn >= BTN1 && active_btn < BTN6 && time_later(time, next_button_repeat_time)) {
        const message_s msg = button_key(active_btn);
        next_button_repeat_time = time_plus(time, BUTTON_REPEAT_TIME);
        // Repeats go to the GUI only, even while key presses are kept from it.
        if (controls_enable.load()) {
            logprintf("UC: sent msg from Repeat to GUI %08x:%08x\n", msg.command, msg.data);
            send_to_gui(msg);
        }
    }
}

void UserControls::lock_out() {
    waitForAllButtonsReleased = true;
    buttonsReleasedCount = BUTTONS_RELEASED_POLLS;
}

void UserControls::buttons_changed(uint8_t buttons, const timeval& time) {
    int candidate = -1;
    for (int b = BTN1; b < NUM_BUTTONS; ++b) {
        const uint8_t mask = BUTTON_MASK[b];
        const bool before = lastButtons & mask;
        const bool nowHeld = buttons & mask;
        if (before && nowHeld && b != BTN6) {
            // The button held longest is the one that repeats.
            if (candidate < 0 || (pressTimeRecorded(button_press_time[b]) &&
                                  time_later(button_press_time[candidate], button_press_time[b]))) {
                candidate = b;
            }
        } else if (!before && nowHeld) {
            button_pressed[b] = true;
            button_press_time[b] = time;
            if (active_btn < 0 && b != BTN6) {
                candidate = b;
            }
        } else if (before && !nowHeld) {
            button_pressed[b] = false;
            button_press_time[b] = timeval{};
        }
    }
    active_btn = candidate;
    if (candidate >= 0) {
        logprintf("UC: Active Btn %d, time %ld.%06ld\n", candidate,
                  static_cast<long>(button_press_time[candidate].tv_sec),
                  static_cast<long>(button_press_time[candidate].tv_usec));
    }

    if ((lastButtons & BUTTON6) && !(buttons & BUTTON6)) {
        power_released();
    } else if ((lastButtons & BUTTON1) && buttons == ALIGNMENT_ENTRY) {
        logprintf("UC: Change into Alignment Mode\n");
        userControlsMode.store(SETUP_MODE_ALIGN);
        userControlsModeScreen = 0;
        message_s align = keyMessage(UKEY_ALIGN_MODE, SETUP_MODE_ALIGN);
        rxmsgfifo.push(&align);
        lock_out();
    } else if (userControlsMode.load() == NORMAL_MODE) {
        const message_s msg = button_key(active_btn);
        next_button_repeat_time = time_plus(time, BUTTON_REPEAT_DELAY_TIME);
        send_key(msg, "Buttons");
    } else if (active_btn == BTN1) {
        logprintf("UC: Change into Normal Mode\n");
        userControlsMode.store(NORMAL_MODE);
        message_s normal = keyMessage(UKEY_ALIGN_MODE, NORMAL_MODE);
        rxmsgfifo.push(&normal);
        lock_out();
    }
    lastButtons = buttons;
    presslen = 0;
}

void UserControls::power_released() {
    logprintf("UC: Pwr Buttons - buttons = %02x\n", lastButtons);
    uint32_t command = 0;
    if (lastButtons == POWER_ALONE && presslen < POWER_ON_MAX_POLLS) {
        command = tEV_POWER_ON;
    } else if (lastButtons == POWER_SYSTEM_UPDATE) {
        command = tEV_SYSUPDATE;
    } else if (lastButtons == POWER_SAVE_LOG) {
        command = tEV_SAVELOG;
    }
    if (command != 0) {
        message_s msg{command, 0};
        rxmsgfifo.push(&msg);
    }
    lock_out();
}

void UserControls::send_outgoing_message() {
    if (txmsgfifo.fill_level() <= 0) {
        return;
    }
    message_s msg{};
    if (txmsgfifo.pop(&msg) != 0) {
        return;
    }
    // Zoom values go out up to ten times a second and are never logged.
    if (msg.command != tEV_ZOOMVAL) {
        logprintf("UC: Sent Message from MAIN to GUI %08x:%08x\n", msg.command, msg.data);
    }
    send_to_gui(msg);
}

void UserControls::receive_incoming_message() {
    CommsMessage_t in{};
    if (link->GetMessage(&in) != 1) {
        return;
    }
    logprintf("UC: got message %08x:%08x\n", in.packet.command, in.packet.data);
    logIncoming(in.packet);
    rxmsgfifo.push(&in.packet);
    sched_yield();
}
