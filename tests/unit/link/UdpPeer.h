// A plain UDP socket on 127.0.0.1 that plays the other end of the link in tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/CommsMessage.h"

struct Datagram {
    std::vector<uint8_t> bytes;
    int sourcePort;
};

class UdpPeer {
public:
    // Binds 127.0.0.1:port (0 = any free port).
    explicit UdpPeer(int port = 0) : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in address = loopbackAddress(port);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) < 0) {
            throw std::runtime_error("test peer cannot bind its port");
        }
    }
    ~UdpPeer() { close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    int port() const {
        sockaddr_in address{};
        socklen_t length = sizeof(address);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    void sendTo(int port, const std::vector<uint8_t>& bytes) const {
        sockaddr_in address = loopbackAddress(port);
        sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    }

    void sendMessage(int port, uint32_t command, uint32_t data) const {
        uint8_t wire[MESSAGE_WIRE_SIZE];
        encodeMessage(message_s{command, data}, wire);
        sendTo(port, std::vector<uint8_t>(wire, wire + MESSAGE_WIRE_SIZE));
    }

    // The next datagram, waiting at most waitMs for it.
    std::optional<Datagram> receive(int waitMs = 2000) const {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, waitMs) != 1) {
            return std::nullopt;
        }
        uint8_t buffer[64];
        sockaddr_in from{};
        socklen_t length = sizeof(from);
        const ssize_t n =
            recvfrom(fd_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) {
            return std::nullopt;
        }
        return Datagram{std::vector<uint8_t>(buffer, buffer + n), ntohs(from.sin_port)};
    }

private:
    int fd_;
};

// Polls a link end until it delivers a message (loop-back delivery is immediate, but a
// loaded machine may schedule the sender late).
template <typename Client> int getMessageSoon(Client& client, CommsMessage_t* msg) {
    for (int attempt = 0; attempt < 2000; ++attempt) {
        if (client.GetMessage(msg) == 1) {
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

// What an action prints on standard output (captured so that a failing assertion
// afterwards cannot leave the capture open).
inline std::string printedBy(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}
