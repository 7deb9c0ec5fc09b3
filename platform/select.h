#pragma once

#include <memory>

#include "platform/Backend.h"

namespace platform {

// The backend named by OSTRIX_PLATFORM; on a Raspberry Pi with nothing set, the Linux
// one. Anything else ends the process with a message that says how to run on the
// simulated board.
std::unique_ptr<Backend> makeBackendFromEnvironment();

} // namespace platform
