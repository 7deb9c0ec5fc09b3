// Reader of the USB keyboards, the system's keypad among them: up to five at once, found
// by path and picked up or dropped as they are plugged in and out. Its thread turns key
// events into characters for the front panel's receiver thread: immediate keys on press
// and on each auto-repeat, the three preset keys short on release or long after 1.5 s, and
// the characters 1 and 2 when a keyboard comes or goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/DirectoryWatch.h"
#include "controller/input/InputEvents.h"
#include "controller/link/msgfifo.h"

constexpr char KBD_CONNECTED = 1;
constexpr char KBD_DISCONNECTED = 2;

class Kbd {
public:
    static constexpr int MAX_KBDS = 5;

    Kbd();
    ~Kbd();
    Kbd(const Kbd&) = delete;
    Kbd& operator=(const Kbd&) = delete;

    // Starts the reader thread; a thread that cannot be created ends the process.
    int run_kbd();
    // 1 with the oldest character, 0 when there is none.
    int popMessage(char* c);
    // Queues a character while the reader is enabled.
    void post(char* c);
    // Switches every keyboard's CapsLock LED with the flag.
    void enable(bool flag);
    void CapsLockLED(int on);

    // One pass of the reader thread: discovery, then every slot. Returns how many slots
    // are open.
    int scan_pass();
    // Handles the bytes of one read from the keyboard in `slot`.
    void handle_read(int slot, const uint8_t* data, size_t length);
    void set_clock(InputClock clock) { now = std::move(clock); }
    const std::string& name_of(int slot) const { return kbd_name[slot]; }
    bool slot_open(int slot) const { return pfds[slot] >= 0; }

private:
    void reader_thread();
    void discover();
    void open_slot(int slot);
    void read_slot(int slot);
    void close_slot(int slot);
    void handle_event(int slot, const input_event& ev);

    std::thread rd_thread;
    std::atomic<bool> stop_requested{false};
    uint16_t kbd_pressed[MAX_KBDS] = {};
    timeval kbd_press_at[MAX_KBDS] = {};
    timeval kbd_release_at[MAX_KBDS] = {};
    int pfds[MAX_KBDS];
    // The device's event-bit query failed: it is left alone until it goes away.
    bool refused[MAX_KBDS] = {};
    std::atomic<bool> enabled{true};
    KbdFifo rxmsgfifo;
    std::string kbd_name[MAX_KBDS];
    InputClock now = monotonic_now;
    // Discovery globs the device folder only when an entry came or went, or a slot was
    // given up (a keyboard left waiting for a free slot is picked up then).
    std::unique_ptr<DirectoryWatch> devices;
    bool slot_freed = false;
};
