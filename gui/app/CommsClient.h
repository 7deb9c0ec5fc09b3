// The GUI's end of the controller link: a non-blocking UDP socket bound to the GUI's
// port. Replies go back to whatever address the message came from. Used from the GUI
// thread only.
#pragma once

#include <netinet/in.h>

#include "common/CommsMessage.h"

namespace Ostrix {

class CommsClient {
public:
    // Binds 127.0.0.1:port; ends the process when the socket cannot be opened or bound.
    explicit CommsClient(int port);
    ~CommsClient();
    CommsClient(const CommsClient&) = delete;
    CommsClient& operator=(const CommsClient&) = delete;

    // 1 when a message was waiting (decoded into msg, sender in msg->remote), else 0.
    int GetMessage(CommsMessage_t* msg);
    // Sends msg->packet to msg->remote, retrying once at once when the send fails.
    void PutMessage(CommsMessage_t* msg);

private:
    int m_clientFD;
    sockaddr_in local;
};

} // namespace Ostrix
