#include "controller/input/Mouse.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "common/logfile.h"
#include "platform/platform.h"

namespace {

constexpr const char* MOUSE_PATTERN = "/dev/input/by-id/*-event-mouse";
constexpr int EVENT_BITS_BYTES = 31;
constexpr int KEY_EVENT_BIT = 1;
constexpr int THREAD_FAILURE_EXIT_STATUS = -1;
constexpr useconds_t RETRY_US = 1000000;
constexpr useconds_t READ_PERIOD_US = 10000;

} // namespace

Mouse::Mouse() {
    try {
        rd_thread = std::thread(&Mouse::reader_thread, this);
    } catch (const std::system_error& e) {
        logprintferror("MSE: ERROR: Error %d from pthread_create()", e.code().value());
        exit(THREAD_FAILURE_EXIT_STATUS);
    }
}

Mouse::~Mouse() {
    {
        std::lock_guard<std::mutex> held(pause_lock);
        stop_requested.store(true);
    }
    pause_wake.notify_all();
    if (rd_thread.joinable()) {
        rd_thread.join();
    }
    close_device();
}

int Mouse::find_mouse() {
    glob_t found{};
    if (glob(platform::sysPath(MOUSE_PATTERN).c_str(), 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
        mouse_event_filename = found.gl_pathv[0];
        logprintf("MSE: found mouse event file %s\n", mouse_event_filename.c_str());
    } else {
        mouse_event_filename.clear();
    }
    globfree(&found);
    return 1;
}

int Mouse::popMessage(mouseMessage* msg) {
    if (rxmsgfifo.fill_level() <= 0) {
        return 0;
    }
    return rxmsgfifo.pop(msg) == 0 ? 1 : 0;
}

void Mouse::post(mouseMessage* msg) {
    if (enabled.load()) {
        rxmsgfifo.push(msg);
    }
}

void Mouse::pause(useconds_t us) {
    std::unique_lock<std::mutex> held(pause_lock);
    pause_wake.wait_for(held, std::chrono::microseconds(us), [this] { return stop_requested.load(); });
}

void Mouse::reader_thread() {
    while (!stop_requested.load()) {
        if (fd.load() < 0) {
            if (!connect()) {
                pause(RETRY_US);
            }
        } else {
            read_events();
        }
    }
}

// A node made anew (the mouse plugged in again) may get the inode number of the one it
// replaces; its change time tells them apart.
bool Mouse::same_node(const struct stat& node) const {
    return node.st_ino == refused_node && node.st_ctim.tv_sec == refused_node_changed.tv_sec &&
           node.st_ctim.tv_nsec == refused_node_changed.tv_nsec;
}

// Opened without blocking, so that the thread never hangs in the kernel and the object
// can always be destroyed.
bool Mouse::connect() {
    // A mouse that could not be queried is left alone, quietly, until it has gone.
    if (!refused_path.empty()) {
        struct stat node {};
        if (stat(refused_path.c_str(), &node) == 0 && same_node(node)) {
            return false;
        }
        refused_path.clear();
    }
    find_mouse();
    if (mouse_event_filename.empty()) {
        return false;
    }
    const int device = ::open(mouse_event_filename.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
        return false;
    }
    logprintf("MSE: Mouse Connected\n");
    uint8_t bits[EVENT_BITS_BYTES] = {};
    if (platform::inputEventBits(device, bits, sizeof bits) < 0) {
        logprintferror("MSE: ERROR: ioctl error");
        ::close(device);
        struct stat node {};
        if (stat(mouse_event_filename.c_str(), &node) == 0) {
            refused_path = mouse_event_filename;
            refused_node = node.st_ino;
            refused_node_changed = node.st_ctim;
        }
        return false;
    }
    uint32_t types = 0;
    for (int i = 0; i < 4; ++i) {
        types |= static_cast<uint32_t>(bits[i]) << (8 * i);
    }
    logprintf("MSE: Event %08x\n", types);
    logprintf("MSE: Has Buttons Event - %d\n", (types >> KEY_EVENT_BIT) & 1);
    fd.store(device);
    return true;
}

void Mouse::close_device() {
    const int device = fd.exchange(-1);
    if (device >= 0) {
        ::close(device);
    }
}

void Mouse::read_events() {
    uint8_t buffer[INPUT_READ_BYTES];
    const ssize_t length = platform::inputRead(fd.load(), buffer, sizeof buffer);
    if (length < 0) {
        if (errno != EAGAIN) {
            logprintferror("MSE: ERROR: Errno %d\n", errno);
            close_device();
            return;
        }
        pause(READ_PERIOD_US);
        return;
    }
    if (length == 0) {
        pause(READ_PERIOD_US);
        return;
    }
    handle_read(buffer, static_cast<size_t>(length));
}

void Mouse::handle_read(const uint8_t* data, size_t length) {
    std::vector<input_event> events;
    if (!split_input_events(data, length, events)) {
        logprintf("MSE: Received incomplete frame\n");
        return;
    }
    logprintf("MSE: Received frame\n");
    for (const input_event& ev : events) {
        mouseMessage msg{ev.type, ev.code, ev.value};
        if (ev.type == EV_KEY) {
            logprintf("MSE: EV_KEY %u\n", ev.code);
            post(&msg);
        } else if (ev.type == EV_REL && ev.code == REL_WHEEL) {
            logprintf("MSE: WHEEL %d\n", ev.value);
            post(&msg);
        } else if (ev.type != EV_SYN) {
            logprintf("MSE: EV type = %u code = %u value = %d\n", ev.type, ev.code, ev.value);
        }
    }
}
