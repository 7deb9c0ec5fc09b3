// The controller's end of the GUI link: a non-blocking UDP socket bound to the
// controller's fixed port and connected to the GUI's port. Only the front-panel worker
// thread uses it.
#pragma once

#include <netinet/in.h>

#include "common/CommsMessage.h"

class CommsClient {
public:
    // Binds address:CONTROLLER_PORT and connects to address:port. A socket that cannot be
    // created leaves the link silent; a port that cannot be bound ends the process.
    CommsClient(const char* address, int port);
    ~CommsClient();
    CommsClient(const CommsClient&) = delete;
    CommsClient& operator=(const CommsClient&) = delete;

    // Sends the 8 bytes of msg->packet to the GUI; a message nobody receives is lost.
    void PutMessage(CommsMessage_t* msg);
    // 1 when a message was waiting (decoded into msg, sender in msg->remote), else 0.
    int GetMessage(CommsMessage_t* msg);

private:
    int m_clientFD;
    sockaddr_in local;
};
