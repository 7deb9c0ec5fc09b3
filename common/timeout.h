// Polled one-shot timeouts on CLOCK_MONOTONIC: start one, then ask whether it has run out.
#pragma once

#include <ctime>

// The handle value that names no timer ("-1").
inline timer_t no_timeout() {
    return reinterpret_cast<timer_t>(-1);
}

int create_timeout(timer_t* handle);
void start_timeout(const char* identifier, timer_t* handle, int durationms, int debug);
int timeout_expired(timer_t* handle, int restartms, int debug);
void delete_timeout(timer_t* handle);

// The controller and the flash programmer trace timeouts into the log; the GUI prints
// its own time-stamped trace on the console instead.
enum class TimeoutTracing { Log, Console };
void set_timeout_tracing(TimeoutTracing tracing);
