// The camera board's USB serial link: a pseudo-terminal whose slave is linked as
// "<root>/dev/serial/by-id/usb-Marovec_<product>_Camera_Board_..." while the board is
// present and booted. One thread in one program on the board serves it; programs take
// turns through a lock file, so the link stays served while any of them runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/camera/CameraProtocol.h"
#include "sim/camera/SerialFraming.h"

namespace sim {

class Board;
class CameraBoardModel;

class CameraLink {
public:
    CameraLink(Board& board, CameraBoardModel& model);
    ~CameraLink();
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    // Stops serving: the link goes away and another program may take it over.
    void shutdown();

private:
    void run();
    bool takeHostLock();
    void openPty();
    void closePty();
    void serve(int waitMs);
    void reply(const std::string& bytes);
    void serveCommand(const CameraCommand& cmd);
    std::string describeLine() const;
    SerialFraming hostFraming() const;

    Board& board_;
    CameraBoardModel& model_;
    std::string lockPath_;
    std::string linkPath_;
    int lockFd_ = -1;
    int master_ = -1;
    int slave_ = -1; // held open so the tty keeps its settings between the controller's opens
    CameraLineParser parser_;
    int64_t babbleUntilNs_ = 0;
    std::string lateReply_; // a reply held back by the Late fault, due at lateAtNs_
    int64_t lateAtNs_ = 0;
    const int lateMs_;
    const int owner_; // the process whose thread serves the link
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace sim
