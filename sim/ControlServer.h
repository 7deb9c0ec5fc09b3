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

class ControlServer {
public:
    // nullptr when the socket cannot be served (another live program serves it, or the
    // path is too long for a Unix socket).
    static std::unique_ptr<ControlServer> start(const std::string& socketPath, Board& board);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

private:
    ControlServer(std::string path, int fd, Board& board);
    void serve();
    void handle(int client);

    std::string path_;
    int fd_;
    Board& board_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Sends one command; false when no program serves the socket.
bool sendControlCommand(const std::string& socketPath, const std::vector<std::string>& args,
                        CommandResult& result);

} // namespace sim
