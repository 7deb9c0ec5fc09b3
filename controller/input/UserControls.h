// Everything the operator touches, and the one place where messages cross between the
// controller and the GUI. The receiver thread runs every 10 ms: it turns keyboard, mouse
// and front-panel input into key messages (for the GUI and the main loop), sends one
// message the main loop queued, and receives at most one message from the GUI for the
// main loop. The main loop talks to it only through the two message FIFOs and the flag
// setters.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "common/messages.h"
#include "controller/core/devices.h"
#include "controller/link/CommsClient.h"
#include "controller/link/msgfifo.h"

enum PRESET_T { PRESET01 = 0, PRESET02 = 1, PRESET03 = 2 };

class UserControls {
public:
    // Creates the FIFOs and the GUI link (127.0.0.1, GUI_PORT) and probes the control board.
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
    // Starts the receiver thread; a thread that cannot be created ends the process.
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

private:
    static void* receiver_thread(void* self);
    void receiver_pass();
    void send_outgoing_message();
    void receive_incoming_message();

    PRESET_T active_preset;
    pthread_t rd_thread{};
    bool rd_thread_started = false;
    std::atomic<bool> stop_requested{false};
    int active_btn;
    std::atomic<uint8_t> ledColour{0};
    int connected = 0;
    std::atomic<bool> controls_enable{false};
    std::atomic<bool> polling_disabled{false};
    std::atomic<bool> errorReported{false};
    std::atomic<bool> ignoreKeypress{false};
    bool waitForAllButtonsReleased = false;
    int i2cdevId = -1;
    MessageFifo txmsgfifo;
    MessageFifo rxmsgfifo;
    SetupMode_t userControlsMode = NORMAL_MODE;
    int userControlsModeScreen = 0;
    std::unique_ptr<CommsClient> link;
};

// The GUI link client the front-panel object publishes (used by its receiver thread only).
extern CommsClient* comms_client;
