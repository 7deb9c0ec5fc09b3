// Polled one-shot timeouts on CLOCK_MONOTONIC: start one, then ask whether it has run out.
#pragma once

#include <cstdint>
#include <ctime>

// The handle value that names no timer ("-1").
inline timer_t no_timeout() {
    return reinterpret_cast<timer_t>(-1);
}

int create_timeout(timer_t* handle);
// Durations are 64-bit so that a long setting in seconds never wraps into a short or
// negative one; anything longer than MAX_TIMEOUT_MS is held at that.
void start_timeout(const char* identifier, timer_t* handle, int64_t durationms, int debug);
int timeout_expired(timer_t* handle, int restartms, int debug);
void delete_timeout(timer_t* handle);

// The longest duration a timer is armed for: 2^31 - 1 seconds, which a 32-bit time_t
// still holds (about 68 years, i.e. never).
constexpr int64_t MAX_TIMEOUT_MS = int64_t{INT32_MAX} * 1000;

// A duration in seconds (a configuration value) as milliseconds, computed in 64 bits and
// clamped to 0..MAX_TIMEOUT_MS.
int64_t timeout_ms_from_seconds(int64_t seconds);

// The controller and the flash programmer trace timeouts into the log; the GUI prints
// its own time-stamped trace on the console instead.
enum class TimeoutTracing { Log, Console };
void set_timeout_tracing(TimeoutTracing tracing);
