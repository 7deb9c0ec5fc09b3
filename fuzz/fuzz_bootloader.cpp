// Feeds arbitrary bytes to the controller as the replies of the camera board's serial boot
// loader (ACK, NACK, counts and data), through a pseudo-terminal linked where the
// controller looks for the board. The first byte gives the number of commands, the next
// bytes pick them (GET, GET_VERSION, GET_ID, READ_MEM, WRITE_MEM, EXTENDED_ERASE, GO and
// their lengths); the rest is what the boot loader answers. Each command's result must be
// the one its replies call for, READ_MEM must hand back exactly the bytes that came, and
// nothing may crash, overrun its buffer or wait for bytes that never come.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controller/camera/CameraBoard.h"
#include "controller/camera/CameraUpdate.h"
#include "fuzz/FuzzHarness.h"
#include "sim/board/Board.h"

namespace {

constexpr const char* kNoLogFolder = "./fuzz-bootloader-no-log-folder";
constexpr const char* kPortLink = "/dev/serial/by-id/usb-Marovec_Ostrix_Camera_Board_fuzz-if00";
constexpr size_t kMaxCommands = 8;
// What the terminal's input queue holds at once without a reader.
constexpr size_t kMaxReplyBytes = 2048;
constexpr int kDeliveryPolls = 1000;
constexpr auto kDeliveryPoll = std::chrono::microseconds(100);

constexpr uint8_t kCommands[] = {BL_GET,       BL_GET_VERSION,  BL_GET_ID, BL_READ_MEM,
                                 BL_WRITE_MEM, BL_EXTEND_ERASE, BL_GO};
constexpr size_t kCommandCount = sizeof kCommands;
constexpr uint32_t kFlashAddress = STM32F072_FLASH_BASE;
constexpr unsigned kLengthChoices = 32;

// The controller's stand-in for the board: a terminal pair, the slave linked as the
// board's port in a system root of the run's own, and the controller's board object.
struct Link {
    std::string root;
    int master = -1;
    int slave = -1; // keeps the terminal and its settings between the controller's opens
    std::unique_ptr<CameraBoard> camera;
};

// The system root the harness's link lives in, set for the duration of one input (the
// suite's fixture has a root, and a board, of its own).
class RootInUse {
public:
    explicit RootInUse(const std::string& root) {
        const char* before = getenv("OSTRIX_SYSROOT");
        had_ = before != nullptr;
        previous_ = before ? before : "";
        setenv("OSTRIX_SYSROOT", root.c_str(), 1);
    }
    ~RootInUse() {
        if (had_) {
            setenv("OSTRIX_SYSROOT", previous_.c_str(), 1);
        } else {
            unsetenv("OSTRIX_SYSROOT");
        }
    }
    RootInUse(const RootInUse&) = delete;
    RootInUse& operator=(const RootInUse&) = delete;

private:
    bool had_ = false;
    std::string previous_;
};

std::string makeRoot() {
    const std::string root = fuzz::boardRoot("bootloader");
    // The simulated camera would link a port of its own beside the harness's.
    sim::BoardConfig config = sim::BoardConfig::load(sim::Board::configPath(root));
    config.set("camera.fitted", "0");
    if (!config.save(sim::Board::configPath(root))) {
        abort();
    }
    if (!getenv("OSTRIX_PLATFORM")) {
        setenv("OSTRIX_PLATFORM", "sim", 1);
    }
    return root;
}

void openTerminal(Link& link) {
    link.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (link.master < 0 || grantpt(link.master) != 0 || unlockpt(link.master) != 0) {
        abort();
    }
    const std::string slaveName = ptsname(link.master);
    link.slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (link.slave < 0) {
        abort();
    }
    fcntl(link.master, F_SETFL, fcntl(link.master, F_GETFL) | O_NONBLOCK);
    const std::filesystem::path port = link.root + kPortLink;
    std::filesystem::create_directories(port.parent_path());
    std::filesystem::create_symlink(slaveName, port);
}

Link& link() {
    static Link* const made = [] {
        auto* l = new Link;
        l->root = makeRoot();
        RootInUse inUse(l->root);
        // Made before the port exists: the board object's start-up queries find none.
        l->camera = std::make_unique<CameraBoard>(nullptr, nullptr, nullptr);
        CameraBoard::Waits waits;
        waits.powerUpMs = 0;
        waits.wakeOpenMs = 0;
        waits.wakeSettleMs = 0;
        waits.bootPauseMs = 0;
        waits.restartMs = 0;
        l->camera->setWaits(waits);
        l->camera->setCameraRail([](bool) {});
        openTerminal(*l);
        return l;
    }();
    return *made;
}

// Raw bytes, and a read that returns at once when none are left: a boot loader that
// stops answering ends the command without the controller's waits.
void rawWithoutWaiting(int fd) {
    termios tty{};
    if (tcgetattr(fd, &tty) != 0) {
        abort();
    }
    cfmakeraw(&tty);
    tty.c_cc[VMIN] = 0;
    tty.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tty);
}

