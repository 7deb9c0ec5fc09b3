#include "sim/chips/UsbInput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/board/Json.h"

namespace sim {

namespace {

namespace fs = std::filesystem;

constexpr const char* kInputDir = "/dev/input";
constexpr const char* kSysInputDir = "/sys/class/input";
constexpr const char* kUsbPathPrefix = "platform-xhci-hcd.0-usb-0:";
// The kernel's key auto-repeat: first repeat after 250 ms, then every 33 ms.
constexpr int kRepeatDelayMs = 250;
constexpr int kRepeatPeriodMs = 33;
// Event types the devices report (bit n = type n).
constexpr uint8_t kKeyboardTypes[] = {0x13, 0x00, 0x12}; // SYN, KEY, MSC; LED, REP
constexpr uint8_t kMouseTypes[] = {0x17};                // SYN, KEY, REL, MSC
constexpr uint8_t kGarbageByte = 0xA5;

const char* kHelp = "keypad plug|unplug                    the system's USB keypad\n"
                    "keyboard plug|unplug N                USB keyboard N (1..8)\n"
                    "key NAME [--hold MS] [--on DEVICE]    types a key (KEY_V, V, ENTER, ...) on the keypad\n"
                    "                                      or the first keyboard; held up to 4000 ms\n"
                    "key NAME --event press|repeat|release [--on DEVICE]\n"
                    "                                      one event of the key, as a held key gives them\n"
                    "mouse plug|unplug                     the USB mouse\n"
                    "mouse left|middle|right|code N        clicks a mouse button (press and release)\n"
                    "mouse wheel N                         turns the wheel by N steps\n"
                    "input fail-bits DEVICE on|off         the event-bit query of DEVICE fails\n"
                    "input garbage DEVICE N                writes N stray bytes (a partial record)\n";

struct KeyName {
    const char* name;
    uint16_t code;
};
constexpr KeyName kKeyNames[] = {
    {"ESC", KEY_ESC}, {"1", KEY_1},         {"2", KEY_2},         {"3", KEY_3},
    {"4", KEY_4},     {"5", KEY_5},         {"6", KEY_6},         {"7", KEY_7},
    {"8", KEY_8},     {"9", KEY_9},         {"0", KEY_0},         {"Q", KEY_Q},
    {"W", KEY_W},     {"E", KEY_E},         {"R", KEY_R},         {"T", KEY_T},
    {"Y", KEY_Y},     {"U", KEY_U},         {"I", KEY_I},         {"O", KEY_O},
    {"P", KEY_P},     {"ENTER", KEY_ENTER}, {"A", KEY_A},         {"S", KEY_S},
    {"D", KEY_D},     {"F", KEY_F},         {"G", KEY_G},         {"H", KEY_H},
    {"J", KEY_J},     {"K", KEY_K},         {"L", KEY_L},         {"Z", KEY_Z},
    {"X", KEY_X},     {"C", KEY_C},         {"V", KEY_V},         {"B", KEY_B},
    {"N", KEY_N},     {"M", KEY_M},         {"SPACE", KEY_SPACE}, {"CAPSLOCK", KEY_CAPSLOCK},
    {"UP", KEY_UP},   {"LEFT", KEY_LEFT},   {"RIGHT", KEY_RIGHT}, {"DOWN", KEY_DOWN},
};

struct MouseButton {
    const char* name;
    uint16_t code;
};
constexpr MouseButton kMouseButtons[] = {{"left", BTN_LEFT}, {"right", BTN_RIGHT}, {"middle", BTN_MIDDLE}};

// The kernel's values of a key event.
constexpr const char* kKeyEvents[] = {"release", "press", "repeat"};

int keyEventNamed(const std::string& name) {
    for (int value = 0; value < int(std::size(kKeyEvents)); ++value) {
        if (name == kKeyEvents[value]) {
            return value;
        }
    }
    return -1;
}

input_event record(uint16_t type, uint16_t code, int32_t value) {
    input_event ev{};
    timeval now{};
    gettimeofday(&now, nullptr);
    ev.input_event_sec = now.tv_sec;
    ev.input_event_usec = now.tv_usec;
    ev.type = type;
    ev.code = code;
    ev.value = value;
    return ev;
}

bool validSlot(int slot) {
    return slot >= 0 && slot < UsbInput::kSlots;
}

bool isKeyboard(int slot) {
    return slot >= UsbInput::kKeypad && slot <= UsbInput::kKeyboards;
}

bool parseInt(const std::string& text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && errno == 0 && value >= low && value <= high;
}

CommandResult usage() {
    return {false, std::string("usage:\n") + kHelp};
}

} // namespace

UsbInput::UsbInput(Board& board) : board_(board), state_(board.volatilePath("usb-input.state")) {}

std::string UsbInput::slotName(int slot) {
    if (slot == kKeypad) {
        return "keypad";
    }
    if (slot == kMouse) {
        return "mouse";
    }
    return "keyboard" + std::to_string(slot);
}

int UsbInput::slotNamed(const std::string& name) {
    for (int slot = 0; slot < kSlots; ++slot) {
        if (name == slotName(slot)) {
            return slot;
        }
    }
    return -1;
}

int UsbInput::keyCodeNamed(const std::string& name) {
    std::string upper = name.rfind("KEY_", 0) == 0 ? name.substr(4) : name;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return toupper(c); });
    for (const KeyName& k : kKeyNames) {
        if (upper == k.name) {
            return k.code;
        }
    }
    return -1;
}

