// The transport side of the controller-GUI link: a message with its peer address and the
// two fixed UDP ports on the loop-back interface through which the programs find each other.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

#include "common/messages.h"

// A message together with its peer: the sender of a received message, or the destination
// of a GUI reply.
struct CommsMessage_t {
    message_s packet;
    socklen_t addrlen;
    sockaddr_in remote;
};

// Endpoints: everything runs on 127.0.0.1.
constexpr const char* COMMS_LOCAL_ADDRESS = "127.0.0.1";
constexpr int CONTROLLER_PORT = 34209;
constexpr int GUI_PORT = 1530;

// The IPv4 socket address 127.0.0.1:port.
inline sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}
