#include "controller/input/Kbd.h"

#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/logfile.h"
#include "platform/platform.h"

namespace {

constexpr const char* KBD_FOLDER = "/dev/input/by-path";
constexpr const char* KBD_PATTERN = "/dev/input/by-path/*-event-kbd";
constexpr const char* INPUT_CLASS_PATTERN = "/sys/class/input/input*";
constexpr int EVENT_BITS_BYTES = 31;
constexpr int KEY_EVENT_BIT = 1;
constexpr int THREAD_FAILURE_EXIT_STATUS = -1;
// Between slots, and per pass while no keyboard is open.
constexpr useconds_t SLOT_WAIT_US = 1000;
constexpr useconds_t IDLE_PASS_US = 10000;
constexpr int IDLE_WAIT_MS = 200;
const timeval LONG_PRESS_TIME = {1, 500000};

constexpr int32_t KEY_RELEASED = 0;
constexpr int32_t KEY_PRESSED = 1;
constexpr int32_t KEY_REPEATED = 2;

// Keys that give their character on press and on every auto-repeat.
struct ImmediateKey {
    uint16_t code;
    char c;
};
constexpr ImmediateKey IMMEDIATE_KEYS[] = {
    {KEY_R, 'r'}, {KEY_T, 't'}, {KEY_Y, 'y'}, {KEY_I, 'i'}, {KEY_S, 's'}, {KEY_F, 'f'}, {KEY_G, 'g'},
    {KEY_H, 'h'}, {KEY_J, 'j'}, {KEY_K, 'k'}, {KEY_L, 'l'}, {KEY_X, 'x'}, {KEY_M, 'm'},
};

// The preset keys: short on release, long once held for more than 1.5 s.
struct PresetKey {
    uint16_t code;
    char shortPress;
    char longPress;
};
constexpr PresetKey PRESET_KEYS[] = {{KEY_V, 'v', 'V'}, {KEY_B, 'b', 'B'}, {KEY_N, 'n', 'N'}};

const PresetKey* presetKey(uint16_t code) {
    for (const PresetKey& key : PRESET_KEYS) {
        if (key.code == code) {
            return &key;
        }
    }
    return nullptr;
}

char immediateChar(uint16_t code) {
    for (const ImmediateKey& key : IMMEDIATE_KEYS) {
        if (key.code == code) {
            return key.c;
        }
    }
    return 0;
}

// Matches of a pattern in the system root, sorted.
std::vector<std::string> globPaths(const std::string& pattern) {
    std::vector<std::string> paths;
    glob_t found{};
    if (glob(pattern.c_str(), 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            paths.emplace_back(found.gl_pathv[i]);
        }
    }
    globfree(&found);
    return paths;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

} // namespace

Kbd::Kbd() {
    std::fill(std::begin(pfds), std::end(pfds), -1);
    rxmsgfifo.set_name("KbdRXFIFO");
    logprintf("KBD: Constructor complete\n");
}

Kbd::~Kbd() {
    logprintf("KBD: Destructor\n");
    stop_requested.store(true);
    if (rd_thread.joinable()) {
        rd_thread.join();
    }
    for (int slot = 0; slot < MAX_KBDS; ++slot) {
        if (pfds[slot] >= 0) {
            ::close(pfds[slot]);
            pfds[slot] = -1;
        }
    }
}

int Kbd::run_kbd() {
    if (rd_thread.joinable()) {
        return 0;
    }
    try {
        rd_thread = std::thread(&Kbd::reader_thread, this);
    } catch (const std::system_error& e) {
        logprintferror("KBD: ERROR: Error %d from pthread_create()", e.code().value());
        exit(THREAD_FAILURE_EXIT_STATUS);
    }
    return 0;
}

int Kbd::popMessage(char* c) {
    if (rxmsgfifo.fill_level() <= 0) {
        return 0;
    }
    return rxmsgfifo.pop(c) == 0 ? 1 : 0;
}

void Kbd::post(char* c) {
    if (enabled.load()) {
        rxmsgfifo.push(c);
    }
}

void Kbd::enable(bool flag) {
    CapsLockLED(flag ? 1 : 0);
    enabled.store(flag);
}

void Kbd::CapsLockLED(int on) {
    const std::vector<std::string> entries = globPaths(platform::sysPath(INPUT_CLASS_PATTERN));
    if (entries.empty()) {
        logprintf("KBD: No input device found\n");
        return;
    }
    for (const std::string& entry : entries) {
        logprintf("KBD: found device %s\n", entry.c_str());
        const std::string last = entry.substr(entry.find_last_of('/') + 1);
        const std::string led = entry + "/" + last + "::capslock/brightness";
        logprintf("KBD: looking for %s\n", led.c_str());
        if (fileExists(led)) {
            logprintf("KBD: file exists\n");
            platform::shell(std::string(on ? "echo 1 | sudo tee " : "echo 0 | sudo tee ") +
                            platform::shellQuote(led));
        }
    }
}

void Kbd::reader_thread() {
    while (!stop_requested.load()) {
        // With no keyboard open nothing needs reading: the thread sleeps until the device
        // folder changes (or a little while, so that a stop is seen).
        if (scan_pass() == 0 && !(devices && !slot_freed && devices->waitForChange(IDLE_WAIT_MS))) {
            usleep(IDLE_PASS_US);
        }
    }
}

int Kbd::scan_pass() {
    discover();
    int open = 0;
    for (int slot = 0; slot < MAX_KBDS && !stop_requested.load(); ++slot) {
        if (kbd_name[slot].empty()) {
            continue;
        }
        if (pfds[slot] < 0) {
            open_slot(slot);
        } else {
            read_slot(slot);
        }
        if (pfds[slot] >= 0) {
            ++open;
            usleep(SLOT_WAIT_US);
            sched_yield();
        }
    }
    return open;
}

// Every match is looked at, so a keyboard plugged in beside a known one is found too; a
// refused device gives its slot back once it is gone.
void Kbd::discover() {
    if (!devices) {
        devices = std::make_unique<DirectoryWatch>(platform::sysPath(KBD_FOLDER));
    }
    if (!devices->changed() && !slot_freed) {
        return;
    }
    slot_freed = false;
    const std::vector<std::string> found = globPaths(platform::sysPath(KBD_PATTERN));
    for (int slot = 0; slot < MAX_KBDS; ++slot) {
        if (refused[slot] && std::find(found.begin(), found.end(), kbd_name[slot]) == found.end()) {
            refused[slot] = false;
            kbd_name[slot].clear();
        }
    }
    for (const std::string& path : found) {
        if (std::find(std::begin(kbd_name), std::end(kbd_name), path) != std::end(kbd_name)) {
            continue;
        }
        for (std::string& name : kbd_name) {
            if (name.empty()) {
                name = path;
                break;
            }
        }
    }
}

void Kbd::open_slot(int slot) {
    if (refused[slot]) {
        return;
    }
    const int fd = ::open(kbd_name[slot].c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        kbd_name[slot].clear();
        slot_freed = true;
        return;
    }
    logprintf("KBD: NOTE: USB Kbd[%d] Connected\n", slot);
    uint8_t bits[EVENT_BITS_BYTES] = {};
    if (platform::inputEventBits(fd, bits, sizeof bits) < 0) {
        logprintferror("KBD: ERROR: ioctl error");
        ::close(fd);
        refused[slot] = true;
        return;
    }
    pfds[slot] = fd;
    uint32_t types = 0;
    for (int i = 0; i < 4; ++i) {
        types |= static_cast<uint32_t>(bits[i]) << (8 * i);
    }
    logprintf("KBD: Event %08x\n", types);
    logprintf("KBD: Has Buttons Event - %d\n", (types >> KEY_EVENT_BIT) & 1);
    char connected = KBD_CONNECTED;
    post(&connected);
    CapsLockLED(enabled.load() ? 1 : 0);
    kbd_pressed[slot] = 0;
}

void Kbd::close_slot(int slot) {
    if (pfds[slot] >= 0) {
        ::close(pfds[slot]);
        pfds[slot] = -1;
    }
    kbd_pressed[slot] = 0;
}

void Kbd::read_slot(int slot) {
    uint8_t buffer[INPUT_READ_BYTES];
    const ssize_t length = platform::inputRead(pfds[slot], buffer, sizeof buffer);
    if (length < 0) {
        if (errno == EAGAIN) {
            return;
        }
        logprintferror("KBD: ERROR: Errno %d\n", errno);
        close_slot(slot);
        const int fd = ::open(kbd_name[slot].c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            logprintf("KBD: USB Kbd Disconnected\n");
            char disconnected = KBD_DISCONNECTED;
            post(&disconnected);
            kbd_name[slot].clear();
            slot_freed = true;
            return;
        }
        pfds[slot] = fd;
        return;
    }
    handle_read(slot, buffer, static_cast<size_t>(length));
}

void Kbd::handle_read(int slot, const uint8_t* data, size_t length) {
    if (slot < 0 || slot >= MAX_KBDS) {
        return;
    }
    std::vector<input_event> events;
    if (!split_input_events(data, length, events)) {
        logprintf("KBD: Received incomplete frame\n");
        return;
    }
    for (const input_event& ev : events) {
        logprintf("KBD: ev=%d code=%d value=%d time=%ld:%ld\n", ev.type, ev.code, ev.value,
                  static_cast<long>(ev.input_event_sec), static_cast<long>(ev.input_event_usec));
        handle_event(slot, ev);
    }
}

// The first key pressed on a keyboard is its held key until that key itself is released:
// other keys pressed meanwhile repeat the held key's character.
void Kbd::handle_event(int slot, const input_event& ev) {
    uint16_t& held = kbd_pressed[slot];
    if (ev.type == EV_KEY && ev.value == KEY_RELEASED && held != 0 && ev.code == held) {
        kbd_release_at[slot] = now();
        if (const PresetKey* key = presetKey(held)) {
            char c = key->shortPress;
            post(&c);
        }
        held = 0;
        return;
    }
    if (ev.type == EV_KEY && (ev.value == KEY_PRESSED || (ev.value == KEY_REPEATED && held != 0))) {
        if (held == 0) {
            kbd_press_at[slot] = now();
            held = ev.code;
        }
        if (char c = immediateChar(held)) {
            post(&c);
        }
        return;
    }
    if (held != 0 && time_later(time_since(now(), kbd_press_at[slot]), LONG_PRESS_TIME)) {
        if (const PresetKey* key = presetKey(held)) {
            char c = key->longPress;
            post(&c);
            held = 0;
        }
    }
}