std::string UsbInput::nodePath(int slot) const {
    return board_.path(std::string(kInputDir) + "/event" + std::to_string(slot));
}

// The keypad sits on port 1.1, keyboard N on port 1.(N+1), so they sort in that order;
// the mouse on port 2.1.
std::string UsbInput::byPathLink(int slot) const {
    const std::string port = slot == kMouse ? "2.1" : "1." + std::to_string(slot + 1);
    const std::string kind = slot == kMouse ? "-event-mouse" : "-event-kbd";
    return board_.path(std::string(kInputDir) + "/by-path/" + kUsbPathPrefix + port + ":1.0" + kind);
}

std::string UsbInput::byIdLink(int slot) const {
    std::string id;
    if (slot == kKeypad) {
        id = "usb-Marovec_keypad-event-kbd";
    } else if (slot == kMouse) {
        id = "usb-Ostrix_Sim_Mouse-event-mouse";
    } else {
        id = "usb-Ostrix_Sim_Keyboard_" + std::to_string(slot) + "-event-kbd";
    }
    return board_.path(std::string(kInputDir) + "/by-id/" + id);
}

std::string UsbInput::ledPath(int slot) const {
    const std::string entry = "input" + std::to_string(slot);
    return board_.path(std::string(kSysInputDir) + "/" + entry + "/" + entry + "::capslock/brightness");
}

