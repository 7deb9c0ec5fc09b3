// The board's control socket: ostrix-sim sends a command, the program hosting the board
// runs it on its in-process models and answers.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sim {

class Board;
struct CommandResult;

// Every program on the board offers to serve; the one holding the lock file beside the
// socket serves, and when it ends another takes over within a moment.
class ControlServer {
public:
    // nullptr when the path is too long for a Unix socket or the lock file cannot be made.
    static std::unique_ptr<ControlServer> start(const std::string& socketPath, Board& board);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    bool serving() const { return listenFd_.load() >= 0; }

private:
    ControlServer(std::string path, int lockFd, Board& board);
    void run();
    bool tryToServe();
    void acceptOne();
    void handle(int client);

    std::string path_;
    int lockFd_;
    std::atomic<int> listenFd_{-1};
    Board& board_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Sends one command; false when no program serves the socket.
bool sendControlCommand(const std::string& socketPath, const std::vector<std::string>& args,
                        CommandResult& result);

} // namespace sim
