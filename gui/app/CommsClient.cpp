#include "gui/app/CommsClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "gui/app/guiprint.h"

namespace Ostrix {

namespace {

constexpr int SOCKET_FAILURE_EXIT_STATUS = -1;

} // namespace

CommsClient::CommsClient(int port) : m_clientFD(-1), local(loopbackAddress(port)) {
    m_clientFD = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_clientFD < 0) {
        guiError("GUI: Could not open socket");
        exit(SOCKET_FAILURE_EXIT_STATUS);
    }
    if (bind(m_clientFD, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0) {
        guiError("GUI: Could not bind socket");
        exit(SOCKET_FAILURE_EXIT_STATUS);
    }
    fcntl(m_clientFD, F_SETFL, fcntl(m_clientFD, F_GETFL) | O_NONBLOCK);
    guiPrint("GUI: Socket created - Port %d", port);
}

CommsClient::~CommsClient() {
    close(m_clientFD);
}

int CommsClient::GetMessage(CommsMessage_t* msg) {
    MessageWire wire;
    msg->addrlen = sizeof(msg->remote);
    // MSG_TRUNC reports a longer datagram's real size, so it is refused rather than cut.
    const ssize_t received = recvfrom(m_clientFD, wire, sizeof(wire), MSG_DONTWAIT | MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&msg->remote), &msg->addrlen);
    if (received == static_cast<ssize_t>(sizeof(wire))) {
        msg->packet = decodeMessage(wire);
        // Zoom values arrive up to ten times a second.
        if (msg->packet.command != tEV_ZOOMVAL) {
            guiPrint("GUI: recvfrom port %u", unsigned(ntohs(msg->remote.sin_port)));
        }
        return 1;
    }
    const int error = errno;
    if (received < 0 && error != EAGAIN && error != EWOULDBLOCK) {
        guiPrint("GUI: recvfrom %d errno = %d", -1, error);
    }
    return 0;
}

void CommsClient::PutMessage(CommsMessage_t* msg) {
    MessageWire wire;
    encodeMessage(msg->packet, wire);
    int error = 0;
    const auto sendOnce = [&] {
        const ssize_t sent = sendto(m_clientFD, wire, sizeof(wire), 0,
                                    reinterpret_cast<sockaddr*>(&msg->remote), sizeof(msg->remote));
        error = errno;
        return sent;
    };
    ssize_t result = sendOnce();
    std::string line;
    if (result == static_cast<ssize_t>(sizeof(wire))) {
        line = "GUI: sent message";
    } else {
        line = "GUI: Comms error sending message " + std::to_string(result) + " with errno " +
               std::to_string(error);
        result = sendOnce();
        if (result != static_cast<ssize_t>(sizeof(wire))) {
            msg->remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            line += "\nGUI: Comms retry error sending message " + std::to_string(result) + " with errno " +
                    std::to_string(error);
        }
    }
    guiPrint("%s to Port %u", line.c_str(), unsigned(ntohs(msg->remote.sin_port)));
}

} // namespace Ostrix
