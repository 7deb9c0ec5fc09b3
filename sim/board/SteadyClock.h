// The simulated board's clock: CLOCK_MONOTONIC in nanoseconds. It is the same in every
// program on the board, so the time stamps the models keep in the shared state (power-on,
// busy-until, rails on since) compare across programs.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

inline int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace sim
