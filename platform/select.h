#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/Backend.h"

namespace platform {

// Makes a backend from the environment; on failure returns nullptr and says why in
// `problem`.
using BackendFactory = std::unique_ptr<Backend> (*)(std::string& problem);

// A backend that is not part of the platform layer (the simulated board) makes itself
// known here, from a static initialiser of the library that holds it, so the platform
// never depends on it. Returns true so the call can initialise a static.
bool registerBackend(std::string_view name, BackendFactory factory);

// The backend named by OSTRIX_PLATFORM; on a Raspberry Pi with nothing set, the Linux
// one. Anything else ends the process with a message that says how to run on the
// simulated board.
std::unique_ptr<Backend> makeBackendFromEnvironment();

// Whether makeBackendFromEnvironment() would find a backend to make.
bool environmentNamesBackend();

} // namespace platform
