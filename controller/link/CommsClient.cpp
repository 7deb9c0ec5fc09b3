#include "controller/link/CommsClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "common/logfile.h"

namespace {

constexpr int BIND_FAILURE_EXIT_STATUS = 1;

sockaddr_in ipv4Address(const char* address, int port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &result.sin_addr);
    return result;
}

} // namespace

CommsClient::CommsClient(const char* address, int port) : m_clientFD(-1), local{} {
    m_clientFD = socket(AF_INET, SOCK_DGRAM, 0);
    if (m_clientFD < 0) {
        fprintf(stderr, "\e[38;5;196mCC: ERROR: Could not create client socket\e[38;5;248m\n");
        return;
    }
    local = ipv4Address(address, CONTROLLER_PORT);
    if (bind(m_clientFD, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0) {
        perror("bind");
        fprintf(stderr, "\e[38;5;196mCC: ERROR: Could not bind socket\e[38;5;248m\n");
        exit(BIND_FAILURE_EXIT_STATUS);
    }
    local = ipv4Address(address, port);
    if (connect(m_clientFD, reinterpret_cast<sockaddr*>(&local), sizeof(local)) < 0) {
        logprintf("\e[38;5;196mCC: ERROR: Client socket connect failed\e[38;5;248m\n");
    } else {
        logprintf("CC: Client Socket connected, port %d\n", port);
    }
    fcntl(m_clientFD, F_SETFL, fcntl(m_clientFD, F_GETFL) | O_NONBLOCK);
}

CommsClient::~CommsClient() {
    if (m_clientFD >= 0) {
        close(m_clientFD);
    }
}

void CommsClient::PutMessage(CommsMessage_t* msg) {
    if (m_clientFD < 0) {
        return;
    }
    MessageWire wire;
    encodeMessage(msg->packet, wire);
    // Nobody may be listening yet (the GUI starts later): the message is then lost.
    send(m_clientFD, wire, sizeof(wire), 0);
    if (msg->packet.command != tEV_ZOOMVAL) {
        logprintf("CC: Sent message to port %d\n", ntohs(local.sin_port));
    }
}

int CommsClient::GetMessage(CommsMessage_t* msg) {
    if (m_clientFD < 0) {
        return 0;
    }
    MessageWire wire;
    msg->addrlen = sizeof(msg->remote);
    // MSG_TRUNC reports a longer datagram's real size, so it is refused rather than cut.
    const ssize_t received = recvfrom(m_clientFD, wire, sizeof(wire), MSG_DONTWAIT | MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&msg->remote), &msg->addrlen);
    if (received == static_cast<ssize_t>(sizeof(wire))) {
        logprintf("CC: recvfrom port %d\n", ntohs(msg->remote.sin_port));
        msg->packet = decodeMessage(wire);
        return 1;
    }
    if (received < 0) {
        // ECONNREFUSED only says that an earlier message found no GUI listening.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNREFUSED) {
            logprintf("CC: ERROR: recvfrom() error number %d\n", errno);
        }
    } else if (received > 0) {
        logprintf("CC: ERROR: recvfrom() got wrong size %d\n", static_cast<int>(received));
    }
    return 0;
}
