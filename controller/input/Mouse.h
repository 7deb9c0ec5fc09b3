// Reader of the USB mouse: its thread finds the mouse by id, reads its events and hands
// buttons and wheel turns to the front panel's receiver thread. An unplugged mouse is
// looked for again once a second.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "controller/input/InputEvents.h"
#include "controller/link/msgfifo.h"

class Mouse {
public:
    // Starts the reader thread at once; a thread that cannot be created ends the process.
    Mouse();
    // Without the reader thread: events come only through handle_read (fuzzing).
    struct WithoutReader {};
    explicit Mouse(WithoutReader) {}
    ~Mouse();
    Mouse(const Mouse&) = delete;
    Mouse& operator=(const Mouse&) = delete;

    // Looks for the mouse; always 1 (an absent mouse is looked for again on the next pass).
    int find_mouse();
    // 1 with the oldest event, 0 when there is none.
    int popMessage(mouseMessage* msg);
    void post(mouseMessage* msg);

    // Handles the bytes of one read from the mouse.
    void handle_read(const uint8_t* data, size_t length);
    bool is_open() const { return fd.load() >= 0; }

private:
    void reader_thread();
    bool same_node(const struct stat& node) const;
    bool connect();
    void read_events();
    void close_device();
    // Sleeps up to `us`, waking early when the object is being destroyed.
    void pause(useconds_t us);

    std::thread rd_thread;
    std::atomic<bool> stop_requested{false};
    // A pause between looks for a mouse ends early when the reader is stopped.
    std::mutex pause_lock;
    std::condition_variable pause_wake;
    std::string mouse_event_filename;
    std::string refused_path;
    ino_t refused_node = 0;
    timespec refused_node_changed{};
    MouseFifo rxmsgfifo;
    std::atomic<int> fd{-1};
    std::atomic<bool> enabled{true};
};