void drainSent(int master) {
    uint8_t sink[4096];
    while (read(master, sink, sizeof sink) > 0) {
    }
}

// Hands the replies to the terminal and waits until all of them can be read.
void deliver(const Link& l, const uint8_t* replies, size_t n) {
    if (n > 0 && write(l.master, replies, n) != static_cast<ssize_t>(n)) {
        abort();
    }
    for (int poll = 0; poll < kDeliveryPolls; ++poll) {
        int queued = 0;
        if (ioctl(l.slave, FIONREAD, &queued) == 0 && static_cast<size_t>(queued) >= n) {
            return;
        }
        std::this_thread::sleep_for(kDeliveryPoll);
    }
    abort();
}

// The boot loader's side of the exchanges, as the controller must read it.
class Replies {
public:
    Replies(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int next() { return at_ < size_ ? data_[at_++] : -1; }
    const uint8_t* here() const { return data_ + at_; }
    cmd_results_t ack() {
        const int c = next();
        return c < 0 ? CMD_TIMEOUT : c == BL_ACK ? CMD_OK : CMD_FAILED;
    }
    bool skip(size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (next() < 0) {
                return false;
            }
        }
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

cmd_results_t expected(uint8_t command, uint16_t count, Replies& r, std::vector<uint8_t>& readData) {
    cmd_results_t res = r.ack();
    if (res != CMD_OK) {
        return res;
    }
    if (command == BL_READ_MEM || command == BL_GO || command == BL_WRITE_MEM) {
        res = r.ack();
        if (res != CMD_OK || command == BL_GO) {
            return res;
        }
    }
    if (command == BL_GET || command == BL_GET_VERSION || command == BL_GET_ID) {
        const int n = r.next();
        if (n < 0 || !r.skip(static_cast<size_t>(n) + 1)) {
            return CMD_FAILED;
        }
    } else if (command == BL_READ_MEM) {
        res = r.ack();
        if (res != CMD_OK) {
            return res;
        }
        const uint8_t* first = r.here();
        if (!r.skip(count)) {
            return CMD_FAILED;
        }
        readData.assign(first, first + count);
        return CMD_OK;
    }
    return r.ack();
}

uint16_t countFor(uint8_t command, unsigned choice) {
    if (command == BL_EXTEND_ERASE) {
        return choice + 1 == kLengthChoices ? BL_MASS_ERASE
                                            : static_cast<uint16_t>(choice % BL_MAX_ERASE_PAGES + 1);
    }
    if (command == BL_READ_MEM || command == BL_WRITE_MEM) {
        return static_cast<uint16_t>(BL_MAX_BLOCK - choice * (BL_MAX_BLOCK / kLengthChoices));
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietLogAndConsole(kNoLogFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    Link& l = link();
    RootInUse inUse(l.root);
    const size_t commands = std::min<size_t>(data[0] % kMaxCommands + 1, size - 1);
    const uint8_t* picks = data + 1;
    const uint8_t* replies = picks + commands;
    const size_t replyBytes = std::min(size - 1 - commands, kMaxReplyBytes);

    if (!l.camera->OpenPort(false)) {
        abort();
    }
    rawWithoutWaiting(l.slave);
    tcflush(l.slave, TCIOFLUSH);
    drainSent(l.master);
    deliver(l, replies, replyBytes);

    Replies model(replies, replyBytes);
    for (size_t i = 0; i < commands; ++i) {
        const uint8_t command = kCommands[picks[i] % kCommandCount];
        const uint16_t count = countFor(command, (picks[i] / kCommandCount) % kLengthChoices);
        // Exactly as long as the command needs, so that a read past it is caught.
        std::vector<uint8_t> buffer(command == BL_EXTEND_ERASE && count >= BL_FIRST_SPECIAL_ERASE ? 0 : count,
                                    static_cast<uint8_t>(i));
        std::vector<uint8_t> wanted;
        const cmd_results_t want = expected(command, count, model, wanted);
        const cmd_results_t got = l.camera->SendBootModeCommand(command, kFlashAddress, count,
                                                                buffer.empty() ? nullptr : buffer.data());
        drainSent(l.master);
        if (got != want || (command == BL_READ_MEM && got == CMD_OK && buffer != wanted)) {
            abort();
        }
        if (got != CMD_OK) {
            break; // the controller gives up an update at its first failed command
        }
    }
    l.camera->ClosePort(false);
    return 0;
}
