#include "sim/camera/CameraLink.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "sim/board/Board.h"
#include "sim/board/SteadyClock.h"
#include "sim/board/Trace.h"
#include "sim/camera/CameraBoardModel.h"
#include "sim/camera/CameraProtocol.h"

namespace sim {

namespace {

// The link wakes at once for the controller's bytes; between them it looks at the board (a
// plug, an unplug) this often, and at the short period while babble or a late reply is due.
constexpr int kIdlePollMs = 50;
constexpr int kPollMs = 10;
// A late reply comes after the short queries' timeouts (0.1 s and 1 s) have passed.
constexpr long kDefaultLateMs = 1500;
constexpr int kLockRetryMs = 100;
constexpr int kWriteRetries = 100; // 1 ms apart: a reader that does not read loses the reply
constexpr size_t kReadChunk = 4096;
constexpr const char* kLockFile = "camera-link.lock";
constexpr const char* kByIdFolder = "/dev/serial/by-id/";
constexpr char kBabble[] = "~~~~~~~~~~~~~~~~";
// 8 data bits, parity, start and stop bit at the link's 115200 baud.
constexpr double kBitsPerByte = 11.0;
constexpr double kBaud = 115200.0;

constexpr int64_t kNsPerMs = 1000000;

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const char* speedName(speed_t s) {
    switch (s) {
    case B9600:
        return "9600";
    case B19200:
        return "19200";
    case B38400:
        return "38400";
    case B57600:
        return "57600";
    case B115200:
        return "115200";
    case B230400:
        return "230400";
    default:
        return "other";
    }
}

// The links this program serves. A program's board lives until the process ends, so
// its links are shut down at exit: a link never outlives the program serving it. Kept
// for the whole process (never destroyed) so that exit handlers can still use them.
std::mutex& liveLinksMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}
std::set<CameraLink*>& liveLinks() {
    static auto* links = new std::set<CameraLink*>;
    return *links;
}
void shutDownLinksAtExit() {
    std::lock_guard<std::mutex> lock(liveLinksMutex());
    for (CameraLink* link : liveLinks()) {
        link->shutdown();
    }
}

} // namespace

CameraLink::CameraLink(Board& board, CameraBoardModel& model)
    : board_(board), model_(model), lockPath_(board.volatilePath(kLockFile)),
      linkPath_(board.path(kByIdFolder) + model.linkName()),
      lateMs_(static_cast<int>(board.config().getInt("camera.late_ms", kDefaultLateMs))), owner_(getpid()),
      thread_([this] { run(); }) {
    static const bool registered = std::atexit(shutDownLinksAtExit) == 0;
    (void)registered;
    std::lock_guard<std::mutex> lock(liveLinksMutex());
    liveLinks().insert(this);
}

CameraLink::~CameraLink() {
    {
        std::lock_guard<std::mutex> lock(liveLinksMutex());
        liveLinks().erase(this);
    }
    shutdown();
}

void CameraLink::shutdown() {
    if (!thread_.joinable()) {
        return;
    }
    if (getpid() != owner_) {
        // A forked child (a death test) holds a copy of the parent's link whose thread does
        // not exist here: the parent keeps serving, the child must not wait for it.
        static auto* orphans = new std::vector<std::thread>;
        orphans->push_back(std::move(thread_));
        return;
    }
    stop_ = true;
    thread_.join();
}

bool CameraLink::takeHostLock() {
    int fd = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    lockFd_ = fd;
    // A link left behind by a program that died names a pseudo-terminal that is gone
    // (or now belongs to someone else).
    unlink(linkPath_.c_str());
    model_.setHost(true);
    return true;
}

void CameraLink::run() {
    while (!stop_) {
        if (lockFd_ < 0 && !takeHostLock()) {
            sleepMs(kLockRetryMs);
            continue;
        }
        uint64_t seen = 0;
        bool up = model_.update(&seen);
        if (up && master_ < 0) {
            openPty();
        } else if (!up && master_ >= 0) {
            closePty();
        }
        model_.acknowledge(seen);
        if (master_ >= 0) {
            serve(babbleUntilNs_ != 0 || !lateReply_.empty() ? kPollMs : kIdlePollMs);
        } else {
            sleepMs(kIdlePollMs);
        }
    }
    closePty();
    if (lockFd_ >= 0) {
        model_.setHost(false);
        close(lockFd_);
        lockFd_ = -1;
    }
}

void CameraLink::openPty() {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[PATH_MAX];
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        if (master >= 0) {
            close(master);
        }
        board_.trace().note(TraceKind::Serial, -1, "camera link: no pseudo-terminal");
        return;
    }
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        return;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    unlink(linkPath_.c_str());
    if (symlink(name, linkPath_.c_str()) != 0) {
        close(slave);
        close(master);
        board_.trace().note(TraceKind::Serial, -1, "camera link: cannot create " + linkPath_);
        return;
    }
    master_ = master;
    slave_ = slave;
    babbleUntilNs_ = 0;
    parser_ = CameraLineParser{};
    model_.setLink(true, linkPath_);
    board_.trace().note(TraceKind::Serial, -1, std::string("camera link up: ") + name);
}

