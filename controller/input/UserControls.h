// Everything the operator touches, and the one place where messages cross between the
// controller and the GUI. The receiver thread runs every 10 ms: it turns keyboard, mouse
// and front-panel input into key messages (for the GUI and the main loop), sends one
// message the main loop queued, and receives at most one message from the GUI for the
// main loop. The main loop talks to it only through the two message FIFOs and the flag
// setters.
#pragma once

#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/messages.h"
#include "controller/core/devices.h"
#include "controller/input/InputEvents.h"
#include "controller/input/Kbd.h"
#include "controller/input/Mouse.h"
#include "controller/link/CommsClient.h"
#include "controller/link/msgfifo.h"

enum PRESET_T { PRESET01 = 0, PRESET02 = 1, PRESET03 = 2 };

// Front-panel buttons: index and input bit (active low on the expander).
enum { BTN1 = 0, BTN2, BTN3, BTN4, BTN5, BTN6, NUM_BUTTONS };
constexpr uint8_t BUTTON1 = 0x20, BUTTON2 = 0x10, BUTTON3 = 0x08, BUTTON4 = 0x04, BUTTON5 = 0x02,
                  BUTTON6 = 0x01;
constexpr uint8_t BUTTON_MASK[NUM_BUTTONS] = {BUTTON1, BUTTON2, BUTTON3, BUTTON4, BUTTON5, BUTTON6};

// The control board's port expander.
constexpr uint8_t I2C_BASE_USER_CONTROLS = 0x20;
constexpr uint8_t USER_CONTROLS_INPUT_REG = 0;
constexpr uint8_t USER_CONTROLS_OUTPUT_REG = 1;
constexpr uint8_t USER_CONTROLS_CONFIG_REG = 3;

class UserControls {
public:
    // Creates the FIFOs, the keyboard and mouse readers and the GUI link (127.0.0.1,
    // GUI_PORT) and probes the control board.
    UserControls();
    // Stops and joins the receiver thread, then closes the link.
    ~UserControls();
    UserControls(const UserControls&) = delete;
    UserControls& operator=(const UserControls&) = delete;

    // Registers and configures the control board's port expander. 0 on success; -1 (the
    // error logged once until the next success) without it.
    int init_user_controls(const std::string& caller);
    // Sets the front-panel LED code (0..3).
    int user_control_led(uint8_t colour);
    // Starts the keyboard reader and the receiver thread; a thread that cannot be
    // created ends the process.
    void run_user_controls(int port);

    // Queues a message for the GUI: 0, or the FIFO's result when it was not queued.
    int pushMessage(message_s* msg);
    // 1 with the oldest message for the main loop, 0 when there is none.
    int popMessage(message_s* msg);
    // Queues a message for the main loop (user input, power button, mode changes): 0,
    // or the FIFO's result when it was not queued.
    int postToMain(message_s* msg);

    int isConnected() const { return connected; }

    // The flag setters never land in the middle of a front-panel poll.
    void enable_controls(bool enable);
    void disable_polling(bool disable);
    void ignoreKeypresses(bool ignore);

    bool controlsEnabled() const { return controls_enable.load(); }
    bool pollingDisabled() const { return polling_disabled.load(); }
    bool keypressesIgnored() const { return ignoreKeypress.load(); }
    uint8_t ledColourCode() const { return ledColour.load(); }
    SetupMode_t mode() const { return userControlsMode.load(); }
    PRESET_T activePreset() const { return active_preset.load(); }

    // One pass of the receiver thread. Tests drive passes themselves, with their own
    // clock, instead of starting the thread.
    void receiver_pass();
    void set_clock(InputClock clock) { now = std::move(clock); }
    Kbd& keyboard() { return kbd; }
    Mouse& mouse_reader() { return mouse; }

private:
    static void* receiver_thread(void* self);
    void keyboard_step();
    void mouse_step();
    void button_step();
    void buttons_changed(uint8_t buttons, const timeval& time);
    void buttons_unchanged(const timeval& time, const timeval& powerPress);
    void power_released();
    void lock_out();
    void send_outgoing_message();
    void receive_incoming_message();
    // Sends a key message to the GUI (unless ignoreKeypress) and queues it for the main
    // loop, while controls_enable is set.
    void send_key(const message_s& msg, const char* source);
    void send_to_gui(const message_s& msg);
    message_s button_key(int button) const;
    template <typename Setter> void set_flag(Setter setter);

    std::atomic<PRESET_T> active_preset;
    pthread_t rd_thread{};
    bool rd_thread_started = false;
    std::atomic<bool> stop_requested{false};
    bool button_pressed[NUM_BUTTONS] = {};
    timeval button_press_time[NUM_BUTTONS] = {};
    timeval next_button_repeat_time = {};
    int active_btn;
    std::atomic<uint8_t> ledColour{0};
    int connected = 0;
    std::atomic<bool> controls_enable{false};
    std::atomic<bool> polling_disabled{false};
    std::atomic<bool> errorReported{false};
    std::atomic<bool> ignoreKeypress{false};
    bool waitForAllButtonsReleased = false;
    int buttonsReleasedCount = 0;
    uint8_t lastButtons = 0xFF;
    int presslen = 0;
    std::atomic<int> i2cdevId{-1}; // set by the receiver thread and the main thread
    MessageFifo txmsgfifo;
    MessageFifo rxmsgfifo;
    Kbd kbd;
    Mouse mouse;
    std::atomic<SetupMode_t> userControlsMode{NORMAL_MODE};
    int userControlsModeScreen = 0;
    std::unique_ptr<CommsClient> link;
    InputClock now = monotonic_now;
};

// The GUI link client the front-panel object publishes (used by its receiver thread only).
extern CommsClient* comms_client;
