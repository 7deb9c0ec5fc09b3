// Messages from the controller's main thread to the GUI. They are queued for the
// front-panel worker, which is the only user of the GUI link socket.
#pragma once

#include <cstdint>

// Result of queuing when there is no front-panel object to queue with.
constexpr int GUI_QUEUE_UNAVAILABLE = -1;

// Queues one message. Returns 0 when queued, non-zero when it was not (full transmit
// queue, or GUI_QUEUE_UNAVAILABLE without a front-panel object).
int queue_gui_message(uint32_t command, uint32_t data);

// Shows message number `index` (MESS_...) on the overlay for `seconds`; 0 clears it.
int display_message(uint32_t index, int seconds);