void CameraLink::closePty() {
    if (master_ < 0) {
        return;
    }
    unlink(linkPath_.c_str());
    close(slave_);
    close(master_);
    slave_ = master_ = -1;
    model_.setLink(false, "");
    board_.trace().note(TraceKind::Serial, -1, "camera link down");
}

// The framing the controller gave its port: data and stop bits as the pseudo-terminal
// keeps them, the parity as the board model keeps it.
SerialFraming CameraLink::hostFraming() const {
    termios t{};
    SerialFraming framing;
    if (tcgetattr(slave_, &t) == 0) {
        framing = SerialFraming::fromTermios(t);
    }
    const std::string parity = model_.parity();
    framing.parity = parity == "even" ? Parity::Even : parity == "odd" ? Parity::Odd : Parity::None;
    return framing;
}

// The line settings the controller gave the port. A pseudo-terminal always runs 8 data
// bits without parity whatever it is told; the parity comes from the board model.
std::string CameraLink::describeLine() const {
    termios t{};
    if (tcgetattr(slave_, &t) != 0) {
        return "unknown";
    }
    std::string line = speedName(cfgetospeed(&t));
    if (cfgetispeed(&t) != cfgetospeed(&t)) {
        line += std::string("/") + speedName(cfgetispeed(&t));
    }
    std::string parity = model_.parity();
    if (parity != "none") {
        line += " " + parity;
    }
    if (t.c_cflag & CSTOPB) {
        line += " 2-stop";
    }
    if (t.c_cflag & CRTSCTS) {
        line += " rtscts";
    }
    if (t.c_iflag & (IXON | IXOFF | IXANY)) {
        line += " xonxoff";
    }
    if (t.c_lflag & (ICANON | ECHO | ECHOE | ISIG)) {
        line += " cooked";
    }
    if (t.c_oflag & OPOST) {
        line += " opost";
    }
    return line;
}

void CameraLink::reply(const std::string& bytes) {
    if (bytes.empty()) {
        return;
    }
    size_t done = 0;
    for (int tries = 0; done < bytes.size() && tries < kWriteRetries; ++tries) {
        ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return;
        }
        sleepMs(1);
    }
}

void CameraLink::serve(int waitMs) {
    pollfd p{master_, POLLIN, 0};
    int ready = poll(&p, 1, waitMs);
    if (babbleUntilNs_ != 0) {
        if (nowNs() < babbleUntilNs_) {
            ssize_t ignored = write(master_, kBabble, sizeof kBabble - 1);
            (void)ignored;
        } else {
            babbleUntilNs_ = 0;
        }
    }
    if (!lateReply_.empty() && nowNs() >= lateAtNs_) {
        reply(lateReply_);
        board_.trace().note(TraceKind::Serial, -1, "late reply sent");
        lateReply_.clear();
    }
    if (ready <= 0 || !(p.revents & POLLIN)) {
        return;
    }
    uint8_t buf[kReadChunk];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) {
        return;
    }
    // Byte by byte: "UB" hands the link to the boot loader mid-stream, and GO hands it back.
    std::string bootReply;
    const SerialFraming framing = hostFraming();
    for (ssize_t i = 0; i < n; ++i) {
        if (model_.bootLoaderByte(buf[i], bootReply, framing)) {
            continue;
        }
        reply(bootReply);
        bootReply.clear();
        std::vector<CameraCommand> commands;
        parser_.feed(buf + i, 1, commands);
        for (const auto& cmd : commands) {
            serveCommand(cmd);
        }
    }
    reply(bootReply);
}

void CameraLink::serveCommand(const CameraCommand& cmd) {
    std::string line = describeLine();
    std::string bytes = model_.handle(cmd, line, babbleUntilNs_);
    if (model_.takeLateReply()) {
        lateReply_ = bytes;
        lateAtNs_ = nowNs() + static_cast<int64_t>(lateMs_) * kNsPerMs;
        bytes.clear();
    }
    // Recorded before the reply goes out: once the controller has its reply, the
    // trace already shows the exchange.
    TraceEntry e;
    e.kind = TraceKind::Serial;
    e.out = cmd.raw;
    e.in.assign(bytes.begin(), bytes.end());
    e.text = cmd.text + " [" + line + "]";
    e.busSeconds = static_cast<double>(cmd.raw.size() + bytes.size()) * kBitsPerByte / kBaud;
    board_.trace().record(std::move(e));
    reply(bytes);
}

} // namespace sim
