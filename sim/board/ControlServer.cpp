#include "sim/board/ControlServer.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sim/board/Board.h"

namespace sim {

namespace {

constexpr int kPollMs = 100;
constexpr int kTakeOverPollMs = 250;
constexpr int kBacklog = 4;
constexpr int kClientTimeoutSeconds = 5;
// How long ostrix-sim waits for the serving program's answer: a full eyepiece snapshot by a
// program under user-mode emulation (the cross builds' demo) takes well over 5 s.
constexpr int kReplyTimeoutSeconds = 60;
constexpr size_t kMaxRequest = 64 * 1024;
constexpr char kOk = '0';
constexpr char kFailed = '1';

bool makeAddress(const std::string& path, sockaddr_un& addr) {
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int connectTo(const std::string& path) {
    sockaddr_un addr{};
    if (!makeAddress(path, addr)) {
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void setTimeouts(int fd, int seconds = kClientTimeoutSeconds) {
    timeval tv{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        // A client that went away must not end the program hosting the board.
        ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Reads until the peer closes its side, at most `limit` bytes.
bool readAll(int fd, std::string& data, size_t limit) {
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.append(buf, static_cast<size_t>(n));
        if (data.size() > limit) {
            return false;
        }
    }
}

} // namespace

std::unique_ptr<ControlServer> ControlServer::start(const std::string& socketPath, Board& board) {
    sockaddr_un addr{};
    if (!makeAddress(socketPath, addr)) {
        return nullptr;
    }
    int lockFd = open((socketPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0) {
        return nullptr;
    }
    return std::unique_ptr<ControlServer>(new ControlServer(socketPath, lockFd, board));
}

ControlServer::ControlServer(std::string path, int lockFd, Board& board)
    : path_(std::move(path)), lockFd_(lockFd), board_(board) {
    tryToServe(); // at once, so a program that starts first serves from its first moment
    thread_ = std::thread([this] { run(); });
}

ControlServer::~ControlServer() {
    stop_ = true;
    thread_.join();
    if (int fd = listenFd_.exchange(-1); fd >= 0) {
        unlink(path_.c_str());
        close(fd);
    }
    close(lockFd_); // releases the lock: another program takes over
}

// Serves once this program holds the lock; the lock dies with its holder.
bool ControlServer::tryToServe() {
    if (flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    sockaddr_un addr{};
    makeAddress(path_, addr);
    unlink(path_.c_str()); // left behind by a program that ended
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, kBacklog) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        flock(lockFd_, LOCK_UN);
        return false;
    }
    listenFd_ = fd;
    return true;
}

void ControlServer::run() {
    while (!stop_) {
        if (!serving() && !tryToServe()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kTakeOverPollMs));
            continue;
        }
        acceptOne();
    }
}

void ControlServer::acceptOne() {
    pollfd p{listenFd_.load(), POLLIN, 0};
    if (poll(&p, 1, kPollMs) <= 0) {
        return;
    }
    int client = accept4(p.fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
        handle(client);
        close(client);
    }
}

void ControlServer::handle(int client) {
    setTimeouts(client);
    std::string request;
    if (!readAll(client, request, kMaxRequest)) {
        writeAll(client, std::string(1, kFailed) + "request too long or cut off\n");
        return;
    }
    std::vector<std::string> args;
    size_t start = 0;
    while (start < request.size()) {
        size_t end = request.find('\0', start);
        if (end == std::string::npos) {
            end = request.size();
        }
        args.push_back(request.substr(start, end - start));
        start = end + 1;
    }
    CommandResult result = board_.execute(args);
    writeAll(client, std::string(1, result.ok ? kOk : kFailed) + result.text);
}

bool sendControlCommand(const std::string& socketPath, const std::vector<std::string>& args,
                        CommandResult& result) {
    int fd = connectTo(socketPath);
    if (fd < 0) {
        return false;
    }
    setTimeouts(fd, kReplyTimeoutSeconds);
    std::string request;
    for (const auto& a : args) {
        request += a;
        request += '\0';
    }
    std::string reply;
    bool ok = writeAll(fd, request) && shutdown(fd, SHUT_WR) == 0 && readAll(fd, reply, SIZE_MAX);
    close(fd);
    if (!ok || reply.empty()) {
        result = {false, "no answer from the board's control socket\n"};
        return true;
    }
    result = {reply[0] == kOk, reply.substr(1)};
    return true;
}

} // namespace sim
