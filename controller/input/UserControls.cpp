// The front-panel controls object and its receiver thread. Steps that need the control
// board's I2C expander or the USB input readers are marked "[i2c]" and "[input]" with what
// their owners add there.
#include "controller/input/UserControls.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>

#include "common/SettingsIndex.h"
#include "common/logfile.h"

std::unique_ptr<UserControls> user_controls;
CommsClient* comms_client = nullptr;

namespace {

constexpr useconds_t RECEIVER_PERIOD_US = 10000;
constexpr int THREAD_FAILURE_EXIT_STATUS = -1;
constexpr uint8_t LED_CODE_MASK = 0x03;

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

} // namespace

UserControls::UserControls() : active_preset(PRESET01), active_btn(-1) {
    // [input] the keyboard reader `kbd` and the mouse reader `mouse` (which starts its
    //         own thread at once) are constructed here.
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
    // [i2c] with an I2C handler: register the expander (bus 7, address 0x20, name
    //       "init_user_controls") into i2cdevId and, when registered, write 0x3F to its
    //       configuration register 3 (bits 0..5 button inputs, 6..7 LED outputs); on
    //       success clear errorReported and return 0.
    if (!errorReported.exchange(true)) {
        logprintferror("ERROR: configuring User Control Board for %s", caller.c_str());
    }
    return -1;
}

int UserControls::user_control_led(uint8_t colour) {
    ledColour.store(colour & LED_CODE_MASK);
    const int result = init_user_controls("user_control_led");
    // [i2c] write ledColour * 64 to the expander's output register 1 and return its result.
    return result;
}

void UserControls::run_user_controls(int port) {
    init_user_controls("run_user_controls");
    // [input] kbd.run_kbd();
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

// [i2c] Each setter takes the I2C bus lock (lock_bus), sets its flag, calls select_no_bus
//       and releases the lock, so that it never lands in the middle of a button poll.
void UserControls::enable_controls(bool enable) {
    controls_enable.store(enable);
    // [input] kbd.enable(enable) (the keyboard's CapsLock LED).
}

void UserControls::disable_polling(bool disable) {
    polling_disabled.store(disable);
}

void UserControls::ignoreKeypresses(bool ignore) {
    ignoreKeypress.store(ignore);
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
    // [input] 1. a character from the keyboard reader becomes a key message (sent to the
    //            GUI unless ignoreKeypress, and queued for the main loop, while
    //            controls_enable).
    // [input] 2. a mouse event becomes a key message, sent the same way.
    // [i2c]   3. unless polling_disabled, refresh the LED: user_control_led(ledColour).
    // [i2c]   4. poll the six front-panel buttons (auto-repeat, combinations, power
    //            button); while polling_disabled log "UC: polling is disabled\n" and
    //            sleep 1 s instead.
    send_outgoing_message();
    receive_incoming_message();
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
    CommsMessage_t out{};
    out.packet = msg;
    link->PutMessage(&out);
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