bool UsbInput::plugged(int slot) const {
    struct stat st {};
    return validSlot(slot) && ::stat(nodePath(slot).c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool UsbInput::plug(int slot) {
    if (!validSlot(slot)) {
        return false;
    }
    if (plugged(slot)) {
        return true;
    }
    std::error_code ec;
    const std::string node = nodePath(slot);
    fs::remove(node, ec);
    if (mkfifo(node.c_str(), 0660) != 0) {
        return false;
    }
    const std::string target = "../event" + std::to_string(slot);
    for (const std::string& link : {byPathLink(slot), byIdLink(slot)}) {
        fs::create_directories(fs::path(link).parent_path(), ec);
        fs::remove(link, ec);
        fs::create_symlink(target, link, ec);
    }
    if (isKeyboard(slot)) {
        fs::create_directories(fs::path(ledPath(slot)).parent_path(), ec);
        std::ofstream(ledPath(slot)) << "0\n";
    }
    board_.trace().note(TraceKind::Note, -1, slotName(slot) + " plugged in");
    return true;
}

bool UsbInput::unplug(int slot) {
    if (!validSlot(slot) || !plugged(slot)) {
        return false;
    }
    std::error_code ec;
    fs::remove(byPathLink(slot), ec);
    fs::remove(byIdLink(slot), ec);
    fs::remove(nodePath(slot), ec);
    fs::remove_all(board_.path(std::string(kSysInputDir) + "/input" + std::to_string(slot)), ec);
    board_.trace().note(TraceKind::Note, -1, slotName(slot) + " unplugged");
    return true;
}

bool UsbInput::sendRaw(int slot, const std::vector<uint8_t>& bytes) {
    if (!plugged(slot)) {
        return false;
    }
    // Without a reader the open fails (ENXIO): the events are lost, as on a device that
    // nobody has open.
    const int fd = ::open(nodePath(slot).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ::close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

bool UsbInput::send(int slot, const std::vector<input_event>& events) {
    std::vector<uint8_t> bytes(events.size() * sizeof(input_event));
    if (!events.empty()) {
        memcpy(bytes.data(), events.data(), bytes.size());
    }
    return sendRaw(slot, bytes);
}

bool UsbInput::key(int slot, uint16_t code, int32_t value) {
    return send(slot,
                {record(EV_MSC, MSC_SCAN, code), record(EV_KEY, code, value), record(EV_SYN, SYN_REPORT, 0)});
}

bool UsbInput::type(int slot, uint16_t code, int holdMs) {
    using Clock = std::chrono::steady_clock;
    holdMs = std::clamp(holdMs, 0, kMaxHoldMs);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::milliseconds(holdMs);
    if (!key(slot, code, 1)) {
        return false;
    }
    Clock::time_point next = start + std::chrono::milliseconds(kRepeatDelayMs);
    while (next < end) {
        std::this_thread::sleep_until(next);
        key(slot, code, 2);
        next += std::chrono::milliseconds(kRepeatPeriodMs);
    }
    std::this_thread::sleep_until(end);
    return key(slot, code, 0);
}

void UsbInput::failEventBits(int slot, bool fail) {
    if (validSlot(slot)) {
        auto held = state_.lock();
        state_->bitsFail[slot] = fail ? 1 : 0;
    }
}

int UsbInput::capsLock(int slot) const {
    std::ifstream in(ledPath(slot));
    int value = -1;
    if (!(in >> value)) {
        return -1;
    }
    return value != 0 ? 1 : 0;
}

int UsbInput::eventBits(int fd, uint8_t* bits, int length) const {
    struct stat open {};
    if (fstat(fd, &open) != 0) {
        return -1;
    }
    for (int slot = 0; slot < kSlots; ++slot) {
        struct stat node {};
        if (::stat(nodePath(slot).c_str(), &node) != 0 || node.st_ino != open.st_ino ||
            node.st_dev != open.st_dev) {
            continue;
        }
        {
            auto held = state_.lock();
            if (state_->bitsFail[slot]) {
                errno = EIO;
                return -1;
            }
        }
        if (length < 0 || (length > 0 && bits == nullptr)) {
            errno = EINVAL;
            return -1;
        }
        // The kernel copies at most the bitmap's size (one long).
        const int filled = std::min(length, static_cast<int>(sizeof(long)));
        memset(bits, 0, static_cast<size_t>(filled));
        const uint8_t* types = slot == kMouse ? kMouseTypes : kKeyboardTypes;
        const int count =
            slot == kMouse ? static_cast<int>(sizeof kMouseTypes) : static_cast<int>(sizeof kKeyboardTypes);
        memcpy(bits, types, static_cast<size_t>(std::min(filled, count)));
        return filled;
    }
    errno = ENOTTY;
    return -1;
}

// A pipe whose node was removed has no links left: the device is gone. A pipe that
// nobody writes at the moment reads as empty, like an idle device.
ssize_t UsbInput::read(int fd, void* buffer, size_t length) {
    const ssize_t n = ::read(fd, buffer, length);
    if (n > 0 || (n < 0 && errno != EAGAIN)) {
        return n;
    }
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        if (st.st_nlink == 0) {
            errno = ENODEV;
            return -1;
        }
        errno = EAGAIN;
        return -1;
    }
    return n;
}

void UsbInput::addStatus(JsonObject& status) const {
    JsonArray devices;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (!plugged(slot)) {
            continue;
        }
        JsonObject d;
        d.add("name", slotName(slot)).add("node", "event" + std::to_string(slot));
        if (isKeyboard(slot)) {
            d.add("capslock", capsLock(slot));
        }
        devices.addRaw(d.str());
    }
    JsonObject o;
    o.addRaw("plugged", devices.str());
    status.addRaw("usb_input", o.str());
}

std::string UsbInput::help() const {
    return kHelp;
}

CommandResult UsbInput::plugCommand(int slot, const std::string& verb) {
    if (verb == "plug") {
        return plug(slot) ? CommandResult{true, slotName(slot) + " plugged in\n"}
                          : CommandResult{false, "cannot plug in " + slotName(slot) + "\n"};
    }
    if (verb == "unplug") {
        unplug(slot);
        return {true, slotName(slot) + " unplugged\n"};
    }
    return usage();
}

CommandResult UsbInput::typeCommand(const std::vector<std::string>& args) {
    if (args.size() < 2 || args.size() % 2 != 0) {
        return usage();
    }
    const int code = keyCodeNamed(args[1]);
    long holdMs = 0;
    int slot = -1;
    int event = -1; // the kernel's value of a single event, or -1 to type the key
    for (size_t i = 2; i + 1 < args.size(); i += 2) {
        if (args[i] == "--hold" && parseInt(args[i + 1], 0, kMaxHoldMs, holdMs)) {
            continue;
        }
        if (args[i] == "--event" && (event = keyEventNamed(args[i + 1])) >= 0) {
            continue;
        }
        if (args[i] == "--on" && (slot = slotNamed(args[i + 1])) >= 0 && slot != kMouse) {
            continue;
        }
        return usage();
    }
    if (code < 0) {
        return {false, "unknown key '" + args[1] + "'\n"};
    }
    for (int s = kKeypad; slot < 0 && s <= kKeyboards; ++s) {
        if (plugged(s)) {
            slot = s;
        }
    }
    if (slot < 0 || !plugged(slot)) {
        return {false, "no keyboard or keypad plugged in\n"};
    }
    if (holdMs > 0 && event >= 0) {
        return usage();
    }
    const bool sent = event >= 0 ? key(slot, static_cast<uint16_t>(code), event)
                                 : type(slot, static_cast<uint16_t>(code), static_cast<int>(holdMs));
    if (!sent) {
        return {false, "nobody reads " + slotName(slot) + ": key lost\n"};
    }
    return {true, (event >= 0 ? std::string(kKeyEvents[event]) + " " : "typed ") + args[1] + " on " +
                      slotName(slot) + "\n"};
}

CommandResult UsbInput::mouseCommand(const std::vector<std::string>& args) {
    if (args.size() == 2 && (args[1] == "plug" || args[1] == "unplug")) {
        return plugCommand(kMouse, args[1]);
    }
    std::vector<input_event> events;
    long value = 0;
    if (args.size() == 3 && args[1] == "wheel" && parseInt(args[2], -100, 100, value)) {
        events = {record(EV_REL, REL_WHEEL, static_cast<int32_t>(value)), record(EV_SYN, SYN_REPORT, 0)};
    } else {
        int code = -1;
        for (const MouseButton& b : kMouseButtons) {
            if (args.size() == 2 && args[1] == b.name) {
                code = b.code;
            }
        }
        if (args.size() == 3 && args[1] == "code" && parseInt(args[2], 1, KEY_MAX, value)) {
            code = static_cast<int>(value);
        }
        if (code < 0) {
            return usage();
        }
        const auto c = static_cast<uint16_t>(code);
        events = {record(EV_KEY, c, 1), record(EV_SYN, SYN_REPORT, 0), record(EV_KEY, c, 0),
                  record(EV_SYN, SYN_REPORT, 0)};
    }
    if (!plugged(kMouse)) {
        return {false, "no mouse plugged in\n"};
    }
    if (!send(kMouse, events)) {
        return {false, "nobody reads the mouse: event lost\n"};
    }
    return {true, "mouse " + args[1] + "\n"};
}

CommandResult UsbInput::faultCommand(const std::vector<std::string>& args) {
    const int slot = args.size() == 4 ? slotNamed(args[2]) : -1;
    if (slot < 0) {
        return usage();
    }
    if (args[1] == "fail-bits" && (args[3] == "on" || args[3] == "off")) {
        failEventBits(slot, args[3] == "on");
        return {true, slotName(slot) + " event-bit query " + (args[3] == "on" ? "fails\n" : "works\n")};
    }
    long count = 0;
    if (args[1] == "garbage" && parseInt(args[3], 1, 4096, count)) {
        if (!sendRaw(slot, std::vector<uint8_t>(static_cast<size_t>(count), kGarbageByte))) {
            return {false, "nobody reads " + slotName(slot) + "\n"};
        }
        return {true, std::to_string(count) + " stray bytes on " + slotName(slot) + "\n"};
    }
    return usage();
}

std::optional<CommandResult> UsbInput::command(const std::vector<std::string>& args) {
    if (args.empty()) {
        return std::nullopt;
    }
    const std::string& cmd = args[0];
    if (cmd == "keypad") {
        return args.size() == 2 ? plugCommand(kKeypad, args[1]) : usage();
    }
    if (cmd == "keyboard") {
        long n = 0;
        return args.size() == 3 && parseInt(args[2], 1, kKeyboards, n)
                   ? plugCommand(static_cast<int>(n), args[1])
                   : usage();
    }
    if (cmd == "key") {
        return typeCommand(args);
    }
    if (cmd == "mouse") {
        return mouseCommand(args);
    }
    if (cmd == "input") {
        return faultCommand(args);
    }
    return std::nullopt;
}

} // namespace sim
