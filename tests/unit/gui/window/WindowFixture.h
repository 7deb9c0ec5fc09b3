// What the window tests share: the one Qt application of the process, the event loop run
// until something happens, and the controller's end of the link.
#pragma once

#include <QApplication>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "common/messages.h"
#include "tests/unit/link/UdpPeer.h"

// Kept for the whole process: Qt's offscreen platform does not free all of its screen
// objects when the application object goes.
inline QApplication& application() {
    static int argc = 1;
    static char name[] = "Ostrix_Gui_test";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until the condition holds; false after waitMs.
inline bool runEventsUntil(const std::function<bool()>& condition, int waitMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The controller's end of the link on 127.0.0.1 (any free port unless given): it sends to
// the GUI's port and reads, without waiting, what came back.
class ControllerEnd : public UdpPeer {
public:
    using UdpPeer::UdpPeer;
    void send(uint32_t command, uint32_t data = 0) const { sendMessage(GUI_PORT, command, data); }
    std::optional<std::vector<uint8_t>> poll() const {
        std::optional<Datagram> datagram = receive(0);
        return datagram ? std::optional(datagram->bytes) : std::nullopt;
    }
    std::optional<message_s> pollMessage() const {
        const std::optional<std::vector<uint8_t>> bytes = poll();
        return bytes && bytes->size() == MESSAGE_WIRE_SIZE ? std::optional(decodeMessage(bytes->data()))
                                                           : std::nullopt;
    }
};
